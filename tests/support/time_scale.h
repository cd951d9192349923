// A program under test on a faster clock: the time-scale preload (time_scale_preload.cpp)
// in its LD_PRELOAD, and the harness's check that the preload did load into it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "run_program.h"

struct TimeScale {
    const char* preload;  // the built library
    uint32_t scale;       // how many times faster than the real clock
};

// Runs `argv` as run_program does, with the time-scale preload after this process's own
// preloads, and sets `loaded` to whether `program` (argv[0], or the program a launcher in
// front of it starts) said from its own process that the preload runs there at this scale.
// When it did not (a library ld.so could not load, a wrong path), the run took real time.
ProgramRun run_time_scaled(const TimeScale& scale, const std::string& program,
                           const std::vector<std::string>& argv,
                           const std::vector<std::string>& extraEnv, double timeoutSeconds,
                           bool* loaded, const std::function<bool()>& killNow = nullptr,
                           const std::function<const char*(const ProgramRun&)>& typeNow = nullptr);
