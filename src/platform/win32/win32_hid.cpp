// HID interfaces through SetupAPI and the HID class driver.
#include <windows.h>
#include <setupapi.h>

// mingw-w64's HID headers carry no extern "C" guard of their own.
extern "C" {
#include <hidsdi.h>
#include <hidpi.h>
}

#include <cstring>

#include "platform/hid.h"
#include "platform/win32/win32_hid_connection.h"
#include "platform/win32/win32_interfaces.h"

#ifdef _WIN64
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 8, "detail header of a 64-bit build");
#else
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 5, "detail header of a 32-bit build");
#endif

// The list is SetupAPI's own device information set; nothing of ours is allocated for it.
HidInterfaceList* plat_hid_list_present() {
    GUID hidGuid;
    HidD_GetHidGuid(&hidGuid);
    HDEVINFO set = SetupDiGetClassDevsA(&hidGuid, nullptr, nullptr,
                                        DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);  // 0x12
    if (set == INVALID_HANDLE_VALUE) return nullptr;
    return reinterpret_cast<HidInterfaceList*>(set);
}

int win32_interface_path(HDEVINFO set, const GUID* classGuid, uint32_t index, char* path,
                         size_t pathCapacity) {
    SP_DEVICE_INTERFACE_DATA interfaceData;
    std::memset(&interfaceData, 0, sizeof(interfaceData));
    interfaceData.cbSize = sizeof(interfaceData);
    if (!SetupDiEnumDeviceInterfaces(set, nullptr, classGuid, index, &interfaceData)) {
        return kHidListEnd;
    }

    // First call: no buffer, only the size the detail record needs. It "fails" with
    // ERROR_INSUFFICIENT_BUFFER by design, so only the size is looked at.
    DWORD requiredSize = 0;
    SetupDiGetDeviceInterfaceDetailA(set, &interfaceData, nullptr, 0, &requiredSize, nullptr);
    if (requiredSize < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) return kHidListUnreadable;

    HANDLE heap = GetProcessHeap();
    auto* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(
        HeapAlloc(heap, HEAP_ZERO_MEMORY, requiredSize));
    if (detail == nullptr) return kHidListUnreadable;
    // cbSize is the size of the record's fixed header as this build lays it out: 8 in a
    // 64-bit build (a DWORD and one character, padded), 5 only in a 32-bit one. SetupAPI
    // refuses any other value with ERROR_INVALID_USER_BUFFER.
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);

    int status = kHidListUnreadable;
    if (SetupDiGetDeviceInterfaceDetailA(set, &interfaceData, detail, requiredSize, nullptr,
                                         nullptr)) {
        // The path is NUL-terminated within requiredSize; one that does not fit the
        // caller's buffer counts as unreadable rather than being cut to a wrong path.
        const size_t length = strnlen(detail->DevicePath,
                                      requiredSize - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A,
                                                              DevicePath));
        if (length < pathCapacity) {
            std::memcpy(path, detail->DevicePath, length);
            path[length] = '\0';
            status = kHidListFound;
        }
    }
    HeapFree(heap, 0, detail);
    return status;
}

namespace {

// What the HID class driver tells about an open interface: its attributes, and the caps
// read from its preparsed data (fetched, read and freed here, once per open). The
// feature-report length stays with the platform, which pads short feature reports to it.
PlatResult Describe(HANDLE device, HidInterfaceInfo* info, uint32_t* featureReportLength) {
    HIDD_ATTRIBUTES attributes;
    std::memset(&attributes, 0, sizeof(attributes));
    attributes.Size = sizeof(attributes);
    PlatResult result = win32_call_result(HidD_GetAttributes(device, &attributes) != FALSE);
    if (!plat_succeeded(result)) return result;
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    result = win32_call_result(HidD_GetPreparsedData(device, &preparsed) != FALSE);
    if (!plat_succeeded(result)) return result;
    HIDP_CAPS caps;
    std::memset(&caps, 0, sizeof(caps));
    // HidP_GetCaps answers with a status of its own and leaves the last error alone: caps it
    // cannot read are data it does not take.
    const bool parsed = HidP_GetCaps(preparsed, &caps) == HIDP_STATUS_SUCCESS;
    HidD_FreePreparsedData(preparsed);
    if (!parsed) return win32_failure(ERROR_INVALID_DATA);
    info->vendorId = attributes.VendorID;
    info->productId = attributes.ProductID;
    info->versionNumber = attributes.VersionNumber;
    info->usagePage = caps.UsagePage;
    info->usage = caps.Usage;
    info->outputReportLength = caps.OutputReportByteLength;
    *featureReportLength = caps.FeatureReportByteLength;
    return result;
}

HANDLE OpenInterface(const char* path) {
    return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
}

// The open interfaces, in a fixed pool: an open takes a free row, a close gives it back, and
// nothing is allocated per open or per report. The core holds one or two interfaces at a
// time (the dialog's query, the worker's update), from different threads; the lock guards
// the rows' use marks.
constexpr uint32_t kMaxOpenInterfaces = 32;

SRWLOCK connectionsLock = SRWLOCK_INIT;
HidConnection connections[kMaxOpenInterfaces];

HidConnection* TakeConnection(HANDLE device, uint32_t featureReportLength, const char* path) {
    AcquireSRWLockExclusive(&connectionsLock);
    HidConnection* taken = nullptr;
    for (HidConnection& row : connections) {
        if (row.device != nullptr) continue;
        row.device = device;
        row.featureReportLength = featureReportLength;
        // The path opened, so it fits: the seam's paths are shorter than kHidPathCapacity.
        const size_t length = strnlen(path, sizeof row.path - 1);
        std::memcpy(row.path, path, length);
        row.path[length] = '\0';
        taken = &row;
        break;
    }
    ReleaseSRWLockExclusive(&connectionsLock);
    return taken;
}

void ReturnConnection(HidConnection* connection) {
    AcquireSRWLockExclusive(&connectionsLock);
    connection->device = nullptr;
    ReleaseSRWLockExclusive(&connectionsLock);
}

}  // namespace

// An interface that cannot be opened or described (a keyboard or mouse the system holds
// for itself, a device that just left) is listed with an all-zero description.
int plat_hid_list_entry(HidInterfaceList* list, uint32_t index, char* path, size_t pathCapacity,
                        HidInterfaceInfo* info) {
    if (list == nullptr) return kHidListEnd;
    GUID hidGuid;
    HidD_GetHidGuid(&hidGuid);
    const int status = win32_interface_path(reinterpret_cast<HDEVINFO>(list), &hidGuid, index,
                                            path, pathCapacity);
    if (status != kHidListFound) return status;
    std::memset(info, 0, sizeof(*info));
    HANDLE device = OpenInterface(path);
    if (device == INVALID_HANDLE_VALUE) return kHidListFound;
    uint32_t featureReportLength = 0;
    if (!plat_succeeded(Describe(device, info, &featureReportLength))) {
        std::memset(info, 0, sizeof(*info));
    }
    CloseHandle(device);
    return kHidListFound;
}

void plat_hid_list_release(HidInterfaceList* list) {
    if (list != nullptr) SetupDiDestroyDeviceInfoList(reinterpret_cast<HDEVINFO>(list));
}

PlatResult plat_hid_open(const char* path, HidConnection** connection, HidInterfaceInfo* info) {
    *connection = nullptr;
    HANDLE device = OpenInterface(path);
    if (device == INVALID_HANDLE_VALUE) return win32_call_result(false);
    uint32_t featureReportLength = 0;
    PlatResult result = Describe(device, info, &featureReportLength);
    if (plat_succeeded(result)) {
        *connection = TakeConnection(device, featureReportLength, path);
        if (*connection != nullptr) return result;
        result = win32_failure(ERROR_TOO_MANY_OPEN_FILES);
    }
    CloseHandle(device);  // after the code is kept: the close must not overwrite it
    return result;
}

void plat_hid_close(HidConnection* connection) {
    if (connection == nullptr) return;
    HANDLE device = connection->device;
    ReturnConnection(connection);
    CloseHandle(device);
}

// The HID class driver takes a feature report only in a buffer of at least the
// collection's FeatureReportByteLength (report ID included) and fails a shorter one with
// ERROR_INVALID_PARAMETER. The protocol has shorter reports than some collections declare
// (the 2-byte switch request on family 1's collection of 9-byte reports), so a shorter
// report travels zero-padded to that length: the device receives the same report, filled
// to the size it declared.
constexpr uint32_t kMaxPaddedFeatureReport = 1024;

PlatResult plat_hid_set_feature(HidConnection* connection, const uint8_t* buffer,
                                uint32_t length) {
    if (connection == nullptr) return win32_failure(ERROR_INVALID_HANDLE);
    HANDLE device = connection->device;
    const uint32_t declared = connection->featureReportLength;
    if (length >= declared || declared > kMaxPaddedFeatureReport) {
        // HidD_SetFeature takes a non-const pointer but only reads the report.
        return win32_call_result(
            HidD_SetFeature(device, const_cast<uint8_t*>(buffer), length) != FALSE);
    }
    uint8_t padded[kMaxPaddedFeatureReport] = {};
    std::memcpy(padded, buffer, length);
    return win32_call_result(HidD_SetFeature(device, padded, declared) != FALSE);
}

PlatResult plat_hid_get_feature(HidConnection* connection, uint8_t* buffer, uint32_t length) {
    if (connection == nullptr) return win32_failure(ERROR_INVALID_HANDLE);
    HANDLE device = connection->device;
    const uint32_t declared = connection->featureReportLength;
    if (length >= declared || declared > kMaxPaddedFeatureReport) {
        return win32_call_result(HidD_GetFeature(device, buffer, length) != FALSE);
    }
    uint8_t padded[kMaxPaddedFeatureReport] = {};
    padded[0] = buffer[0];  // the report ID selects the report
    const PlatResult result = win32_call_result(HidD_GetFeature(device, padded, declared) != FALSE);
    if (plat_succeeded(result)) std::memcpy(buffer, padded, length);
    return result;
}

bool plat_hid_port(HidConnection* connection, char* port, size_t capacity) {
    return win32_hid_port(connection, port, capacity);
}

// WriteFile on a HID handle takes exactly OutputReportByteLength bytes. The handle is
// opened with FILE_FLAG_OVERLAPPED, so a device that does not take the report leaves the
// write pending instead of blocking the thread; after `timeoutMs` it is cancelled.

PlatResult plat_hid_write_output(HidConnection* connection, const uint8_t* buffer,
                                 uint32_t length, uint32_t timeoutMs) {
    if (connection == nullptr) return win32_failure(ERROR_INVALID_HANDLE);
    HANDLE device = connection->device;
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (event == nullptr) return win32_call_result(false);
    OVERLAPPED overlapped;
    std::memset(&overlapped, 0, sizeof(overlapped));
    overlapped.hEvent = event;

    DWORD written = 0;
    PlatResult result =
        win32_call_result(WriteFile(device, buffer, length, nullptr, &overlapped) != FALSE);
    // Any failure but ERROR_IO_PENDING means the write was never queued: the event would
    // never be signalled, so there is nothing to wait for.
    if (!plat_succeeded(result) && result.systemCode == ERROR_IO_PENDING) {
        const DWORD wait = WaitForSingleObject(event, timeoutMs);
        if (wait == WAIT_OBJECT_0) {
            // Signalled means completed, not necessarily written: a device that went away
            // completes the write with an error.
            result = win32_call_result(GetOverlappedResult(device, &overlapped, &written, FALSE) !=
                                       FALSE);
        } else if (wait == WAIT_TIMEOUT || wait == WAIT_ABANDONED) {
            // CancelIo cancels only this thread's I/O, which this write is. The OVERLAPPED
            // lives on this stack frame, so wait until the driver has finished with it.
            CancelIo(device);
            const PlatResult ended = win32_call_result(
                GetOverlappedResult(device, &overlapped, &written, TRUE) != FALSE);
            // Cancelled (ERROR_OPERATION_ABORTED), or done between the bound and the cancel:
            // either way not within the bound.
            result = PlatResult{PlatStatus::TimedOut,
                                plat_succeeded(ended) ? ERROR_TIMEOUT : ended.systemCode};
        } else {
            result = win32_call_result(false);
        }
    }
    CloseHandle(event);
    return result;
}
