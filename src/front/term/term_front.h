// The terminal front end: the main dialog drawn in a terminal (or followed line by line when
// standard output is not a terminal), its keys, the 100 ms timer on the main thread and the
// quit-with-exit-code loop. Both Linux programs (zorflash, zorflash-sim) enter through here.
#pragma once

#include <cstddef>
#include <cstdio>

#include "app/long_options.h"
#include "update/update_worker.h"

struct TermRunOptions {
    // Lock file that keeps a second instance from touching the sensor while one runs.
    const char* lockPath;
    // Program name for the lines written on standard error.
    const char* programName;
    // Where updates take their image from.
    FirmwareSource* firmware;
};

// What the long options ask of one run of the dialog.
struct TermRunSettings {
    bool updateExitStatus;          // --update
    uint16_t familyOption;          // --family, kSensorNone when not given
    const char* familyUnknownText;  // the status line for a boot loader of unknown family
    FILE* display;                  // where the dialog or its lines go: stdout, or stderr (--json)
    UpdateOutcome* outcome;         // out: how the last update ended (end NotRun: none ran)
    SensorInfo* sensor;             // out: the sensor as the last update was given it
};

// Takes the long options off the arguments (--firmware-dir goes to `firmware`) and joins
// the rest into `commandLine` for the slash options.
void term_take_arguments(int argc, char** argv, const Edition& edition, LongOptions* longOptions,
                         char* commandLine, size_t capacity, FirmwareSource* firmware);

// The whole program once its long options are taken: answers --help, --version, a usage
// error and --info, else takes the instance lock and runs the dialog (--update: unattended,
// with its exit status), and prints the JSON report when asked. Returns the exit status.
int term_program(const Edition& edition, const LongOptions& longOptions, const char* commandLine,
                 const TermRunOptions& options);

// Ends a run that cannot begin: `reason` on standard error after the program's name, and the
// JSON report with it when --json asks for one. Returns `status`.
int term_refuse(const Edition& edition, const LongOptions& longOptions, int status,
                const char* reason);

// The dialog, timer, keys and update worker, the lock already held. `commandLine` is the
// slash options. Returns the exit code.
int term_run(const char* commandLine, const TermRunOptions& options,
             const TermRunSettings& settings);
