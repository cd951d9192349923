// The products-met question answered from the registry: Windows keeps a key for every USB
// device it has installed, named after its IDs, under HKLM\SYSTEM\CurrentControlSet\Enum\USB.
// The walk over those keys takes its reader as a parameter so that the tests can script
// the reader's failures.
#pragma once

#include <windows.h>

#include <cstdint>

// Reads the name of the direct subkey at `index`: ERROR_SUCCESS with the NUL-terminated
// name in `name` (`*length` is the buffer size in, the name's length out),
// ERROR_NO_MORE_ITEMS past the last subkey, or another error code.
typedef LONG (*Win32SubkeyReader)(void* context, DWORD index, char* name, DWORD* length);

// Walks the subkeys in index order and sets met[i] for each product whose key is
// there, spelt "VID_F0A5&PID_0090" or "Vid_f0a5&Pid_0090" (the two spellings Windows
// uses; any other counts as not met). met[] is cleared first.
void win32_match_product_keys(Win32SubkeyReader read, void* context, uint16_t vendorId,
                              const uint16_t* productIds, uint32_t count, bool* met);
