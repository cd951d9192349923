// Which USB products this machine has met: the direct subkeys of
// HKLM\SYSTEM\CurrentControlSet\Enum\USB.
#include "platform/win32/win32_registry.h"

#include <cstdio>
#include <cstring>

#include "platform/records.h"
#include "platform/sensor_ids.h"

static_assert(KEY_READ == 0x20019, "read access as the products-met question opens the branch");

namespace {

constexpr DWORD kKeyNameCapacity = 256;

// An index whose name cannot be read is read again; after this many failures in a row the
// index is skipped, so a key that keeps failing cannot hold the caller forever.
constexpr int kIndexReadAttempts = 8;

bool IsProductKey(const char* name, uint16_t vendorId, uint16_t productId) {
    char upper[24];
    char mixed[24];
    std::snprintf(upper, sizeof upper, "VID_%04X&PID_%04X", vendorId, productId);
    std::snprintf(mixed, sizeof mixed, "Vid_%04x&Pid_%04x", vendorId, productId);
    return std::strcmp(name, upper) == 0 || std::strcmp(name, mixed) == 0;
}

LONG ReadSubkey(void* context, DWORD index, char* name, DWORD* length) {
    FILETIME lastWrite;  // fetched as the probes always did; not used
    return RegEnumKeyExA(static_cast<HKEY>(context), index, name, length, nullptr, nullptr,
                         nullptr, &lastWrite);
}

}  // namespace

void win32_match_product_keys(Win32SubkeyReader read, void* context, uint16_t vendorId,
                              const uint16_t* productIds, uint32_t count, bool* met) {
    for (uint32_t i = 0; i < count; ++i) met[i] = false;
    char name[kKeyNameCapacity];
    int failures = 0;
    for (DWORD index = 0;;) {
        DWORD length = kKeyNameCapacity;
        const LONG answer = read(context, index, name, &length);
        if (answer == ERROR_NO_MORE_ITEMS) break;
        if (answer != ERROR_SUCCESS) {
            if (++failures < kIndexReadAttempts) continue;
            failures = 0;
            ++index;
            continue;
        }
        failures = 0;
        name[kKeyNameCapacity - 1] = '\0';
        for (uint32_t i = 0; i < count; ++i) {
            if (IsProductKey(name, vendorId, productIds[i])) met[i] = true;
        }
        ++index;
    }
}

void plat_usb_products_met(uint16_t vendorId, const uint16_t* productIds, uint32_t count,
                           bool* met) {
    HKEY branch = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Enum\\USB", 0, KEY_READ,
                      &branch) != ERROR_SUCCESS) {
        for (uint32_t i = 0; i < count; ++i) met[i] = false;
        return;
    }
    win32_match_product_keys(ReadSubkey, branch, vendorId, productIds, count, met);
    RegCloseKey(branch);
}

namespace {

constexpr char kUsbBranch[] = "HKLM\\SYSTEM\\CurrentControlSet\\Enum\\USB";
const uint16_t kRecordedProducts[2] = {kProductFamily0, kProductFamily1};

}  // namespace

// One line per key the probes look for, present or not.
size_t plat_describe_products_met(char* text, size_t capacity) {
    bool met[2];
    plat_usb_products_met(kSensorVendorId, kRecordedProducts, 2, met);
    size_t length = 0;
    text[0] = '\0';
    for (unsigned i = 0; i < 2; ++i) {
        const int n = std::snprintf(text + length, capacity - length,
                                    "%s\\VID_%04X&PID_%04X: %s\n", kUsbBranch, kSensorVendorId,
                                    kRecordedProducts[i], met[i] ? "present" : "none");
        if (n < 0 || length + static_cast<size_t>(n) >= capacity) {
            text[length] = '\0';
            break;
        }
        length += static_cast<size_t>(n);
    }
    return length;
}

size_t plat_products_met_clearing(uint16_t vendorId, uint16_t productId, char* text,
                                  size_t capacity) {
    bool met = false;
    plat_usb_products_met(vendorId, &productId, 1, &met);
    text[0] = '\0';
    if (!met) return 0;
    // Windows keeps the key of every device it has met; uninstalling the device (Device
    // Manager, hidden devices shown) removes it.
    const int n = std::snprintf(text, capacity,
                                "uninstall the device whose key is %s\\VID_%04X&PID_%04X",
                                kUsbBranch, vendorId, productId);
    if (n < 0 || static_cast<size_t>(n) >= capacity) {
        text[0] = '\0';
        return 0;
    }
    return static_cast<size_t>(n);
}

// Windows records every USB device it has met under Enum\USB itself, which the call above
// reads: nothing to keep here.
void plat_note_product_met(uint16_t, uint16_t) {}
