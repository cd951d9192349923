// The history of updates in the Application event log: the entry's strings, and the event
// source's registration, which names the program's own message table (zorflash_events.mc)
// as the file the event viewer words the entries with.
#pragma once

#include <windows.h>

#include "platform/records.h"

// An entry's strings: the summary line, then each field on its own as "name=value", so that
// a collector (Windows Event Forwarding, Intune, SCCM) reads them as the event's data items,
// and the message table's %1 to %8 place them in the entry's text.
constexpr WORD kWin32EventStrings = 8;
constexpr int kWin32EventStringCapacity = 384;
struct Win32EventStrings {
    wchar_t texts[kWin32EventStrings][kWin32EventStringCapacity];
    LPCWSTR strings[kWin32EventStrings];  // each points at its text, as ReportEventW takes them
};
void win32_event_strings(const UpdateRecord* record, Win32EventStrings* out);

// The event source's key, under HKEY_LOCAL_MACHINE: the event log looks for the source's
// EventMessageFile there.
extern const wchar_t kWin32EventSourceKey[];

// Makes the source's EventMessageFile name this program when it names none or another (a
// program moved or copied elsewhere) and sets TypesSupported (error and information). Only
// an administrator may write the key: otherwise, or when the program's path cannot be read
// whole, nothing changes and false is returned. True when the key names this program.
bool win32_register_event_source();
