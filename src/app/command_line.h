// The command line: launch mode, a bare file name and three stored-but-unused options.
#pragma once

#include <cstdint>

#include "platform/ui.h"

constexpr int32_t kLaunchInteractive = 255;
constexpr uint32_t kTokenCapacity = 512;     // token buffer, terminator included
constexpr uint32_t kFileNameCapacity = 260;  // MAX_PATH: the longest path and its terminator

// /S, /W and /DUMP are taken and kept for the command lines written for older releases;
// nothing acts on them.
struct LaunchOptions {
    int32_t launchMode;   // 255 interactive; 0..3 from /F0../F3; 4 from /V
    uint32_t sHexNumber;  // the hexadecimal number after /S
    int sGiven;
    int32_t wNumber;      // the decimal number after /W
    int dumpGiven;
    char fileName[kFileNameCapacity];
};

// Starting values: launch mode 255, everything else cleared.
void ResetLaunchOptions(LaunchOptions* options);
// Parses `commandLine` (the argument part, leading blanks and tabs removed). Each bare
// word also sets control 1000 of `dialog`.
void ParseCommandLine(WindowHandle dialog, const char* commandLine, LaunchOptions* options);
