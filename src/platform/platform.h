// The device and system services the portable core needs from the machine it runs on.
//
// One implementation per platform lives in its own folder (sim/, linux/, win32/) and is
// chosen at link time. The calls speak of HID interfaces, reports and the USB products the
// machine has met; how a platform finds them out stays in its folder.
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

// ---- USB products this machine has met -------------------------------------------------

// For each of the `count` products in `productIds` (of vendor `vendorId`), whether this
// machine has had it attached before, now or earlier: met[i]. A platform that keeps no such
// record, or cannot read it, answers false for every product.
void plat_usb_products_met(uint16_t vendorId, const uint16_t* productIds, uint32_t count,
                           bool* met);

// The core has just found product `productId` of vendor `vendorId` attached, and has sent it
// nothing yet. A platform whose system keeps no record of the products met keeps its own
// from this, so that a later plat_usb_products_met, in this run or a later one, answers the
// product as met. Called before anything is sent: an update interrupted after it leaves a
// boot loader whose family the record still tells. Never fails in a way the caller sees.
void plat_note_product_met(uint16_t vendorId, uint16_t productId);

// Where this platform keeps or reads its record of the products met and what it holds, for
// people: one line per place (a file, a registry key), each ending in a line feed, as
// "PLACE: 0090, 00e6", "PLACE: none", or "PLACE: ignored (why)". Written NUL-terminated into
// `text`, cut at a whole line; returns its length.
size_t plat_describe_products_met(char* text, size_t capacity);
// How to make the record forget product `productId` of vendor `vendorId`, as one clause
// naming each place that holds it ("remove the line 0090 from /var/lib/zorflash/products-met").
// Returns its length; 0 and an empty text when no place holds it.
size_t plat_products_met_clearing(uint16_t vendorId, uint16_t productId, char* text,
                                  size_t capacity);

// ---- Files -------------------------------------------------------------------------------

// What was found at a path that was to be read whole.
enum PlatFileKind {
    kFileRegular,     // a regular file, read: `length` bytes
    kFileMissing,     // no entry of that name at all (or a folder on the way is missing)
    kFileFifo,        // a named pipe: reading it would wait for a writer
    kFileDevice,      // a character or block device
    kFileFolder,
    kFileOtherKind,   // a socket or anything else that is not a regular file
    kFileTooLarge,    // a regular file of more than the buffer's bytes: `size` says how many
    kFileUnreadable,  // there, but it could not be looked at, opened or read: `reason` says why
    kFileDanglingLink,  // a symbolic link (or another reparse point) that leads to nothing
};

struct PlatFileRead {
    PlatFileKind kind;
    uint64_t size;     // the regular file's size as the system gave it before the read
    size_t length;     // bytes read into the buffer (kFileRegular)
    char reason[128];  // kFileUnreadable: the system's words for the failure, else ""
};

// Reads the regular file at `path` whole into `buffer` (at most `capacity` bytes). Never
// waits for a writer or a device: anything but a regular file is not opened, and the open
// itself does not block should a FIFO be put there meanwhile. Links are followed; what
// counts is what they lead to, and a link that leads nowhere is kFileDanglingLink, never
// kFileMissing: only a name with no entry at all is missing. A file that grows past
// `capacity` while it is read is kFileTooLarge. Returns true for kFileRegular, else false.
bool plat_read_regular_file(const char* path, uint8_t* buffer, size_t capacity,
                            PlatFileRead* read);

// Replaces the file at `path` with `length` bytes, whole or not at all: they are written to a
// new file beside it (made afresh, never opened through a link or anything else found at its
// name), flushed to the disk and renamed over `path`. Only a regular file or a new name is
// replaced; a link at `path` is replaced itself, not written through. A device (a Windows
// device name such as NUL or COM1 too), a FIFO, a socket or a folder there is refused and
// left as it is, and nothing is opened at `path`. A regular file replaced keeps its owner
// and permissions (Linux: mode and owner; Windows: its attributes and security, as
// ReplaceFile keeps them); when they cannot be kept, nothing is replaced. Never waits for a
// reader. Returns true; false with the reason in `reason` (the system's words for a failure,
// or what was found at `path`), and no file left behind.
bool plat_write_file_atomically(const char* path, const uint8_t* bytes, size_t length,
                                char* reason, size_t capacity);

// ---- The run's identity -------------------------------------------------------------------

// Names one run in its reports: the start object --report leaves and the final one carry the
// same stamp, so a collector can tell a finished run from one that was cut short, and two
// runs apart.
struct RunStamp {
    char runId[17];      // 16 lower-case hex digits from the system's random source
    char startTime[21];  // UTC, ISO 8601 to the second: "2026-12-10T04:19:39Z"
};

// The stamp of a run starting now. The simulated machine on its virtual clock gives the same
// stamp every time, so that its reports compare byte for byte.
void plat_run_stamp(RunStamp* stamp);

// ---- Threads ----------------------------------------------------------------------------

// A thread of the program's own (the update worker's); opaque.
struct PlatThread;

// Starts `procedure(argument)` on a thread of its own; null when no thread can be made.
PlatThread* plat_thread_start(unsigned (*procedure)(void*), void* argument);
// False while the thread runs; true once it has ended, with the procedure's return value
// in `*result` unless `result` is null.
bool plat_thread_ended(PlatThread* thread, uint32_t* result);
// Releases the handle; a thread still running goes on and ends by itself.
void plat_thread_close(PlatThread* thread);

// Keeps the machine from sleeping (and the session from ending unasked) while on: the update
// worker's first step to its last, from the worker's thread. Linux: a logind "sleep"
// inhibitor; Windows: the thread's execution state; the simulated machine: nothing.
void plat_keep_awake(bool on);

// ---- Time -------------------------------------------------------------------------------

void plat_sleep(uint32_t milliseconds);  // 0 gives up the rest of the time slice
uint32_t plat_tick_count();              // milliseconds; wraps modulo 2^32

// ---- Diagnostics ------------------------------------------------------------------------

// The system's own text for `code` (a PlatResult's systemCode), NUL-terminated in
// `buffer`, kept as the system words it with its line end. Returns its length, or 0 when
// the system has no text for the code or the text does not fit.
size_t plat_error_text(uint32_t code, char* buffer, size_t capacity);
// The diagnostic sink: one call writes one whole line, of at most kDiagLineCapacity - 1
// characters.
constexpr unsigned kDiagLineCapacity = 1024;
void plat_debug_output(const char* text);

// ---- The history of updates ------------------------------------------------------------

// One update that sent anything to the sensor, as the system's history keeps it.
struct UpdateRecord {
    const char* versionBefore;  // as the dialog shows it ("0140", "0139 P0002", "????")
    const char* versionAfter;
    uint32_t result;            // the last attempt's result number (0: success)
    const char* status;         // the final status line
    uint32_t attempts;          // runs of the write-and-verify sequence
    uint32_t durationMs;        // from the worker's start to its end
    const char* imageSha256;    // SHA-256 of the image written, 64 hex digits
    // All of the above but the SHA-256 in one line a person can read, the same on every
    // platform: "Sensor firmware update: 0140 -> 0610, result 0 (Update complete.),
    // 1 attempt, 61.250 s".
    const char* summary;
};
// Leaves one entry in the system's history of updates, where the platform keeps one;
// nothing, and no failure, where it does not.
void plat_record_update(const UpdateRecord* record);
