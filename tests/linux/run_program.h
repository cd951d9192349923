// Starting a program under test as a process of its own and collecting what it did.
#pragma once

#include <functional>
#include <string>
#include <vector>

struct ProgramRun {
    int exitCode = -1;      // -1: killed or did not start
    bool timedOut = false;
    bool killed = false;    // by killNow
    std::string out;        // standard output
    std::string err;        // standard error
    double seconds = 0;     // real time the run took
};

// Runs `argv` (argv[0] the program path) with standard input from /dev/null and standard
// output and error collected, with `extraEnv` ("NAME=value") added to the environment.
// Kills the process group after `timeoutSeconds`, or as soon as `killNow` (asked about every
// 5 ms while the program runs) answers true.
ProgramRun run_program(const std::vector<std::string>& argv,
                       const std::vector<std::string>& extraEnv, double timeoutSeconds,
                       const std::function<bool()>& killNow = nullptr);

// Gives this test process, and every program it starts from now on, state of its own: the
// record of the sensors met and the lock files land in a temporary folder, never in the
// machine's. A private mount namespace binds fresh folders over /var/lib/zorflash (creating
// the empty mount point where the package has not) and /run/lock; HOME is a fresh folder and
// XDG_STATE_HOME is unset, so the user's record is $HOME/.local/state/zorflash. The process
// itself is isolated, not each child, because the platform tests identify the sensor
// in-process too. Call first in main, before any thread: a namespace belongs to the thread
// that made it. Without root only HOME changes (nobody else's folders are writable then).
// Returns 0 when the isolation failed.
int isolate_program_state();

// The lines of `text` (without their line feeds).
std::vector<std::string> split_lines(const std::string& text);
