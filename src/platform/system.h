// The system services the portable core needs from the machine it runs on: files, the run's
// stamp, threads, time, the diagnostic sink with the system's words for an error, and (on
// Linux) one instance at a time.
//
// One implementation per platform lives in its own folder and is chosen at link time: the
// Linux platform and the simulator share theirs (src/platform/posix); src/platform/win32 has
// the Windows one.
#pragma once

#include <cstddef>
#include <cstdint>

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

// Writes `text` as it stands on the program's standard output (`toError`: standard error),
// where a script reads it; nothing where the program has none (a Windows program started
// from Explorer). Windows gets its line ends as CR LF.
void plat_write_standard(bool toError, const char* text);

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

// ---- Notices ----------------------------------------------------------------------------

// Something the platform met on its own that a person should hear of, given as data: the
// core's diagnostic log words each notice into its line (sensor/diag_log.h), and a front end
// may show it as well.
enum class PlatNoticeKind : uint8_t {
    NoPermission,      // a sensor's node is there, but this user may not open it
    RecordIgnored,     // the record of the products met is not to be trusted, and not read
    RecordUnreadable,  // the record of the products met could not be read
    RecordNotWritten,  // the record of the products met could not be written
};

struct PlatNotice {
    PlatNoticeKind kind;
    const char* place;   // NoPermission: the device node; else the record's file or folder
    uint16_t vendorId;   // NoPermission: the sensor's identity on the bus; else 0
    uint16_t productId;
    const char* rule;    // NoPermission: the rule that gives the user the sensor; else ""
    const char* reason;  // the record's notices: why, in the system's words; else ""
};

// Where the platform's notices go: `handler(notice, context)`, on whichever thread met the
// notice, once each; the notice's texts live only for the call. Until a handler is set (or
// once null is set) notices are dropped. Set it before any other call of the platform.
using PlatNoticeHandler = void (*)(const PlatNotice& notice, void* context);
void plat_set_notice_handler(PlatNoticeHandler handler, void* context);

// ---- One instance at a time ---------------------------------------------------------------

// Shared by every front end of a system (the terminal editions and a desktop window): on
// Linux an advisory lock on a file, on Windows a named mutex (`path` is its name, the reasons
// are the dialog's sentences); released by the system when the process ends however it ends.
enum class InstanceLock : uint8_t {
    Taken,     // this is the only instance
    Held,      // another instance holds it
    Unusable,  // the path is no lock file that can be opened and locked
};

// Takes the lock at `path`, never through a link and never waiting, and only where nobody
// else can move it: its folder is root's or this run's user's and nobody else may write it,
// the file is root's or the user's, and the path still names the locked file once it is
// locked. `reason` says why an unusable one is.
InstanceLock plat_lock_instance(const char* path, char* reason, size_t capacity);
// The lock at `path`, for a program. Not taken: `refusal` holds the sentence that tells why.
// No environment variable moves it: a test that needs a lock of its own gives the program
// a folder of its own (tests/support isolate_program_state).
InstanceLock plat_lock_editions(const char* path, char* refusal, size_t capacity);
void plat_unlock_instance();
// The lock every Linux edition that drives the real sensor shares, so that two users cannot
// update the sensor at once: /run/zorflash/zorflash.lock, in the package's folder (made by
// root's run where it is missing). A user's run without that folder locks in a folder of
// the user's own ($XDG_RUNTIME_DIR, /run/user/<uid>). A `simulated` run touches no real
// device and has a lock of its own, per user; on Windows every edition shares one name.
// Fills `path`.
void plat_instance_lock_path(bool simulated, char* path, size_t capacity);
