// The command line: launch mode, a bare file name and three stored-but-unused options.
#pragma once

#include <cstdint>

constexpr int32_t kLaunchInteractive = 255;
constexpr uint32_t kTokenCapacity = 512;     // token buffer, terminator included
constexpr uint32_t kFileNameCapacity = 260;  // MAX_PATH: the longest path and its terminator
// The line the slash options are parsed from, its terminator included: a longer line (the
// long options taken off) is a usage error in every edition.
constexpr uint32_t kCommandLineCapacity = 2048;

// /S, /W and /DUMP are taken and kept for the command lines written for older releases;
// nothing acts on them.
struct LaunchOptions {
    int32_t launchMode;     // 255 interactive; 0..3 from /F0../F3; 4 from /V
    uint32_t sOptionValue;  // the hexadecimal number after /S
    bool sOptionGiven;
    int32_t wOptionValue;   // the decimal number after /W
    bool dumpOptionGiven;
    char fileName[kFileNameCapacity];
};

// Starting values: launch mode 255, everything else cleared.
void ResetLaunchOptions(LaunchOptions* options);
// Parses `commandLine` (the argument part, leading blanks and tabs removed).
void ParseCommandLine(const char* commandLine, LaunchOptions* options);
// Interactive: no /F0../F3 or /V (launch mode 5 and up).
bool LaunchInteractive(const LaunchOptions& options);
// An unattended mode that needs a file name and was given none: such a run ends on its first
// tick with exit code 4, so its window need not be shown at all.
bool LaunchLacksFileName(const LaunchOptions& options);
