// Time, the reading of error codes, system error texts and the debugger output.
#include <windows.h>

#include "platform/platform.h"
#include "platform/win32/win32_hid_connection.h"

void plat_sleep(uint32_t milliseconds) { Sleep(milliseconds); }

uint32_t plat_tick_count() { return GetTickCount(); }

PlatResult win32_result(DWORD code) {
    PlatStatus status = PlatStatus::IoError;
    switch (code) {
    case ERROR_SUCCESS:
        status = PlatStatus::Ok;
        break;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        status = PlatStatus::NotFound;
        break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        status = PlatStatus::NoAccess;
        break;
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEV_NOT_EXIST:
        status = PlatStatus::Gone;
        break;
    case ERROR_SEM_TIMEOUT:
    case ERROR_TIMEOUT:
        status = PlatStatus::TimedOut;
        break;
    default:
        break;
    }
    return PlatResult{status, code};
}

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
