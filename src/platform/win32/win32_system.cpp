// Time, the thread's last error, system error texts and the debugger output.
#include <windows.h>

#include "platform/platform.h"

void plat_sleep(uint32_t milliseconds) { Sleep(milliseconds); }

uint32_t plat_tick_count() { return GetTickCount(); }

uint32_t plat_last_error() { return GetLastError(); }

size_t plat_error_text(uint32_t code, char* buffer, size_t capacity) {
    if (capacity == 0) return 0;
    buffer[0] = '\0';
    // FORMAT_MESSAGE_IGNORE_INSERTS: no arguments are passed, and a system text with
    // %1-style inserts would otherwise make the call fail or read arguments that do not
    // exist. The text is kept as the system gives it, trailing "\r\n" included.
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                       0, buffer, static_cast<DWORD>(capacity > 0xFFFF ? 0xFFFF : capacity),
                       nullptr);
    if (length == 0) buffer[0] = '\0';
    return length;
}

void plat_debug_output(const char* text) { OutputDebugStringA(text); }

// The Windows edition keeps no history of its own; the debugger output has the failures.
void plat_record_update(const UpdateRecord*) {}
