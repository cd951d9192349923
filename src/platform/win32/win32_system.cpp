// Time, the run's stamp, the reading of error codes, system error texts, the debugger output and the
// history of updates in the event log.
#include <windows.h>
#include <ntsecapi.h>

#include <cstdio>

#include "platform/hid.h"
#include "platform/records.h"
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

// ---- The history of updates: one entry in the Application event log -------------------

namespace {

// The entry's texts: the summary line, then each field on its own as "name=value", so that
// a collector (Windows Event Forwarding, Intune, SCCM) reads them as the event's data items.
constexpr WORD kEventStrings = 8;
constexpr int kEventStringCapacity = 384;
// Every entry has the same identifier; its type tells success from failure. No message file
// is registered, so the event viewer shows the texts themselves.
constexpr DWORD kUpdateEventId = 1;

// The program's texts are in the ANSI code page, as its A functions take them. No byte
// becomes more than one UTF-16 unit, so a text that fits kEventStringCapacity bytes fits; a
// conversion that fails all the same leaves the item empty, never half-written.
void ToEventString(const char* text, wchar_t* wide) {
    if (MultiByteToWideChar(CP_ACP, 0, text, -1, wide, kEventStringCapacity) == 0) {
        wide[0] = L'\0';
    }
}

}  // namespace

// Without the rights to write the log (RegisterEventSourceW or ReportEventW fails), the
// entry is skipped: the update's outcome and exit status do not depend on its history.
void plat_record_update(const UpdateRecord* record) {
    char fields[kEventStrings - 1][kEventStringCapacity];
    std::snprintf(fields[0], sizeof fields[0], "versionBefore=%s", record->versionBefore);
    std::snprintf(fields[1], sizeof fields[1], "versionAfter=%s", record->versionAfter);
    std::snprintf(fields[2], sizeof fields[2], "result=%u", record->result);
    std::snprintf(fields[3], sizeof fields[3], "status=%s", record->status);
    std::snprintf(fields[4], sizeof fields[4], "attempts=%u", record->attempts);
    std::snprintf(fields[5], sizeof fields[5], "seconds=%u.%03u", record->durationMs / 1000,
                  record->durationMs % 1000);
    std::snprintf(fields[6], sizeof fields[6], "sha256=%s", record->imageSha256);
    static_assert(sizeof fields / sizeof fields[0] == kEventStrings - 1, "one per field");

    wchar_t texts[kEventStrings][kEventStringCapacity];
    LPCWSTR strings[kEventStrings];
    ToEventString(record->summary, texts[0]);
    strings[0] = texts[0];
    for (WORD i = 1; i < kEventStrings; ++i) {
        ToEventString(fields[i - 1], texts[i]);
        strings[i] = texts[i];
    }

    HANDLE source = RegisterEventSourceW(nullptr, L"zorflash");
    if (source == nullptr) return;
    const WORD type = record->result == 0 ? EVENTLOG_INFORMATION_TYPE : EVENTLOG_ERROR_TYPE;
    ReportEventW(source, type, 0, kUpdateEventId, nullptr, kEventStrings, 0, strings, nullptr);
    DeregisterEventSource(source);
}
