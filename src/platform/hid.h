// The HID interfaces of the machine, as the portable core needs them: which are present and
// what they are, open and close, feature reports, an output report with a bounded wait, and
// the USB port a device is plugged into.
//
// One implementation per platform lives in its own folder (sim/, linux/, win32/) and is
// chosen at link time; how a platform finds its interfaces stays in its folder.
#pragma once

#include <cstddef>
#include <cstdint>

// ---- HID interfaces -------------------------------------------------------------------

// One open HID interface, in the manner of hidapi's hid_device: each platform defines it in
// its own folder, and the core only passes it back. Null means "not open".
struct HidConnection;

// How a call of this seam ended, in the terms every platform shares.
enum class PlatStatus : uint8_t {
    Ok,
    NotFound,  // no interface (any more) at that path
    NoAccess,  // there, but this user may not open it, or another program holds it
    Gone,      // the device left the bus since it was opened
    TimedOut,  // not done within the wait the caller gave
    IoError,   // any other failure: the device refused the request, a bad argument, ...
};

// A call's outcome, with the system's own code for a failure: an errno value on Linux, a
// Win32 error code on Windows and in the simulator; 0 on success. plat_error_text words the
// code for the diagnostic line.
struct PlatResult {
    PlatStatus status;
    uint32_t systemCode;
};

inline bool plat_succeeded(PlatResult result) { return result.status == PlatStatus::Ok; }

// What an interface is: the device's identity, the top-level collection's usage and the
// length of its output report, which includes the report-ID byte in front of the data (also
// for a device without report IDs, where it is 0), so a collection with an output report
// has a length of at least 2, and 0 means it has none.
struct HidInterfaceInfo {
    uint16_t vendorId;
    uint16_t productId;
    uint16_t versionNumber;  // the USB device's release number (bcdDevice)
    uint16_t usagePage;
    uint16_t usage;
    uint16_t outputReportLength;
};

// Longest interface path the core keeps (Windows paths stay well under 300 characters).
constexpr size_t kHidPathCapacity = 1024;

// A snapshot of the HID interfaces present now, one entry per top-level collection, in an
// order that stays stable within the snapshot. Opaque; may be null when the listing itself
// failed, in which case plat_hid_list_entry answers kHidListEnd at index 0.
struct HidInterfaceList;

enum HidListStatus {
    kHidListFound = 1,       // path and description written
    kHidListEnd = 0,         // index is past the last interface
    kHidListUnreadable = -1, // the interface exists but its path could not be read; the
                             // caller ends its scan there
};

HidInterfaceList* plat_hid_list_present();
// Entry `index` (0-based): its NUL-terminated path, which plat_hid_open accepts, and what
// it is. An interface the platform could not look into is listed with an all-zero `info`.
int plat_hid_list_entry(HidInterfaceList* list, uint32_t index, char* path, size_t pathCapacity,
                        HidInterfaceInfo* info);
void plat_hid_list_release(HidInterfaceList* list);

// Opens an interface for reading and writing reports, shared with other programs, and
// describes it. On success `*connection` is the open interface; on failure it is null.
PlatResult plat_hid_open(const char* path, HidConnection** connection, HidInterfaceInfo* info);
// Closes an open interface; the connection is not valid afterwards.
void plat_hid_close(HidConnection* connection);

// Feature reports: `buffer[0]` is the report ID; `length` includes it and may be shorter
// than the collection's feature length (the platform pads where its system needs it).
// The get fills `length` bytes with the report as the device sent it, ID first.
PlatResult plat_hid_set_feature(HidConnection* connection, const uint8_t* buffer,
                                uint32_t length);
PlatResult plat_hid_get_feature(HidConnection* connection, uint8_t* buffer, uint32_t length);

// Output report written with a bounded wait: a write that has not completed within
// `timeoutMs` is given up (cancelled where the system can) and fails as TimedOut.
PlatResult plat_hid_write_output(HidConnection* connection, const uint8_t* buffer,
                                 uint32_t length, uint32_t timeoutMs);

// Where the device behind an open interface is attached: a text that names its USB port
// (the bus and the chain of hub ports it is plugged into), the same whichever mode the device
// runs in and whatever product it shows, and different for any other port. A device that
// restarts in its boot loader reappears at the same port; another board does not. Returns
// true; false, with "" in `port`, when the platform cannot tell.
constexpr size_t kHidPortCapacity = 256;
bool plat_hid_port(HidConnection* connection, char* port, size_t capacity);
