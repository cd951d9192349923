// One instance at a time on Linux, shared by every front end there (the terminal editions
// and a desktop window): an advisory lock on a file, released by the kernel when the process
// ends however it ends. Implemented in src/platform/linux.
#pragma once

#include <cstddef>
#include <cstdint>

enum class InstanceLock : uint8_t {
    Taken,     // this is the only instance
    Held,      // another instance holds it
    Unusable,  // the path is no lock file that can be opened and locked
};

// Takes the lock at `path`, never through a link and never waiting; `reason` says why an
// unusable one is.
InstanceLock plat_lock_instance(const char* path, char* reason, size_t capacity);
// The editions' lock: at ZORFLASH_LOCK_FILE when the environment sets it, else at
// `defaultPath`. Not taken: `refusal` holds the sentence that tells why.
InstanceLock plat_lock_editions(const char* defaultPath, char* refusal, size_t capacity);
void plat_unlock_instance();
// The lock every Linux edition that drives the real sensor shares: in /run/lock, which every
// user shares, so two users cannot update the sensor at once; /tmp where it is missing.
const char* plat_sensor_lock_path();
