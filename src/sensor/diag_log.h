// The one diagnostic channel: framed lines on the debugger output, the core's own and the
// platform's notices worded as lines.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/system.h"  // kDiagLineCapacity: 1023 characters and the terminator

constexpr unsigned kSystemTextCapacity = 1024;

void LogDiagnostic(uint32_t errorCode, const char* message, const char* moduleText,
                   bool withSystemText);

// A front end's hook for the platform's notices: called after the notice's line is written,
// with the notice and its message (the line without its frame), on whichever thread the
// platform met it. Null: the line alone.
using DiagNoticeHook = void (*)(const PlatNotice& notice, const char* message, void* context);

// What the diagnostic log needs to take the platform's notices: the front end owns it, for
// the whole run.
struct DiagnosticLog {
    DiagNoticeHook hook;
    void* context;
};

// From now on every notice of the platform is written as its diagnostic line and then handed
// to `log->hook`. Called by each program at its start, before anything of the platform.
void StartDiagnosticLog(DiagnosticLog* log);

// The message of `notice`, as its diagnostic line carries it below the frame; NUL-terminated
// in `text`, cut where it does not fit. Returns its length.
size_t FormatNotice(const PlatNotice& notice, char* text, size_t capacity);
