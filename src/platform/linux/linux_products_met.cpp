// The record of the sensor products this machine has met, kept by the program itself.
//
// Windows records every USB device it ever attached, and a sensor left in its boot loader by
// an interrupted update (which does not tell its family) is told apart by what it was before.
// Linux keeps no such record, so zorflash keeps one: a text file "products-met" with a line
// "0090" or "00e6" for each normal-mode product seen. It lives machine-wide in
// /var/lib/zorflash (made by the package and by `cmake --install`) where this user may write
// there, else in the user's state folder ($XDG_STATE_HOME/zorflash, ~/.local/state/zorflash
// by default); both are read. Anybody who can write one of the folders may have put anything
// there, so nothing is taken from a file beyond which of the two product lines it holds.
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/platform.h"
#include "platform/sensor_ids.h"

namespace {

constexpr char kMachineFolder[] = "/var/lib/zorflash";
constexpr char kRecordName[] = "products-met";
constexpr size_t kFolderCapacity = 1024;
constexpr size_t kPathCapacity = kFolderCapacity + 32;
// A record of ours is at most ten bytes; a longer file is looked at this far only.
constexpr size_t kReadLimit = 256;

struct RecordedProduct {
    uint16_t productId;
    const char* line;
};
// The products a record may name; bit i of a ProductSet stands for row i.
const RecordedProduct kRecorded[2] = {
    {kProductFamily0, "0090"},
    {kProductFamily1, "00e6"},
};
typedef unsigned ProductSet;

// Notes come from the thread that identifies the sensor and from the update's worker.
std::mutex writeMutex;
// A record that cannot be read or written costs one diagnostic line per run, not one per
// question.
std::atomic<bool> complained{false};

ProductSet ProductBit(uint16_t vendorId, uint16_t productId) {
    if (vendorId != kSensorVendorId) return 0;
    for (unsigned i = 0; i < 2; ++i) {
        if (kRecorded[i].productId == productId) return 1u << i;
    }
    return 0;
}

void Complain(const char* what, const char* where, int error) {
    if (complained.exchange(true)) return;
    const char* text = strerrordesc_np(error);
    char line[kDiagLineCapacity];
    // A path too long for the line is cut: the line stays one line.
    const int length = std::snprintf(line, sizeof line,
                  "---------- < Module Name : ProductsMet > ---------\n"
                  "The record of the sensors met in %s %s: %s",
                  where, what, text != nullptr ? text : "unknown error");
    if (length > 0) plat_debug_output(line);
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

// The products the record in `folder` names: none when it is absent or cannot be read.
ProductSet ReadRecord(const char* folder) {
    char path[kPathCapacity];
    std::snprintf(path, sizeof path, "%s/%s", folder, kRecordName);
    // Non-blocking: a FIFO in the record's place must not hang the program.
    const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        if (errno != ENOENT && errno != ENOTDIR) Complain("cannot be read", path, errno);
        return 0;
    }
    char text[kReadLimit];
    size_t length = 0;
    int error = 0;
    struct stat status;
    if (fstat(fd, &status) != 0) error = errno;
    else if (!S_ISREG(status.st_mode)) error = S_ISDIR(status.st_mode) ? EISDIR : EINVAL;
    while (error == 0 && length < sizeof text) {
        const ssize_t n = read(fd, text + length, sizeof text - length);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) error = errno;
        if (n <= 0) break;
        length += static_cast<size_t>(n);
    }
    close(fd);
    if (error != 0) {
        Complain("cannot be read", path, error);
        return 0;
    }
    // A line cut by the limit names nothing.
    if (length == sizeof text) {
        while (length > 0 && text[length - 1] != '\n') --length;
    }
    return ParseRecord(text, length);
}

// $XDG_STATE_HOME/zorflash, else ~/.local/state/zorflash, as the XDG base directory rules
// have it (a relative XDG_STATE_HOME is ignored). 0 when neither names a folder.
int UserFolder(char* folder, size_t capacity) {
    const char* state = std::getenv("XDG_STATE_HOME");
    int n = 0;
    if (state != nullptr && state[0] == '/') {
        n = std::snprintf(folder, capacity, "%s/zorflash", state);
    } else {
        const char* home = std::getenv("HOME");
        if (home == nullptr || home[0] != '/') return 0;
        n = std::snprintf(folder, capacity, "%s/.local/state/zorflash", home);
    }
    return n > 0 && static_cast<size_t>(n) < capacity;
}

ProductSet ReadBothRecords(ProductSet* machine, ProductSet* user) {
    *machine = ReadRecord(kMachineFolder);
    *user = 0;
    char folder[kFolderCapacity];
    if (UserFolder(folder, sizeof folder)) *user = ReadRecord(folder);
    return *machine | *user;
}

// mkdir -p, private to the user as the XDG rules ask of the state folder.
void MakeFolders(const char* folder) {
    char path[kFolderCapacity];
    std::snprintf(path, sizeof path, "%s", folder);
    for (char* slash = std::strchr(path + 1, '/');; slash = std::strchr(slash + 1, '/')) {
        if (slash != nullptr) *slash = '\0';
        mkdir(path, 0700);
        if (slash == nullptr) return;
        *slash = '/';
    }
}

// Replaces the record in `folder` with the lines of `products`: a new file in the same
// folder, made durable, then renamed over the old one, so a reader finds the old record or
// the new one, never a part. Synced because the record exists for the power cut that may
// follow during the update. Returns 0, or the errno of the step that failed.
int WriteRecord(const char* folder, ProductSet products) {
    char path[kPathCapacity];
    char temporary[kPathCapacity];
    std::snprintf(path, sizeof path, "%s/%s", folder, kRecordName);
    std::snprintf(temporary, sizeof temporary, "%s/.%s.XXXXXX", folder, kRecordName);
    const int fd = mkostemp(temporary, O_CLOEXEC);
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
    if (error == 0 && rename(temporary, path) != 0) error = errno;
    if (error != 0) {
        unlink(temporary);
        return error;
    }
    const int directory = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory >= 0) {
        fsync(directory);
        close(directory);
    }
    return 0;
}

}  // namespace

void plat_note_product_met(uint16_t vendorId, uint16_t productId) {
    const ProductSet product = ProductBit(vendorId, productId);
    if (product == 0) return;
    std::lock_guard<std::mutex> lock(writeMutex);
    ProductSet machine = 0;
    ProductSet user = 0;
    if (ReadBothRecords(&machine, &user) & product) return;
    // The machine's folder is the package's: where it is missing, it is not made here.
    int error = WriteRecord(kMachineFolder, machine | product);
    if (error == 0) return;
    char folder[kFolderCapacity];
    if (!UserFolder(folder, sizeof folder)) {
        Complain("cannot be written", kMachineFolder, error);
        return;
    }
    MakeFolders(folder);
    error = WriteRecord(folder, user | product);
    if (error != 0) Complain("cannot be written", folder, error);
}

void plat_usb_products_met(uint16_t vendorId, const uint16_t* productIds, uint32_t count,
                           uint8_t* met) {
    ProductSet known = 0;
    bool read = false;
    for (uint32_t i = 0; i < count; ++i) {
        met[i] = 0;
        // Linux installs no driver when a device first appears: the boot loader's node is
        // usable once udev has handled it, and the finder waits until it opens. So it counts
        // as met, and the core does not wait for an installation that never comes.
        if (vendorId == kSensorVendorId && productIds[i] == kProductBootLoader) {
            met[i] = 1;
            continue;
        }
        const ProductSet product = ProductBit(vendorId, productIds[i]);
        if (product == 0) continue;
        if (!read) {
            ProductSet machine = 0;
            ProductSet user = 0;
            known = ReadBothRecords(&machine, &user);
            read = true;
        }
        met[i] = (known & product) != 0;
    }
}
