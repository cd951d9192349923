#include "sensor/hid_device.h"

const DeviceMatchRow DeviceMatchTable[4] = {
    {kSensorVendorId, kProductBootLoader, 0x000D, 0x0001},  // boot loader: Digitizers / Digitizer
    {kSensorVendorId, kProductFamily0, 0x000D, 0x0002},     // family 0: Digitizers / Pen
    {kSensorVendorId, kProductFamily1, 0xFF00, 0x0001},     // family 1: vendor page 0xFF00 / 1
    {0, 0, 0, 0},                                           // end of table
};
static_assert(sizeof(DeviceMatchTable) / sizeof(DeviceMatchTable[0]) == 4,
              "three sensor interfaces and the end row");

HidDevice ClosedHidDevice() {
    HidDevice device{};
    device.handle = kInvalidHandle;
    device.preparsedData = nullptr;
    return device;
}

int OpenHidDevice(const char* devicePath, HidDevice* device) {
    *device = ClosedHidDevice();
    if (!plat_hid_open(devicePath, &device->handle)) {
        device->handle = kInvalidHandle;
        return 0;
    }
    if (!plat_hid_get_preparsed(device->handle, &device->preparsedData)) {
        device->preparsedData = nullptr;
        CloseHidDevice(device);
        return 0;
    }
    device->hidAttributes.Size = sizeof(HidAttributes);
    if (!plat_hid_get_attributes(device->handle, &device->hidAttributes) ||
        !plat_hid_get_caps(device->preparsedData, &device->caps)) {
        CloseHidDevice(device);
        return 0;
    }
    return 1;
}

void CloseHidDevice(HidDevice* device) {
    if (device->handle != kInvalidHandle) {
        plat_hid_close(device->handle);
        device->handle = kInvalidHandle;
    }
    if (device->preparsedData != nullptr) {
        plat_hid_free_preparsed(device->preparsedData);
        device->preparsedData = nullptr;
    }
}

namespace {

// The match test of one scan: true keeps the opened interface as the result.
typedef bool (*InterfaceMatch)(const HidDevice* device, uint16_t vendorId, uint16_t productId);

bool MatchesTable(const HidDevice* device, uint16_t, uint16_t) {
    for (const DeviceMatchRow* row = DeviceMatchTable; row->vendorId != 0; ++row) {
        plat_sleep(0);
        if (device->hidAttributes.VendorID == row->vendorId &&
            device->hidAttributes.ProductID == row->productId &&
            device->caps.UsagePage == row->usagePage && device->caps.Usage == row->usage) {
            return true;
        }
    }
    return false;
}

bool MatchesId(const HidDevice* device, uint16_t vendorId, uint16_t productId) {
    if (device->hidAttributes.VendorID != vendorId || device->hidAttributes.ProductID != productId) {
        return false;
    }
    // Family 1 shows further collections under the same product; only the vendor-defined
    // one carries the reports this program reads.
    if (productId == kProductFamily1) {
        return device->caps.UsagePage == 0xFF00 && device->caps.Usage == 0x0001;
    }
    return true;
}

// Opens each present interface in turn and keeps the first that `match` accepts.
// A path that cannot be read ends the scan; an interface that cannot be opened is skipped.
int ScanInterfaces(HidDevice* device, InterfaceMatch match, uint16_t vendorId,
                   uint16_t productId) {
    *device = ClosedHidDevice();
    HidInterfaceList* list = plat_hid_list_present();
    char path[kHidPathCapacity];
    for (uint32_t index = 0;; ++index) {
        plat_sleep(0);
        const int status = plat_hid_list_path(list, index, path, sizeof(path));
        if (status != kHidListFound) break;
        if (!OpenHidDevice(path, device)) continue;
        if (match(device, vendorId, productId)) {
            plat_hid_list_release(list);
            return 1;
        }
        CloseHidDevice(device);
    }
    plat_hid_list_release(list);
    return 0;
}

}  // namespace

int FindSensorDevice(HidDevice* device) { return ScanInterfaces(device, MatchesTable, 0, 0); }

int FindHidDeviceById(HidDevice* device, uint16_t vendorId, uint16_t productId) {
    return ScanInterfaces(device, MatchesId, vendorId, productId);
}
