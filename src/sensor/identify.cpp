#include "sensor/sensor_info.h"

#include "platform/records.h"
#include "sensor/diag_log.h"
#include "sensor/hid_device.h"

namespace {

constexpr uint32_t kWordReportLength = 9;
constexpr uint8_t kReport5 = 5;
constexpr uint8_t kReport6 = 6;
constexpr int kVersionWaitAttempts = 60;
constexpr uint32_t kVersionWaitPauseMs = 1000;

// Reads a family-1 word report: bytes 7 and 8 carry the value, high byte first. The
// caller clears the buffer once; only the report-ID byte is rewritten per read.
bool ReadWordReport(const HidDevice* device, uint8_t* report, uint8_t reportId, uint16_t* value) {
    report[0] = reportId;
    if (!plat_succeeded(plat_hid_get_feature(device->connection, report, kWordReportLength))) {
        return false;
    }
    *value = static_cast<uint16_t>(report[7] * 256 + report[8]);
    return true;
}

}  // namespace

namespace {

// IdentifySensor's work; `readReports`: family 1's report words are read too.
bool Identify(SensorInfo* info, bool readReports) {
    info->kind = kSensorNone;
    info->firmwareVersion = kValueNotRead;
    info->report5Word = kValueNotRead;
    info->report6Word = kValueNotRead;
    info->productId = 0;
    info->port[0] = '\0';

    HidDevice device = ClosedHidDevice();
    if (!FindSensorDevice(&device)) return false;
    plat_hid_port(device.connection, info->port, sizeof info->port);

    // Recorded before the reports below and before any update can start: a boot loader
    // left by an interrupted update does not tell its family, the products met do.
    if (device.info.productId != kProductBootLoader) {
        plat_note_product_met(kSensorVendorId, device.info.productId);
    }

    bool result = true;
    info->productId = device.info.productId;
    switch (device.info.productId) {
    case kProductFamily0:
        info->kind = kSensorFamily0;
        info->firmwareVersion = device.info.versionNumber;
        break;
    case kProductFamily1: {
        info->kind = kSensorFamily1;
        info->firmwareVersion = device.info.versionNumber;
        if (!readReports) break;
        uint8_t report[kWordReportLength] = {};
        uint16_t value = 0;
        if (ReadWordReport(&device, report, kReport5, &value)) info->report5Word = value;
        result = ReadWordReport(&device, report, kReport6, &value);
        if (result) info->report6Word = value;
        break;
    }
    case kProductBootLoader: {
        // The boot loader does not tell its family; the products this machine has met do.
        // With another board of the sensor's attached elsewhere, the record cannot say which
        // of them it speaks of.
        if (SensorDeviceElsewhere(info->port)) break;
        if (RecordNamesOnly(kProductFamily0)) info->kind = kSensorFamily0;
        if (RecordNamesOnly(kProductFamily1)) info->kind = kSensorFamily1;
        break;
    }
    default:
        break;
    }
    CloseHidDevice(&device);
    return result;
}

}  // namespace

bool IdentifySensor(SensorInfo* info) { return Identify(info, true); }

bool LocateSensor(SensorInfo* info) { return Identify(info, false); }

bool RecordNamesOnly(uint16_t normalProduct) {
    static const uint16_t kFamilies[2] = {kProductFamily0, kProductFamily1};
    bool met[2] = {};
    plat_usb_products_met(kSensorVendorId, kFamilies, 2, met);
    return met[0] != met[1] && met[normalProduct == kProductFamily0 ? 0 : 1];
}

bool ReadFirmwareVersion(uint16_t kind, const char* port, uint16_t* firmwareVersion,
                         uint16_t* report6Word, uint16_t* report5Word) {
    const uint16_t product = kind == kSensorFamily0 ? kProductFamily0 : kProductFamily1;
    HidDevice device = ClosedHidDevice();
    bool found = false;
    for (int attempt = 0; attempt < kVersionWaitAttempts && !found; ++attempt) {
        plat_sleep(kVersionWaitPauseMs);
        found = FindHidDeviceAtPort(&device, kSensorVendorId, product, port);
    }
    if (!found) {
        LogDiagnostic(0, "Failed to open ORVELL USB sensor", "Module Name : GetFWVersion", false);
        return false;
    }
    plat_note_product_met(kSensorVendorId, product);
    *firmwareVersion = device.info.versionNumber;
    if (kind == kSensorFamily1) {
        uint8_t report[kWordReportLength] = {};
        uint16_t value = 0;
        if (ReadWordReport(&device, report, kReport5, &value)) *report5Word = value;
        if (ReadWordReport(&device, report, kReport6, &value)) *report6Word = value;
    }
    CloseHidDevice(&device);
    return true;
}
