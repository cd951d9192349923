// Reading a whole regular file without ever waiting on it. Shared by the Linux platform and
// the simulated edition on Linux: its firmware folder is on the real machine.
//
// fopen() of a FIFO waits for a writer that may never come, and ftell() on a folder answers
// LONG_MAX; so the path is looked at first, only a regular file is opened, and the open
// does not block should a FIFO have taken its place since.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/system.h"

namespace {

PlatFileKind KindOf(mode_t mode) {
    if (S_ISREG(mode)) return kFileRegular;
    if (S_ISFIFO(mode)) return kFileFifo;
    if (S_ISCHR(mode) || S_ISBLK(mode)) return kFileDevice;
    if (S_ISDIR(mode)) return kFileFolder;
    return kFileOtherKind;
}

bool Failed(PlatFileRead* read, int error) {
    read->kind = error == ENOENT || error == ENOTDIR ? kFileMissing : kFileUnreadable;
    if (read->kind == kFileUnreadable) {
        std::snprintf(read->reason, sizeof read->reason, "%s", std::strerror(error));
    }
    return false;
}

// Reads until the end of the file; one byte past `capacity` makes it too large.
bool ReadAll(int fd, uint8_t* buffer, size_t capacity, PlatFileRead* read) {
    size_t got = 0;
    for (;;) {
        uint8_t extra;
        const bool full = got == capacity;
        const ssize_t n = full ? ::read(fd, &extra, 1) : ::read(fd, buffer + got, capacity - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return Failed(read, errno);
        if (n == 0) break;
        if (full) {
            read->kind = kFileTooLarge;
            if (read->size <= capacity) read->size = capacity + 1;
            return false;
        }
        got += static_cast<size_t>(n);
    }
    read->kind = kFileRegular;
    read->length = got;
    return true;
}

}  // namespace

bool plat_read_regular_file(const char* path, uint8_t* buffer, size_t capacity,
                            PlatFileRead* read) {
    *read = PlatFileRead{kFileUnreadable, 0, 0, ""};
    struct stat found;
    if (stat(path, &found) != 0) {
        const int error = errno;
        // stat() answers ENOENT for a link that leads nowhere as for no entry at all; only
        // the second is missing.
        struct stat link;
        if ((error == ENOENT || error == ENOTDIR) && lstat(path, &link) == 0) {
            read->kind = kFileDanglingLink;
            return false;
        }
        return Failed(read, error);
    }
    // A device is not even opened: opening one can start it (a tape rewinds, a modem dials).
    if (!S_ISREG(found.st_mode)) {
        read->kind = KindOf(found.st_mode);
        return false;
    }
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return Failed(read, errno);
    struct stat opened;
    bool result = false;
    if (fstat(fd, &opened) != 0) {
        result = Failed(read, errno);
    } else if (!S_ISREG(opened.st_mode)) {
        read->kind = KindOf(opened.st_mode);  // replaced between the look and the open
    } else {
        read->size = static_cast<uint64_t>(opened.st_size);
        if (read->size > capacity) {
            read->kind = kFileTooLarge;
        } else {
            result = ReadAll(fd, buffer, capacity, read);
        }
    }
    close(fd);
    return result;
}

namespace {

bool WriteFailed(const char* what, int error, char* reason, size_t capacity) {
    std::snprintf(reason, capacity, "%s: %s", what, std::strerror(error));
    return false;
}

// What sits at a path the report may not replace, in a sentence's words; null for what it
// may (a regular file, a link, which is replaced itself).
const char* RefusedKindWords(mode_t mode) {
    if (S_ISREG(mode) || S_ISLNK(mode)) return nullptr;
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISDIR(mode)) return "a folder";
    return "not a regular file";
}

bool Refused(const char* words, char* reason, size_t capacity) {
    std::snprintf(reason, capacity, "it is %s; only a regular file or a new name is replaced",
                  words);
    return false;
}

// The new file takes the old one's owner and permission bits before it takes its place: a
// run as root must not leave a collector's 0600 file as root's 0644.
bool KeepOwnerAndMode(int fd, const struct stat& old) {
    struct stat made;
    if (fstat(fd, &made) != 0) return false;
    if ((made.st_uid != old.st_uid || made.st_gid != old.st_gid) &&
        fchown(fd, old.st_uid, old.st_gid) != 0) {
        return false;
    }
    return fchmod(fd, old.st_mode & 0777) == 0;
}

bool WriteAll(int fd, const uint8_t* bytes, size_t length) {
    while (length > 0) {
        const ssize_t n = ::write(fd, bytes, length);
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) errno = EIO;
        if (n <= 0) return false;
        bytes += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

bool plat_write_file_atomically(const char* path, const uint8_t* bytes, size_t length,
                                char* reason, size_t capacity) {
    // The new file's name is the target's with a suffix: the same folder, so the rename
    // stays on one file system. O_EXCL with O_NOFOLLOW refuses whatever already sits at
    // that name (a link planted there would else lead the bytes elsewhere); a few names
    // are tried, then the write fails.
    // Only a regular file, a link or no entry at all is replaced: a device node, a FIFO or a
    // socket renamed over would be gone from its folder (/dev/null as a regular file).
    struct stat old;
    bool replacesFile = false;
    if (lstat(path, &old) == 0) {
        const char* refused = RefusedKindWords(old.st_mode);
        if (refused != nullptr) return Refused(refused, reason, capacity);
        replacesFile = S_ISREG(old.st_mode);
    } else if (errno != ENOENT) {
        return WriteFailed("cannot look at it", errno, reason, capacity);
    }
    char temporary[4096];
    int fd = -1;
    int error = 0;
    for (unsigned attempt = 0; attempt < 8 && fd < 0; ++attempt) {
        const int made = std::snprintf(temporary, sizeof temporary, "%s.tmp%ld-%u", path,
                                       static_cast<long>(getpid()), attempt);
        if (made < 0 || static_cast<size_t>(made) >= sizeof temporary) {
            return WriteFailed("cannot write beside it", ENAMETOOLONG, reason, capacity);
        }
        fd = open(temporary, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK,
                  0644);
        error = errno;
        if (fd < 0 && error != EEXIST) break;
    }
    if (fd < 0) return WriteFailed("cannot create a new file beside it", error, reason, capacity);
    if (replacesFile && !KeepOwnerAndMode(fd, old)) {
        error = errno;
        close(fd);
        unlink(temporary);
        return WriteFailed("cannot give the new file the owner and mode of the one it replaces",
                           error, reason, capacity);
    }
    bool written = WriteAll(fd, bytes, length);
    error = errno;
    if (written && fsync(fd) != 0) {
        written = false;
        error = errno;
    }
    if (close(fd) != 0 && written) {
        written = false;
        error = errno;
    }
    if (!written) {
        unlink(temporary);
        return WriteFailed("cannot write a new file beside it", error, reason, capacity);
    }
    // Looked at again just before the rename: what took the name meanwhile is refused too.
    struct stat now;
    if (lstat(path, &now) == 0 && RefusedKindWords(now.st_mode) != nullptr) {
        unlink(temporary);
        return Refused(RefusedKindWords(now.st_mode), reason, capacity);
    }
    if (rename(temporary, path) != 0) {
        error = errno;
        unlink(temporary);
        return WriteFailed("cannot replace it", error, reason, capacity);
    }
    // The rename itself reaches the disk with its folder.
    char folder[4096];
    std::snprintf(folder, sizeof folder, "%s", path);
    char* slash = std::strrchr(folder, '/');
    if (slash == nullptr) {
        std::strcpy(folder, ".");
    } else {
        slash[slash == folder ? 1 : 0] = '\0';
    }
    const int folderFd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK);
    if (folderFd >= 0) {
        fsync(folderFd);
        close(folderFd);
    }
    return true;
}

void plat_write_standard(bool toError, const char* text) {
    FILE* file = toError ? stderr : stdout;
    std::fputs(text, file);
    std::fflush(file);
}
