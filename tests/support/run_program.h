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
// 5 ms while the program runs) answers true. With `typeNow`, standard input is a pipe
// instead: `typeNow` is asked every 5 ms with the run so far, and the first text it returns
// is written there, after which standard input ends.
ProgramRun run_program(const std::vector<std::string>& argv,
                       const std::vector<std::string>& extraEnv, double timeoutSeconds,
                       const std::function<bool()>& killNow = nullptr,
                       const std::function<const char*(const ProgramRun&)>& typeNow = nullptr);

// Gives this test process and the programs it starts state of their own (the record of the
// sensors met, lock files, the journal's socket, temporary files): a private mount namespace
// with fresh folders bound over /var/lib/zorflash, /run/zorflash (the instance lock's), /run/lock and /run/systemd/journal (the
// mount points made where missing, in overlays of /var/lib and /run that the machine does
// not see), a fresh HOME without XDG_STATE_HOME and TMPDIR test_temp_folder(), all removed
// when the process ends. The whole process, since the platform tests identify in-process.
// Call first in main, before any thread (a namespace is the calling thread's). 0: failed.
int isolate_program_state();

// A folder of this test process's own for the files its tests make, mode 1777 as /tmp is (a
// program run as another user makes files there too), removed when the process ends: in the
// private root of isolate_program_state, else made on the first call.
const std::string& test_temp_folder();

// The lines of `text` (without their line feeds).
std::vector<std::string> split_lines(const std::string& text);
