// Starting a program under test as a process of its own and collecting what it did.
#pragma once

#include <string>
#include <vector>

struct ProgramRun {
    int exitCode = -1;      // -1: killed or did not start
    bool timedOut = false;
    std::string out;        // standard output
    std::string err;        // standard error
    double seconds = 0;     // real time the run took
};

// Runs `argv` (argv[0] the program path) with standard input from /dev/null and standard
// output and error collected, with `extraEnv` ("NAME=value") added to the environment.
// Kills the process group after `timeoutSeconds`.
ProgramRun run_program(const std::vector<std::string>& argv,
                       const std::vector<std::string>& extraEnv, double timeoutSeconds);

// The lines of `text` (without their line feeds).
std::vector<std::string> split_lines(const std::string& text);
