// The record of installed USB devices: the direct subkeys of HKLM\SYSTEM\CurrentControlSet\Enum\USB.
#include <windows.h>

#include "platform/platform.h"

static_assert(ERROR_NO_MORE_ITEMS == kErrorNoMoreItems, "end-of-list code");
static_assert(ERROR_FILE_NOT_FOUND == kErrorFileNotFound, "missing-key code");
static_assert(KEY_READ == 0x20019, "read access as the probes open the branch");

uint32_t plat_usb_registry_open(PlatRegistryKey* key) {
    HKEY opened = nullptr;
    const LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Enum\\USB",
                                      0, KEY_READ, &opened);
    *key = status == ERROR_SUCCESS ? reinterpret_cast<PlatRegistryKey>(opened) : nullptr;
    return static_cast<uint32_t>(status);
}

uint32_t plat_usb_registry_enum(PlatRegistryKey key, uint32_t index, char* name,
                                uint32_t* nameLength) {
    DWORD length = *nameLength;
    FILETIME lastWrite;  // fetched as the probes always did; not used
    const LONG status = RegEnumKeyExA(reinterpret_cast<HKEY>(key), index, name, &length,
                                      nullptr, nullptr, nullptr, &lastWrite);
    *nameLength = length;
    return static_cast<uint32_t>(status);
}

void plat_usb_registry_close(PlatRegistryKey key) {
    if (key != nullptr) RegCloseKey(reinterpret_cast<HKEY>(key));
}
