// Which sensor is attached and which firmware it runs.
#pragma once

#include <cstdint>

#include "platform/hid.h"

enum SensorKind : uint16_t {
    kSensorFamily0 = 0,  // product 0x0090, image A
    kSensorFamily1 = 1,  // product 0x00E6, image B
    kSensorNone = 2,     // no sensor, or family undetermined
};

constexpr uint16_t kValueNotRead = 0xFFFF;

struct SensorInfo {
    uint16_t kind;
    uint16_t firmwareVersion;
    uint16_t report5Word;
    uint16_t report6Word;
    // The product the sensor was found under: a normal-mode product, or the boot loader's
    // (whose family only the products met can tell); 0 when none was found.
    uint16_t productId = 0;
    // The USB port it was found at (plat_hid_port); "" when none was found or the platform
    // could not tell.
    char port[kHidPortCapacity] = {};
};

// Fills every value (kind 2 and 0xFFFF for what was not read, product 0 without a sensor).
// Returns false when no sensor was found or when a family-1 sensor's report-6 read failed.
bool IdentifySensor(SensorInfo* info);
// As IdentifySensor, from what the bus tells alone: no report is sent or read (the report
// words stay 0xFFFF).
bool LocateSensor(SensorInfo* info);
// Waits for the sensor to come back in normal mode at `port` (up to 60 one-second
// attempts) and reads its version; writes only the outputs it has a value for. True when
// found.
bool ReadFirmwareVersion(uint16_t kind, const char* port, uint16_t* firmwareVersion,
                         uint16_t* report6Word, uint16_t* report5Word);

// Whether the record of the products met names `normalProduct`'s family and no other, as a
// recovery would read it to tell the family of a boot loader.
bool RecordNamesOnly(uint16_t normalProduct);
