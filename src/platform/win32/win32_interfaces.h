// Reading device-interface paths from a SetupAPI list; the HID seam uses it for the HID
// class, and the tests for classes that Wine has without any hardware (monitors).
#pragma once

#include <windows.h>
#include <setupapi.h>

#include <cstddef>
#include <cstdint>

// Path of the interface at `index` of class `classGuid` in `set`: kHidListFound with the
// NUL-terminated path in `path`, kHidListEnd past the last interface, kHidListUnreadable
// when the detail record cannot be read or the path does not fit `pathCapacity`.
int win32_interface_path(HDEVINFO set, const GUID* classGuid, uint32_t index, char* path,
                         size_t pathCapacity);
