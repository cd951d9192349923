#include "sensor/hid_device.h"

#include <cstring>

#include "platform/system.h"

namespace {

struct SensorInterfaceRow {
    uint16_t vendorId;
    uint16_t productId;
    uint16_t usagePage;
    uint16_t usage;
};

// The interfaces that carry the sensor's reports, one per mode; vendor ID 0 ends the table.
const SensorInterfaceRow kSensorInterfaces[4] = {
    {kSensorVendorId, kProductBootLoader, kUsagePageDigitizer, kUsageDigitizer},  // boot loader
    {kSensorVendorId, kProductFamily0, kUsagePageDigitizer, kUsagePen},           // family 0
    {kSensorVendorId, kProductFamily1, kUsagePageVendor, kUsageVendorReports},    // family 1
    {0, 0, 0, 0},                                                                  // end of table
};
static_assert(sizeof(kSensorInterfaces) / sizeof(kSensorInterfaces[0]) == 4,
              "three sensor interfaces and the end row");

}  // namespace

HidDevice ClosedHidDevice() {
    HidDevice device{};
    device.connection = nullptr;
    return device;
}

bool OpenHidDevice(const char* devicePath, HidDevice* device) {
    *device = ClosedHidDevice();
    if (!plat_succeeded(plat_hid_open(devicePath, &device->connection, &device->info))) {
        *device = ClosedHidDevice();
        return false;
    }
    return true;
}

void CloseHidDevice(HidDevice* device) {
    if (device->connection != nullptr) {
        plat_hid_close(device->connection);
        device->connection = nullptr;
    }
}

namespace {

// The match test of one scan, on a listed interface's description.
typedef bool (*InterfaceMatch)(const HidInterfaceInfo& info, uint16_t vendorId,
                               uint16_t productId);

bool MatchesTable(const HidInterfaceInfo& info, uint16_t, uint16_t) {
    for (const SensorInterfaceRow* row = kSensorInterfaces; row->vendorId != 0; ++row) {
        plat_sleep(0);
        if (info.vendorId == row->vendorId && info.productId == row->productId &&
            info.usagePage == row->usagePage && info.usage == row->usage) {
            return true;
        }
    }
    return false;
}

bool MatchesId(const HidInterfaceInfo& info, uint16_t vendorId, uint16_t productId) {
    if (info.vendorId != vendorId || info.productId != productId) return false;
    // Family 1 shows further collections under the same product; only the vendor-defined
    // one carries the reports this program reads.
    if (productId == kProductFamily1) {
        return info.usagePage == kUsagePageVendor && info.usage == kUsageVendorReports;
    }
    return true;
}

// Opens the first present interface that `match` accepts. A path that cannot be read ends
// the scan; a matching interface that cannot be opened is passed over.
// A port to be at, or (`elsewhere`) one not to be at; null: any.
struct PortRule {
    const char* port;
    bool elsewhere;
};

bool AtPort(const HidDevice& device, PortRule rule) {
    if (rule.port == nullptr) return true;
    char found[kHidPortCapacity];
    const bool told = plat_hid_port(device.connection, found, sizeof found);
    // A device whose port cannot be told is at no port, and elsewhere than every port.
    if (rule.elsewhere) return !told || std::strcmp(found, rule.port) != 0;
    return rule.port[0] != '\0' && told && std::strcmp(found, rule.port) == 0;
}

bool ScanInterfaces(HidDevice* device, InterfaceMatch match, uint16_t vendorId,
                    uint16_t productId, PortRule port) {
    *device = ClosedHidDevice();
    HidInterfaceList* list = plat_hid_list_present();
    char path[kHidPathCapacity];
    for (uint32_t index = 0;; ++index) {
        plat_sleep(0);
        HidInterfaceInfo info{};
        const int status = plat_hid_list_entry(list, index, path, sizeof(path), &info);
        if (status != kHidListFound) break;
        if (!match(info, vendorId, productId)) continue;
        // The interface as opened must still be the one listed: between the listing and
        // the open the sensor may have left the bus and its path been given to another.
        if (OpenHidDevice(path, device) && match(device->info, vendorId, productId) &&
            AtPort(*device, port)) {
            plat_hid_list_release(list);
            return true;
        }
        CloseHidDevice(device);
    }
    plat_hid_list_release(list);
    return false;
}

}  // namespace

bool FindSensorDevice(HidDevice* device) {
    return ScanInterfaces(device, MatchesTable, 0, 0, PortRule{nullptr, false});
}

bool FindHidDeviceById(HidDevice* device, uint16_t vendorId, uint16_t productId) {
    return ScanInterfaces(device, MatchesId, vendorId, productId, PortRule{nullptr, false});
}

bool FindSensorDeviceAtPort(HidDevice* device, const char* port) {
    return ScanInterfaces(device, MatchesTable, 0, 0, PortRule{port, false});
}

bool SensorDeviceElsewhere(const char* port) {
    HidDevice other = ClosedHidDevice();
    const bool found = ScanInterfaces(&other, MatchesTable, 0, 0, PortRule{port, true});
    CloseHidDevice(&other);
    return found;
}

bool FindHidDeviceAtPort(HidDevice* device, uint16_t vendorId, uint16_t productId,
                         const char* port) {
    return ScanInterfaces(device, MatchesId, vendorId, productId, PortRule{port, false});
}
