#include "sensor/registry_probe.h"

#include <cstring>

#include "platform/platform.h"

namespace {

constexpr uint32_t kKeyNameCapacity = 256;

// An index whose name cannot be read is read again; after this many failures in a row the
// index is skipped, so a record that keeps failing cannot hold the caller forever.
constexpr int kIndexReadAttempts = 8;

// Calls `visit` with the name of every direct subkey of the USB record, in index order.
// Returns kErrorSuccess, or the error of opening the record.
template <typename Visit>
uint32_t WalkUsbKeys(Visit visit) {
    PlatRegistryKey key = nullptr;
    const uint32_t openError = plat_usb_registry_open(&key);
    if (openError != kErrorSuccess) return openError;
    char name[kKeyNameCapacity];
    int failures = 0;
    for (uint32_t index = 0;;) {
        uint32_t length = kKeyNameCapacity;
        const uint32_t answer = plat_usb_registry_enum(key, index, name, &length);
        if (answer == kErrorNoMoreItems) break;
        if (answer != kErrorSuccess) {
            if (++failures < kIndexReadAttempts) continue;
            failures = 0;
            ++index;
            continue;
        }
        failures = 0;
        name[kKeyNameCapacity - 1] = '\0';
        visit(name);
        ++index;
    }
    plat_usb_registry_close(key);
    return kErrorSuccess;
}

bool NameIs(const char* name, const char* expected) { return std::strcmp(name, expected) == 0; }

}  // namespace

uint32_t ProbeSensorRegistry(int* family0Registered, int* family1Registered) {
    *family0Registered = 0;
    *family1Registered = 0;
    return WalkUsbKeys([&](const char* name) {
        if (NameIs(name, "VID_F0A5&PID_00E6") || NameIs(name, "Vid_f0a5&Pid_00e6")) {
            *family1Registered = 1;
        } else if (NameIs(name, "VID_F0A5&PID_0090") || NameIs(name, "Vid_f0a5&Pid_0090")) {
            *family0Registered = 1;
        }
    });
}

int IsBootDeviceRegistered() {
    int registered = 0;
    WalkUsbKeys([&](const char* name) {
        if (NameIs(name, "VID_F0A5&PID_0094") || NameIs(name, "Vid_f0a5&Pid_0094")) {
            registered = 1;
        }
    });
    return registered;
}
