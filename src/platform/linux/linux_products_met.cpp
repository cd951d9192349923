// The record of the sensor products this machine has met.
//
// Windows records every USB device it ever attached, and a sensor left in its boot loader by
// an interrupted update (which does not tell its family) is told apart by what it was before.
// Linux keeps no such record, so zorflash keeps one: a text file "products-met" with a line
// "0090" or "00e6" for each normal-mode product seen.
//
// The machine's record, /var/lib/zorflash/products-met, is kept by the system: the package's
// udev rule runs zorflash-note-met (this same code) as root each time a sensor appears, and a
// run as root notes what it finds there too. A run as root reads and writes only that record,
// and never looks into HOME or the XDG folders, which sudo may have left pointing at a user's.
// A run as another user reads the machine's record and its own ($XDG_STATE_HOME/zorflash, else
// ~/.local/state/zorflash) and writes only its own. So a stale line can be met only where it
// shows up in --info and in the --family refusal, both of which name the file.
//
// A file or folder of a record is trusted only when root or the run's own user owns it,
// nobody else may write it, and no symbolic link leads to it (each folder from the base on is
// opened from the one before without following links, and checked on the open descriptor).
// Anything else is ignored with one notice: whoever may change it could name either
// family. Nothing is taken from a trusted file beyond which of the two product lines it holds.
#include <fcntl.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/linux/linux_internal.h"
#include "platform/records.h"
#include "platform/sensor_ids.h"
#include "platform/system.h"

namespace {

// The machine's record lives in kMachineFolder under kMachineBase; the base is the system's
// and is taken as it is, the folder below it is checked.
constexpr char kMachineBase[] = "/var/lib";
constexpr char kRecordName[] = "products-met";
constexpr size_t kFolderCapacity = 1024;
constexpr size_t kPathCapacity = kFolderCapacity + 32;
constexpr size_t kWhyCapacity = kFolderCapacity + 64;
// A record of ours is at most ten bytes; a longer file is looked at this far only.
constexpr size_t kReadLimit = 256;

struct RecordedProduct {
    uint16_t productId;
    const char* line;
};
// The products a record may name; bit i of a ProductSet stands for row i.
constexpr RecordedProduct kRecorded[2] = {
    {kProductFamily0, "0090"},
    {kProductFamily1, "00e6"},
};
static_assert(HexNumberAt(kRecorded[0].line) == kRecorded[0].productId &&
                  HexNumberAt(kRecorded[1].line) == kRecorded[1].productId,
              "each record line is its product's number");
typedef unsigned ProductSet;

enum class PlaceState { Absent, Read, Ignored, Unreadable };

// One record as this run found it.
struct Place {
    char base[kFolderCapacity];      // taken as the system or the user set it
    const char* names[3];            // the folders below the base, each checked
    unsigned nameCount;
    bool mayMake;                    // missing folders are made (the user's, not the machine's)
    char path[kPathCapacity];        // the record file, for people
    PlaceState state;
    ProductSet products;
    char why[kWhyCapacity];          // Ignored, Unreadable: why
};

// The machine's record, and the user's where this run is not root's.
struct Places {
    Place place[2];
    unsigned count;
};

// Notes come from the thread that identifies the sensor and from the update's worker.
std::mutex writeMutex;
// A record that cannot be read or written costs one notice per run, not one per question.
std::atomic<bool> complained{false};

ProductSet ProductBit(uint16_t vendorId, uint16_t productId) {
    if (vendorId != kSensorVendorId) return 0;
    for (unsigned i = 0; i < 2; ++i) {
        if (kRecorded[i].productId == productId) return 1u << i;
    }
    return 0;
}

void Complain(PlatNoticeKind kind, const char* where, const char* why) {
    if (complained.exchange(true)) return;
    linux_notice(PlatNotice{kind, where, 0, 0, "", why});
}

const char* ErrorWords(int error) {
    const char* text = strerrordesc_np(error);
    return text != nullptr ? text : "unknown error";
}

// Why a record's file or folder is not to be trusted by a run of `user`; null when it is.
const char* Distrust(const struct stat& status, bool folder, uid_t user, char* why,
                     size_t capacity) {
    if (folder ? !S_ISDIR(status.st_mode) : !S_ISREG(status.st_mode)) {
        std::snprintf(why, capacity, folder ? "not a folder" : "not a regular file");
    } else if (status.st_uid != 0 && status.st_uid != user) {
        std::snprintf(why, capacity, "owned by uid %u", static_cast<unsigned>(status.st_uid));
    } else if (status.st_mode & (S_IWGRP | S_IWOTH)) {
        std::snprintf(why, capacity, "writable by others (mode %04o)",
                      static_cast<unsigned>(status.st_mode & 07777));
    } else {
        return nullptr;
    }
    return why;
}

// Opens `name` under `at` (-1: `name` is the base, followed as given) without following a
// link, and checks what it opened. Returns the descriptor, or -1 with the place's state and
// why set (Absent when it is missing).
int OpenChecked(int at, const char* name, bool folder, Place* place) {
    const int flags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK |
                      (folder ? O_DIRECTORY : 0) | (at >= 0 ? O_NOFOLLOW : 0);
    const int fd = at >= 0 ? openat(at, name, flags) : open(name, flags);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT) {
            place->state = PlaceState::Absent;
        } else if (error == ELOOP || (folder && error == ENOTDIR && at >= 0)) {
            struct stat link;
            const bool isLink = fstatat(at, name, &link, AT_SYMLINK_NOFOLLOW) == 0 &&
                                S_ISLNK(link.st_mode);
            place->state = PlaceState::Ignored;
            std::snprintf(place->why, sizeof place->why, "%s",
                          isLink ? "a symbolic link" : "not a folder");
        } else {
            place->state = PlaceState::Unreadable;
            std::snprintf(place->why, sizeof place->why, "%s", ErrorWords(error));
        }
        return -1;
    }
    struct stat status;
    if (fstat(fd, &status) != 0) {
        place->state = PlaceState::Unreadable;
        std::snprintf(place->why, sizeof place->why, "%s", ErrorWords(errno));
    } else if (Distrust(status, folder, geteuid(), place->why, sizeof place->why) != nullptr) {
        place->state = PlaceState::Ignored;
    } else {
        return fd;
    }
    close(fd);
    return -1;
}

// The record's folder, opened and checked from the base down, made where missing when the
// place allows it. -1 with the place's state set when it is missing or not to be trusted.
int OpenFolder(Place* place, bool make) {
    int fd = OpenChecked(-1, place->base, true, place);
    if (fd < 0 && place->state != PlaceState::Absent) {
        const size_t used = std::strlen(place->why);
        std::snprintf(place->why + used, sizeof place->why - used, " (folder %s)", place->base);
    }
    for (unsigned i = 0; fd >= 0 && i < place->nameCount; ++i) {
        // Private to the user, as the XDG rules ask of the state folder.
        if (make) mkdirat(fd, place->names[i], 0700);
        const int next = OpenChecked(fd, place->names[i], true, place);
        close(fd);
        fd = next;
        if (fd < 0 && place->state != PlaceState::Absent) {
            // The file's path is what people look for; the folder that failed is named too.
            const size_t used = std::strlen(place->why);
            std::snprintf(place->why + used, sizeof place->why - used, " (folder %s)",
                          place->names[i]);
        }
    }
    return fd;
}

// Lines are compared whole (a CR before the line feed allowed, any case): "0090x" or
// " 0090" name nothing.
ProductSet ParseRecord(const char* text, size_t length) {
    ProductSet products = 0;
    size_t start = 0;
    while (start < length) {
        const void* feed = std::memchr(text + start, '\n', length - start);
        const size_t end = feed != nullptr ? static_cast<size_t>(static_cast<const char*>(feed) - text)
                                           : length;
        size_t lineLength = end - start;
        if (lineLength > 0 && text[start + lineLength - 1] == '\r') --lineLength;
        for (unsigned i = 0; i < 2; ++i) {
            if (lineLength == 4 && strncasecmp(text + start, kRecorded[i].line, 4) == 0) {
                products |= 1u << i;
            }
        }
        start = end + 1;
    }
    return products;
}

// Reads the record in the place's open folder: its state and the products it names.
void ReadRecordIn(int folder, Place* place) {
    place->products = 0;
    place->why[0] = '\0';
    // Non-blocking: a FIFO in the record's place must not hang the program.
    const int fd = OpenChecked(folder, kRecordName, false, place);
    if (fd < 0) return;
    char text[kReadLimit];
    size_t length = 0;
    int error = 0;
    while (length < sizeof text) {
        const ssize_t n = read(fd, text + length, sizeof text - length);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) error = errno;
        if (n <= 0) break;
        length += static_cast<size_t>(n);
    }
    close(fd);
    if (error != 0) {
        place->state = PlaceState::Unreadable;
        std::snprintf(place->why, sizeof place->why, "%s", ErrorWords(error));
        return;
    }
    // A line cut by the limit names nothing.
    if (length == sizeof text) {
        while (length > 0 && text[length - 1] != '\n') --length;
    }
    place->state = PlaceState::Read;
    place->products = ParseRecord(text, length);
}

// Reads the place's record: its state and the products it names.
void ReadPlace(Place* place) {
    place->products = 0;
    place->why[0] = '\0';
    const int folder = OpenFolder(place, false);
    if (folder < 0) return;
    ReadRecordIn(folder, place);
    close(folder);
}

// Two notes at once (udev runs one per sensor that appears, zorflash notes too) would each
// read the record, add their line and rename their file over it, and the later rename would
// drop the other's line. Each writer holds an flock on the record's folder from its read to
// its rename; the folder needs no lock file of its own. Whoever may read the folder may take
// that lock too, so the wait is bounded: a lock held past it costs this note, with the
// diagnostic line, never a hang.
constexpr unsigned kLockTries = 300;
constexpr long kLockRetryNanoseconds = 10 * 1000 * 1000;  // 3 s in all

int LockFolder(int folder) {
    for (unsigned attempt = 0;; ++attempt) {
        if (flock(folder, LOCK_EX | LOCK_NB) == 0) return 0;
        const int error = errno;
        if (error == EINTR) continue;
        if (error != EWOULDBLOCK || attempt + 1 >= kLockTries) return error;
        const struct timespec pause = {0, kLockRetryNanoseconds};
        nanosleep(&pause, nullptr);
    }
}

void SetPath(Place* place) {
    int n = std::snprintf(place->path, sizeof place->path, "%s", place->base);
    for (unsigned i = 0; i < place->nameCount && n > 0; ++i) {
        n += std::snprintf(place->path + n, sizeof place->path - static_cast<size_t>(n), "/%s",
                           place->names[i]);
        if (static_cast<size_t>(n) >= sizeof place->path) return;
    }
    if (n > 0 && static_cast<size_t>(n) < sizeof place->path) {
        std::snprintf(place->path + n, sizeof place->path - static_cast<size_t>(n), "/%s",
                      kRecordName);
    }
}

// The user's state folder as the XDG base directory rules have it: $XDG_STATE_HOME/zorflash,
// else ~/.local/state/zorflash (a relative XDG_STATE_HOME is ignored). False when neither
// names a folder.
bool UserPlace(Place* place) {
    static const char* const kUnderHome[3] = {".local", "state", "zorflash"};
    static const char* const kUnderState[1] = {"zorflash"};
    const char* state = secure_getenv("XDG_STATE_HOME");
    const char* base = nullptr;
    if (state != nullptr && state[0] == '/') {
        base = state;
        place->names[0] = kUnderState[0];
        place->nameCount = 1;
    } else {
        base = secure_getenv("HOME");
        if (base == nullptr || base[0] != '/') return false;
        for (unsigned i = 0; i < 3; ++i) place->names[i] = kUnderHome[i];
        place->nameCount = 3;
    }
    const int n = std::snprintf(place->base, sizeof place->base, "%s", base);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof place->base) return false;
    place->mayMake = true;
    SetPath(place);
    return true;
}

// The records this run reads, read now. The first is the machine's; the second, for a run
// that is not root's, the user's.
void ReadPlaces(Places* places) {
    Place& machine = places->place[0];
    std::snprintf(machine.base, sizeof machine.base, "%s", kMachineBase);
    machine.names[0] = "zorflash";
    machine.nameCount = 1;
    // The machine's folder is the package's: where it is missing, it is not made here.
    machine.mayMake = false;
    SetPath(&machine);
    places->count = 1;
    if (geteuid() != 0 && UserPlace(&places->place[1])) places->count = 2;
    for (unsigned i = 0; i < places->count; ++i) ReadPlace(&places->place[i]);
}

// One notice for the first record this run cannot use.
void ComplainAboutPlaces(const Places& places) {
    for (unsigned i = 0; i < places.count; ++i) {
        const Place& p = places.place[i];
        if (p.state == PlaceState::Ignored) {
            Complain(PlatNoticeKind::RecordIgnored, p.path, p.why);
            return;
        }
        if (p.state == PlaceState::Unreadable) {
            Complain(PlatNoticeKind::RecordUnreadable, p.path, p.why);
            return;
        }
    }
}

ProductSet ProductsOf(const Places& places) {
    ProductSet products = 0;
    for (unsigned i = 0; i < places.count; ++i) products |= places.place[i].products;
    return products;
}

// Replaces the place's record with the lines of `products`: a new file in the same folder,
// made durable, then renamed over the old one, so a reader finds the old record or the new
// one, never a part. Synced because the record exists for the power cut that may follow
// during the update. Returns 0, or the errno of the step that failed; the folder stays open.
int WriteRecordIn(int folder, ProductSet products) {
    char temporary[48];
    int fd = -1;
    // Made new, never opened as found: whatever sits under a name already is left alone.
    for (unsigned attempt = 0; fd < 0 && attempt < 16; ++attempt) {
        std::snprintf(temporary, sizeof temporary, ".%s.%ld.%u", kRecordName,
                      static_cast<long>(getpid()), attempt);
        fd = openat(folder, temporary, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) return errno;
    char text[2 * 5];
    size_t length = 0;
    for (unsigned i = 0; i < 2; ++i) {
        if (!(products & (1u << i))) continue;
        std::memcpy(text + length, kRecorded[i].line, 4);
        text[length + 4] = '\n';
        length += 5;
    }
    int error = 0;
    // Readable by all: it says nothing private, and every user's run reads the machine's.
    if (fchmod(fd, 0644) != 0 || write(fd, text, length) != static_cast<ssize_t>(length) ||
        fsync(fd) != 0) {
        error = errno != 0 ? errno : EIO;
    }
    if (close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && renameat(folder, temporary, folder, kRecordName) != 0) error = errno;
    if (error != 0) {
        unlinkat(folder, temporary, 0);
    } else {
        fsync(folder);
    }
    return error;
}

// Adds `product` to the place's record under the folder's lock: the record is read again
// once the lock is held, so a line another note wrote since the first read stays. Returns
// 0, or the errno that kept the line out.
int NotePlace(Place* place, ProductSet product) {
    const int folder = OpenFolder(place, place->mayMake);
    if (folder < 0) {
        return place->state == PlaceState::Absent ? ENOENT
               : place->state == PlaceState::Ignored ? EPERM : EACCES;
    }
    int error = LockFolder(folder);
    if (error == 0) {
        ReadRecordIn(folder, place);
        if (place->state == PlaceState::Ignored) {
            error = EPERM;
        } else if (place->state == PlaceState::Unreadable) {
            error = EACCES;
        } else if (!(place->products & product)) {
            error = WriteRecordIn(folder, place->products | product);
        }
    }
    // Closing the folder's last descriptor lets the lock go.
    close(folder);
    return error;
}

void AppendLine(char* text, size_t capacity, size_t* length, const char* line) {
    const int n = std::snprintf(text + *length, capacity - *length, "%s\n", line);
    if (n > 0 && *length + static_cast<size_t>(n) < capacity) *length += static_cast<size_t>(n);
}

}  // namespace

void plat_note_product_met(uint16_t vendorId, uint16_t productId) {
    const ProductSet product = ProductBit(vendorId, productId);
    if (product == 0) return;
    std::lock_guard<std::mutex> lock(writeMutex);
    Places places;
    ReadPlaces(&places);
    ComplainAboutPlaces(places);
    if (ProductsOf(places) & product) return;
    // Root writes the machine's record; anybody else only their own.
    Place& mine = places.place[places.count - 1];
    // A record not to be trusted is left as it was found: the line above named it.
    if (mine.state == PlaceState::Ignored || mine.state == PlaceState::Unreadable) return;
    const int error = NotePlace(&mine, product);
    if (error == 0) return;
    char folder[kPathCapacity];
    std::snprintf(folder, sizeof folder, "%s", mine.path);
    char* slash = std::strrchr(folder, '/');
    if (slash != nullptr) *slash = '\0';
    Complain(PlatNoticeKind::RecordNotWritten, folder, ErrorWords(error));
}

void plat_usb_products_met(uint16_t vendorId, const uint16_t* productIds, uint32_t count,
                           bool* met) {
    ProductSet known = 0;
    bool read = false;
    for (uint32_t i = 0; i < count; ++i) {
        met[i] = false;
        // Linux installs no driver when a device first appears: the boot loader's node is
        // usable once udev has handled it, and the finder waits until it opens. So it counts
        // as met, and the core does not wait for an installation that never comes.
        if (vendorId == kSensorVendorId && productIds[i] == kProductBootLoader) {
            met[i] = true;
            continue;
        }
        const ProductSet product = ProductBit(vendorId, productIds[i]);
        if (product == 0) continue;
        if (!read) {
            Places places;
            ReadPlaces(&places);
            ComplainAboutPlaces(places);
            known = ProductsOf(places);
            read = true;
        }
        met[i] = (known & product) != 0;
    }
}

size_t plat_describe_products_met(char* text, size_t capacity) {
    Places places;
    ReadPlaces(&places);
    size_t length = 0;
    text[0] = '\0';
    for (unsigned i = 0; i < places.count; ++i) {
        const Place& p = places.place[i];
        char line[kPathCapacity + kWhyCapacity + 32];
        int n = std::snprintf(line, sizeof line, "%s: ", p.path);
        const size_t at = n > 0 && static_cast<size_t>(n) < sizeof line ? static_cast<size_t>(n) : 0;
        switch (p.state) {
        case PlaceState::Absent:
            std::snprintf(line + at, sizeof line - at, "none (no such file)");
            break;
        case PlaceState::Ignored:
            std::snprintf(line + at, sizeof line - at, "ignored (%s)", p.why);
            break;
        case PlaceState::Unreadable:
            std::snprintf(line + at, sizeof line - at, "unreadable (%s)", p.why);
            break;
        case PlaceState::Read:
            if (p.products == 0) std::snprintf(line + at, sizeof line - at, "none");
            for (unsigned k = 0, named = 0; k < 2; ++k) {
                if (!(p.products & (1u << k))) continue;
                const size_t used = std::strlen(line);
                std::snprintf(line + used, sizeof line - used, "%s%s", named++ ? ", " : "",
                              kRecorded[k].line);
            }
            break;
        }
        AppendLine(text, capacity, &length, line);
    }
    return length;
}

size_t plat_products_met_clearing(uint16_t vendorId, uint16_t productId, char* text,
                                  size_t capacity) {
    const ProductSet product = ProductBit(vendorId, productId);
    text[0] = '\0';
    if (product == 0) return 0;
    const char* line = kRecorded[product == 1u ? 0 : 1].line;
    Places places;
    ReadPlaces(&places);
    size_t length = 0;
    for (unsigned i = 0; i < places.count; ++i) {
        if (!(places.place[i].products & product)) continue;
        const int n = std::snprintf(text + length, capacity - length, "%sremove the line %s from %s",
                                    length > 0 ? " and " : "", line, places.place[i].path);
        if (n < 0 || length + static_cast<size_t>(n) >= capacity) break;
        length += static_cast<size_t>(n);
    }
    return length;
}
