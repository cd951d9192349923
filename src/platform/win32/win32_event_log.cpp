// The history of updates: one entry in the Application event log per update that sent
// anything to the sensor, worded by the program's own message table.
#include "platform/win32/win32_event_log.h"

#include <cstdio>
#include <cwchar>

#include "zorflash_events.h"

// The message table's event for an update (zorflash_events.mc): its identifier, as
// ReportEventW is given it, and its text take the entry's eight strings.
constexpr DWORD kUpdateEventId = ZORFLASH_EVENT_UPDATE;
static_assert(kUpdateEventId == 1, "the event identifier the documentation and collectors know");

const wchar_t kWin32EventSourceKey[] =
    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\zorflash";

namespace {

// The program's texts are in the ANSI code page, as its A functions take them. No byte
// becomes more than one UTF-16 unit, so a text that fits kWin32EventStringCapacity bytes
// fits; a conversion that fails all the same leaves the item empty, never half-written.
void ToEventString(const char* text, wchar_t* wide) {
    if (MultiByteToWideChar(CP_ACP, 0, text, -1, wide, kWin32EventStringCapacity) == 0) {
        wide[0] = L'\0';
    }
}

// Whether the source's EventMessageFile already names `program` (paths compare without
// regard to case, as Windows opens them). Read-only: a person without the rights to write
// the key still reads it.
bool SourceNamesProgram(const wchar_t* program) {
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kWin32EventSourceKey, 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS) {
        return false;
    }
    wchar_t named[MAX_PATH + 1] = {};
    DWORD size = sizeof named - sizeof named[0];  // room for the terminator a value may lack
    DWORD type = 0;
    const bool read = RegQueryValueExW(key, L"EventMessageFile", nullptr, &type,
                                       reinterpret_cast<BYTE*>(named), &size) == ERROR_SUCCESS;
    RegCloseKey(key);
    return read && (type == REG_SZ || type == REG_EXPAND_SZ) && _wcsicmp(named, program) == 0;
}

}  // namespace

void win32_event_strings(const UpdateRecord* record, Win32EventStrings* out) {
    char fields[kWin32EventStrings - 1][kWin32EventStringCapacity];
    std::snprintf(fields[0], sizeof fields[0], "versionBefore=%s", record->versionBefore);
    std::snprintf(fields[1], sizeof fields[1], "versionAfter=%s", record->versionAfter);
    std::snprintf(fields[2], sizeof fields[2], "result=%u", record->result);
    std::snprintf(fields[3], sizeof fields[3], "status=%s", record->status);
    std::snprintf(fields[4], sizeof fields[4], "attempts=%u", record->attempts);
    std::snprintf(fields[5], sizeof fields[5], "seconds=%u.%03u", record->durationMs / 1000,
                  record->durationMs % 1000);
    std::snprintf(fields[6], sizeof fields[6], "sha256=%s", record->imageSha256);
    static_assert(sizeof fields / sizeof fields[0] == kWin32EventStrings - 1, "one per field");

    ToEventString(record->summary, out->texts[0]);
    for (WORD i = 1; i < kWin32EventStrings; ++i) ToEventString(fields[i - 1], out->texts[i]);
    for (WORD i = 0; i < kWin32EventStrings; ++i) out->strings[i] = out->texts[i];
}

// The program is one .exe that needs no installation, so it registers its source itself,
// where it writes the entries. Without the registration (a run without an administrator's
// rights before any run with them) the event viewer says it has no description for the
// event and lists the strings; with it, it shows the message table's text.
bool win32_register_event_source() {
    wchar_t program[MAX_PATH + 1];
    const DWORD length = GetModuleFileNameW(nullptr, program, MAX_PATH + 1);
    // A path cut short (length at the buffer's end) would name another file.
    if (length == 0 || length > MAX_PATH) return false;
    if (SourceNamesProgram(program)) return true;
    HKEY key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kWin32EventSourceKey, 0, nullptr, 0, KEY_SET_VALUE,
                        nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_INFORMATION_TYPE;
    const bool written =
        RegSetValueExW(key, L"EventMessageFile", 0, REG_EXPAND_SZ,
                       reinterpret_cast<const BYTE*>(program),
                       (length + 1) * static_cast<DWORD>(sizeof program[0])) == ERROR_SUCCESS &&
        RegSetValueExW(key, L"TypesSupported", 0, REG_DWORD,
                       reinterpret_cast<const BYTE*>(&types), sizeof types) == ERROR_SUCCESS;
    RegCloseKey(key);
    return written;
}

// Without the rights to write the log (RegisterEventSourceW or ReportEventW fails), the
// entry is skipped: the update's outcome and exit status do not depend on its history.
void plat_record_update(const UpdateRecord* record) {
    Win32EventStrings strings;
    win32_event_strings(record, &strings);
    win32_register_event_source();
    HANDLE source = RegisterEventSourceW(nullptr, L"zorflash");
    if (source == nullptr) return;
    const WORD type = record->result == 0 ? EVENTLOG_INFORMATION_TYPE : EVENTLOG_ERROR_TYPE;
    ReportEventW(source, type, 0, kUpdateEventId, nullptr, kWin32EventStrings, 0,
                 strings.strings, nullptr);
    DeregisterEventSource(source);
}
