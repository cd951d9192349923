// Time, the run's stamp, the reading of error codes, system error texts and the debugger
// output. (The history of updates in the event log: win32_event_log.cpp.)
#include <windows.h>
#include <ntsecapi.h>

#include <cstdio>

#include "platform/hid.h"
#include "platform/system.h"
#include "platform/win32/win32_hid_connection.h"

void plat_sleep(uint32_t milliseconds) { Sleep(milliseconds); }

uint32_t plat_tick_count() { return GetTickCount(); }

// The execution state belongs to the calling thread (the worker's) and ends with it at the
// latest.
void plat_keep_awake(bool on) {
    SetThreadExecutionState(on ? ES_CONTINUOUS | ES_SYSTEM_REQUIRED : ES_CONTINUOUS);
}

void plat_run_stamp(RunStamp* stamp) {
    SYSTEMTIME utc;
    GetSystemTime(&utc);
    std::snprintf(stamp->startTime, sizeof stamp->startTime, "%04u-%02u-%02uT%02u:%02u:%02uZ",
                  utc.wYear % 10000u, utc.wMonth % 100u, utc.wDay % 100u, utc.wHour % 100u,
                  utc.wMinute % 100u, utc.wSecond % 100u);
    // RtlGenRandom (SystemFunction036 of advapi32) is the system's random source; should it
    // fail, the clock and the process number still tell runs of one machine apart.
    unsigned long long id = 0;
    if (!RtlGenRandom(&id, sizeof id)) {
        FILETIME now;
        GetSystemTimeAsFileTime(&now);
        id = (static_cast<unsigned long long>(now.dwHighDateTime) << 32 | now.dwLowDateTime) ^
             (static_cast<unsigned long long>(GetCurrentProcessId()) << 20);
    }
    std::snprintf(stamp->runId, sizeof stamp->runId, "%016llx", id);
}

PlatResult win32_call_result(bool succeeded) {
    return succeeded ? PlatResult{PlatStatus::Ok, ERROR_SUCCESS} : win32_failure(GetLastError());
}

PlatResult win32_failure(DWORD code) {
    if (code == ERROR_SUCCESS) code = ERROR_GEN_FAILURE;
    PlatStatus status = PlatStatus::IoError;
    switch (code) {
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

// The Windows platform has no notice to give, so the handler is not kept.
void plat_set_notice_handler(PlatNoticeHandler, void*) {}
