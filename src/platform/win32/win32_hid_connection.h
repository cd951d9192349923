// What the Windows platform keeps for one open HID interface, and its reading of Win32
// error codes in the seam's terms.
#pragma once

#include <windows.h>

#include <cstdint>

#include "platform/hid.h"

// One open interface: the file handle, and the collection's feature-report length, kept
// so that a feature report needs no call (and no allocation) to learn it. A length of 0
// sends every report as given. The interface path it was opened with finds its device node
// again when its port is asked for.
struct HidConnection {
    HANDLE device;  // nullptr: the row is free
    uint32_t featureReportLength;
    char path[kHidPathCapacity];
};

// The port of the device behind `connection` (plat_hid_port), in win32_hid_port.cpp.
bool win32_hid_port(HidConnection* connection, char* port, size_t capacity);

// The seam's result of a Win32 call, decided by what the call itself returned (its BOOL,
// handle or status, read by the caller as `succeeded`), never by the last error alone: Ok
// when it succeeded, else win32_failure(GetLastError()), read at once. Every HID call of
// this platform ends through it.
PlatResult win32_call_result(bool succeeded);
// A failed call as the seam's result, `code` (a Win32 error code) worded in the seam's
// statuses. A call that failed while the last error reads ERROR_SUCCESS (a driver that
// refuses a request without saying why, a call that does not set it) failed all the same:
// it reads as ERROR_GEN_FAILURE, never as Ok.
PlatResult win32_failure(DWORD code);
