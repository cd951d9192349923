// The terminal front end: the main dialog drawn in a terminal (or followed line by line when
// standard output is not a terminal), its keys, the 100 ms timer on the main thread and the
// quit-with-exit-code loop. Both Linux programs (zorflash, zorflash-sim) enter through here.
#pragma once

#include <cstddef>

struct TermRunOptions {
    // Lock file that keeps a second instance from touching the sensor while one runs.
    // ZORFLASH_LOCK_FILE in the environment overrides it.
    const char* lockPath;
    // Program name for the lines written on standard error.
    const char* programName;
};

// Runs the program: dialog, timer, keys, update worker. `commandLine` is the arguments
// joined by blanks, the program name excluded. Returns the process exit code.
int TermRun(const char* commandLine, const TermRunOptions& options);

// Joins argv[1..argc-1] with single blanks into `out`, cut to `capacity` - 1 characters.
void TermJoinArguments(int argc, char** argv, char* out, size_t capacity);
