// The terminal front end: the main dialog drawn in a terminal (or followed line by line when
// standard output is not a terminal), its keys, the 100 ms timer on the main thread and the
// quit-with-exit-code loop. Both Linux programs (zorflash, zorflash-sim) enter through here.
#pragma once

#include <cstddef>

#include "app/long_options.h"

struct TermRunOptions {
    // Lock file that keeps a second instance from touching the sensor while one runs.
    // ZORFLASH_LOCK_FILE in the environment overrides it.
    const char* lockPath;
    // Program name for the lines written on standard error.
    const char* programName;
    // Where updates take their image from.
    FirmwareSource* firmware;
};

// Answers --help, --version and a wrong long option on standard output (an error on
// standard error) without touching the sensor, and returns the exit code; -1 when the
// program goes on with the remaining command line.
int TermAnswerLongOptions(const Edition& edition, const LongOptions& options,
                          FirmwareSource* firmware);

// Runs the program: dialog, timer, keys, update worker. `commandLine` is the arguments
// joined by blanks, the program name excluded. Returns the process exit code.
int TermRun(const char* commandLine, const TermRunOptions& options);
