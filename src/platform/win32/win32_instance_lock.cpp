// One instance at a time on Windows: a named mutex that the process holds until it ends.
// Its existence is the lock (the first CreateMutexA makes it, a later one finds it), as every
// release of the program has kept it; a name that is another object's, or another user's
// that this one may not open, fails closed.
#include <windows.h>

#include <cstdio>

#include "platform/system.h"

namespace {

const char kSingleInstanceMutexName[] = "Global\\ZorflashFirmwareUpdate";
const char kAlreadyRunningText[] =
    "Another copy of this utility is already running. Finish it before starting a new one.";
const char kLockNotTakenText[] =
    "The single-instance lock Global\\ZorflashFirmwareUpdate cannot be taken: another "
    "program or user holds that name. Nothing was sent to the sensor.";

HANDLE instanceMutex = nullptr;

}  // namespace

void plat_instance_lock_path(bool, char* path, size_t capacity) {
    std::snprintf(path, capacity, "%s", kSingleInstanceMutexName);
}

InstanceLock plat_lock_instance(const char* path, char* reason, size_t capacity) {
    const HANDLE mutex = CreateMutexA(nullptr, FALSE, path);
    if (mutex == nullptr) {
        std::snprintf(reason, capacity, "%s", kLockNotTakenText);
        return InstanceLock::Unusable;
    }
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        // The refused run lets go of the name at once: its lifetime must not keep a later
        // run out once the first has ended.
        CloseHandle(mutex);
        std::snprintf(reason, capacity, "%s", kAlreadyRunningText);
        return InstanceLock::Held;
    }
    instanceMutex = mutex;
    return InstanceLock::Taken;
}

InstanceLock plat_lock_editions(const char* path, char* refusal, size_t capacity) {
    return plat_lock_instance(path, refusal, capacity);
}

void plat_unlock_instance() {
    if (instanceMutex != nullptr) CloseHandle(instanceMutex);
    instanceMutex = nullptr;
}
