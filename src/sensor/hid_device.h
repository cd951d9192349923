// One open HID interface of the sensor, and the finders that fill it.
#pragma once

#include <cstdint>

#include "platform/hid.h"
#include "platform/sensor_ids.h"

// Owned by the operation that declares it; never shared between threads, never copied.
// Closed state: connection == nullptr.
struct HidDevice {
    HidConnection* connection;
    HidInterfaceInfo info;  // identity, usage and output-report length of the open interface
};

// A record in the closed state, for declarations: `HidDevice dev = ClosedHidDevice();`
HidDevice ClosedHidDevice();

bool OpenHidDevice(const char* devicePath, HidDevice* device);  // closed on failure
void CloseHidDevice(HidDevice* device);                         // safe when already closed
bool FindSensorDevice(HidDevice* device);                        // true: open on the match
bool FindHidDeviceById(HidDevice* device, uint16_t vendorId, uint16_t productId);
// As the finders above, but only an interface at USB port `port` (plat_hid_port) counts: a
// board plugged in elsewhere is passed over. An empty `port` matches nothing.
bool FindSensorDeviceAtPort(HidDevice* device, const char* port);
bool FindHidDeviceAtPort(HidDevice* device, uint16_t vendorId, uint16_t productId,
                         const char* port);
// Whether an interface of the sensor's (any mode) is present at another port than `port`.
bool SensorDeviceElsewhere(const char* port);
