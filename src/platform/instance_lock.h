// One instance at a time, shared by every front end of a system (the terminal editions and a
// desktop window): on Linux an advisory lock on a file, on Windows a named mutex; released
// by the system when the process ends however it ends.
#pragma once

#include <cstddef>
#include <cstdint>

enum class InstanceLock : uint8_t {
    Taken,     // this is the only instance
    Held,      // another instance holds it
    Unusable,  // the path is no lock file that can be opened and locked
};

// Takes the lock at `path`, never through a link and never waiting, and only where nobody
// else can move it: its folder is root's or this run's user's and nobody else may write it,
// the file is root's or the user's, and the path still names the locked file once it is
// locked. `reason` says why an unusable one is.
InstanceLock plat_lock_instance(const char* path, char* reason, size_t capacity);
// The lock at `path`, for a program. Not taken: `refusal` holds the sentence that tells why.
// No environment variable moves it: a test that needs a lock of its own gives the program
// a folder of its own (tests/support isolate_program_state).
InstanceLock plat_lock_editions(const char* path, char* refusal, size_t capacity);
void plat_unlock_instance();
// Windows: `path` is the mutex's name, the reasons are the dialog's sentences.
// The lock every Linux edition that drives the real sensor shares, so that two users cannot
// update the sensor at once: /run/zorflash/zorflash.lock, in the package's folder (made by
// root's run where it is missing). A user's run without that folder locks in a folder of
// the user's own ($XDG_RUNTIME_DIR, /run/user/<uid>). Fills `path`.
void plat_sensor_lock_path(char* path, size_t capacity);
