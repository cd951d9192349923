// The device and system services the portable core needs from the machine it runs on.
//
// One implementation per platform lives in its own folder (sim/, linux/, win32/) and is
// chosen at link time. The operations mirror the Windows calls the program was first
// written for, with the results the core relies on; a platform without a call supplies the
// same results another way (see each comment).
#pragma once

#include <cstddef>
#include <cstdint>

// ---- HID interfaces -------------------------------------------------------------------

// Handle of one open HID interface. kInvalidHandle marks "not open".
typedef intptr_t PlatHandle;
constexpr PlatHandle kInvalidHandle = -1;

// Parsed report descriptor of one open interface (HidD_GetPreparsedData). Opaque.
typedef void* HidPreparsedData;

// The part of HIDP_CAPS the core reads: the top-level collection's usage and report sizes.
// Report lengths include the report-ID byte, as Windows counts them.
struct HidCaps {
    uint16_t Usage;
    uint16_t UsagePage;
    uint16_t InputReportByteLength;
    uint16_t OutputReportByteLength;
    uint16_t FeatureReportByteLength;
};

// HIDD_ATTRIBUTES.
struct HidAttributes {
    uint32_t Size;
    uint16_t VendorID;
    uint16_t ProductID;
    uint16_t VersionNumber;
};

// Longest interface path the core keeps (Windows paths stay well under 300 characters).
constexpr size_t kHidPathCapacity = 1024;

// A snapshot of the HID interfaces present now (SetupDiGetClassDevsA with
// DIGCF_PRESENT | DIGCF_DEVICEINTERFACE on the HID class). Opaque; may be null when the
// listing itself failed, in which case plat_hid_list_path answers kHidListEnd at index 0.
struct HidInterfaceList;

enum HidListStatus {
    kHidListFound = 1,         // path written to the buffer
    kHidListEnd = 0,           // index is past the last interface (SetupDiEnumDeviceInterfaces failed)
    kHidListDetailFailed = -1, // the interface exists but its path could not be read
                               // (SetupDiGetDeviceInterfaceDetailA failed); the caller ends its scan
};

HidInterfaceList* plat_hid_list_present();
// Path of the interface at `index` (0-based, stable order within one list). The path is
// NUL-terminated text that plat_hid_open accepts; one entry per top-level collection.
int plat_hid_list_path(HidInterfaceList* list, uint32_t index, char* path, size_t pathCapacity);
void plat_hid_list_release(HidInterfaceList* list);

// CreateFileA(GENERIC_READ|GENERIC_WRITE, FILE_SHARE_READ|FILE_SHARE_WRITE, OPEN_EXISTING,
// FILE_FLAG_OVERLAPPED). Returns 1 and a handle, or 0 with the last error set.
int plat_hid_open(const char* path, PlatHandle* handle);
void plat_hid_close(PlatHandle handle);
int plat_hid_get_preparsed(PlatHandle handle, HidPreparsedData* data);  // 1 / 0
void plat_hid_free_preparsed(HidPreparsedData data);
int plat_hid_get_attributes(PlatHandle handle, HidAttributes* attributes); // 1 / 0
int plat_hid_get_caps(HidPreparsedData data, HidCaps* caps);               // 1 on HIDP_STATUS_SUCCESS

// HidD_SetFeature / HidD_GetFeature: `buffer[0]` is the report ID; `length` includes it.
// The get fills the whole buffer with the report as the device sent it, ID first.
// Both return 1 on success, 0 on failure with the last error set.
int plat_hid_set_feature(PlatHandle handle, const uint8_t* buffer, uint32_t length);
int plat_hid_get_feature(PlatHandle handle, uint8_t* buffer, uint32_t length);

// Output report written with a bounded wait: the write is started; if it has not completed
// within `timeoutMs` it is cancelled (CancelIo) and counts as failed. Returns 1 / 0.
int plat_hid_write_output(PlatHandle handle, const uint8_t* buffer, uint32_t length,
                          uint32_t timeoutMs);

// ---- Record of USB devices installed on this machine ----------------------------------
// Windows: the direct subkeys of HKLM\SYSTEM\CurrentControlSet\Enum\USB, opened KEY_READ.
// A platform that keeps no such record opens nothing and answers an error code.

typedef void* PlatRegistryKey;
constexpr uint32_t kErrorSuccess = 0;
constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorNoMoreItems = 259;

uint32_t plat_usb_registry_open(PlatRegistryKey* key);  // kErrorSuccess or the error code
// RegEnumKeyExA: `nameLength` is the buffer size in, the name's length out.
// Answers kErrorSuccess, kErrorNoMoreItems after the last subkey, or another error code.
uint32_t plat_usb_registry_enum(PlatRegistryKey key, uint32_t index, char* name,
                                uint32_t* nameLength);
void plat_usb_registry_close(PlatRegistryKey key);

// ---- Time, errors, debugger output ----------------------------------------------------

void plat_sleep(uint32_t milliseconds);  // Sleep; 0 yields the rest of the time slice
uint32_t plat_tick_count();              // GetTickCount: milliseconds, wraps after 49.7 days
uint32_t plat_last_error();              // GetLastError of the calling thread
// FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, language 0): the system's text for `code`
// written NUL-terminated into `buffer`, untrimmed. Returns its length, 0 when the system
// has no text for the code.
size_t plat_error_text(uint32_t code, char* buffer, size_t capacity);
// OutputDebugStringA: one call emits one whole line.
void plat_debug_output(const char* text);
