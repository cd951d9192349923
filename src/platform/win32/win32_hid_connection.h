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

// `code` (a GetLastError value; ERROR_SUCCESS for success) as the seam's result.
PlatResult win32_result(DWORD code);
