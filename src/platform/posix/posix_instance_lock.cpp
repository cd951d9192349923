// One instance at a time: a second program started while one runs would fight it for the
// sensor. An advisory lock on a file, released by the kernel when the process ends however
// it ends, so a crashed run leaves nothing stale behind.
//
// A lock only keeps two updates apart while every run locks the same file, so the file must
// stay where it is: it lives in a folder only root (or, for a run from the build folder, only
// the user) may change, and is taken only when its folder, its owner and the name that
// reaches it are as they must be. Whatever else is found at its path (a link, a FIFO, a file
// nobody may open, another user's file) means the lock cannot be taken, and the run stops
// before it touches the sensor: a lock that failed open would let two updates run.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/system.h"

namespace {

// The package's folder (packaging/zorflash.tmpfiles makes it at boot): root's, mode 0755,
// holding the lock file that every user may open but only root may remove or replace.
const char kPackageFolder[] = "/run/zorflash";
const char kLockName[] = "zorflash.lock";
// The package's udev rule, where the package or an install to /usr/local puts it.
const char* const kPackageRules[] = {"/usr/lib/udev/rules.d/70-zorflash.rules",
                                     "/etc/udev/rules.d/70-zorflash.rules"};

int lockFd = -1;

const char* FileKindWords(mode_t mode) {
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISLNK(mode)) return "a symbolic link";
    return "not a regular file";
}

// Root's or this run's: nobody else may have made or changed it.
bool OwnedByRootOrUs(const struct stat& status) {
    return status.st_uid == 0 || status.st_uid == geteuid();
}

// Opens the folder that holds the lock, when it is one nobody else may change: a real
// folder (not a link to one), root's or this run's, that neither its group nor others may
// write. Sticky is not enough: another user could still make the file before us. -1, with
// the reason, otherwise.
int OpenLockFolder(const char* folder, char* reason, size_t capacity) {
    const int fd = open(folder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat status;
    if (fd < 0 || fstat(fd, &status) != 0) {
        const int error = errno;
        if (fd >= 0) close(fd);
        std::snprintf(reason, capacity, "its folder %s %s", folder,
                      error == ENOTDIR || error == ELOOP ? "is not a folder"
                      : error == ENOENT                 ? "is missing"
                                                        : std::strerror(error));
        return -1;
    }
    if (!OwnedByRootOrUs(status) || (status.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        close(fd);
        std::snprintf(reason, capacity,
                      "its folder %s may be changed by others: it must belong to root or to "
                      "this run's user, and only its owner may write it",
                      folder);
        return -1;
    }
    return fd;
}

}  // namespace

InstanceLock plat_lock_instance(const char* path, char* reason, size_t capacity) {
    if (capacity > 0) reason[0] = '\0';
    // The folder and the name in it: the file is opened and looked at again through the
    // folder's descriptor, so both calls see the same folder.
    char folder[256] = ".";
    const char* slash = std::strrchr(path, '/');
    const char* name = slash != nullptr ? slash + 1 : path;
    if (slash != nullptr) {
        std::snprintf(folder, sizeof folder, "%.*s", slash == path ? 1 : static_cast<int>(slash - path), path);
    }
    // Root makes the package's folder as the package would, when a run takes the lock: a
    // run that only answers --help or --version leaves the machine as it found it. Whatever
    // is already there is left as it is and checked.
    if (std::strcmp(folder, kPackageFolder) == 0 && geteuid() == 0) mkdir(kPackageFolder, 0755);
    const int folderFd = OpenLockFolder(folder, reason, capacity);
    if (folderFd < 0) return InstanceLock::Unusable;

    // Never through a symbolic link: another user could point one at a file of ours, which
    // we would create or lock. Never blocking: opening a FIFO would wait for a writer. The
    // file is only readable by others: a lock is taken through a read-only descriptor as
    // well (flock needs no write access), so a run of another user still finds it held,
    // and nobody but its creator can write to it.
    const int flags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;
    int fd = openat(folderFd, name, O_RDWR | O_CREAT | flags, 0644);
    if (fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS)) {
        fd = openat(folderFd, name, O_RDONLY | flags);
    }
    if (fd < 0) {
        const int error = errno;
        close(folderFd);
        std::snprintf(reason, capacity, "%s",
                      error == ELOOP    ? "it is a symbolic link"
                      : error == ENOENT ? "it is missing, and only root may make it"
                                        : std::strerror(error));
        return InstanceLock::Unusable;
    }
    struct stat status;
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        const int error = errno;
        std::snprintf(reason, capacity, "it is %s",
                      S_ISREG(status.st_mode) ? std::strerror(error) : FileKindWords(status.st_mode));
        close(fd);
        close(folderFd);
        return InstanceLock::Unusable;
    }
    if (!OwnedByRootOrUs(status)) {
        std::snprintf(reason, capacity, "it belongs to user %u, neither root nor this run's user",
                      static_cast<unsigned>(status.st_uid));
        close(fd);
        close(folderFd);
        return InstanceLock::Unusable;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        close(fd);
        close(folderFd);
        if (error == EWOULDBLOCK) return InstanceLock::Held;
        std::snprintf(reason, capacity, "%s", std::strerror(error));
        return InstanceLock::Unusable;
    }
    // The name must still lead to the file now locked: one removed and made again after
    // our open would let the next run lock another file while this one writes the sensor.
    struct stat named;
    const bool same = fstatat(folderFd, name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
                      named.st_dev == status.st_dev && named.st_ino == status.st_ino;
    close(folderFd);
    if (!same) {
        close(fd);
        std::snprintf(reason, capacity, "it was removed or replaced while it was being locked");
        return InstanceLock::Unusable;
    }
    lockFd = fd;
    return InstanceLock::Taken;
}

namespace {

// A simulated run writes nothing of anyone's, so the environment may name the folder of its
// lock. Without one ($XDG_RUNTIME_DIR unset and no /run/user/UID: a root shell with no login
// session, a container), root locks in /run, which only root may write, and another user in
// their home folder. Whatever the path names, the lock checks it.
void SimulatedLockPath(char* path, size_t capacity) {
    const char* runtimeDir = std::getenv("XDG_RUNTIME_DIR");
    if (runtimeDir != nullptr && runtimeDir[0] != '\0') {
        std::snprintf(path, capacity, "%s/zorflash-sim.lock", runtimeDir);
        return;
    }
    char userFolder[64];
    std::snprintf(userFolder, sizeof userFolder, "/run/user/%u", static_cast<unsigned>(getuid()));
    std::snprintf(path, capacity, "%s/zorflash-sim.lock", userFolder);
    struct stat status;
    if (stat(userFolder, &status) == 0) return;
    const char* home = std::getenv("HOME");
    if (geteuid() == 0) {
        std::snprintf(path, capacity, "/run/zorflash-sim.lock");
    } else if (home != nullptr && home[0] == '/') {
        std::snprintf(path, capacity, "%s/.zorflash-sim.lock", home);
    }
}

}  // namespace

// Root's runs and those of the seat's user meet in the package's folder. Without it (a
// build run from its folder):
// - root makes it when it takes the lock, as the package would, and it is checked like the
//   package's;
// - another user locks in a folder of their own: $XDG_RUNTIME_DIR (theirs, mode 0700, no
//   link), else /run/user/<uid>. That is no weaker: without the package no udev rule gives
//   a user the sensor, so such a run cannot write it unless the administrator gave access
//   some other way; where the package's rule gives access, its folder is used (and the run
//   refused while it is missing).
// With no such folder the path names the package's folder, and the lock says it is missing.
void plat_instance_lock_path(bool simulated, char* path, size_t capacity) {
    if (simulated) {
        SimulatedLockPath(path, capacity);
        return;
    }
    std::snprintf(path, capacity, "%s/%s", kPackageFolder, kLockName);
    struct stat status;
    if (lstat(kPackageFolder, &status) == 0) return;  // whatever it is, it is checked
    if (geteuid() == 0) return;  // made when the lock is taken
    // The package's rule gives the seat's user the sensor: such a run must meet root's in
    // the package's folder, and is refused until the folder exists.
    for (const char* rule : kPackageRules) {
        if (access(rule, F_OK) == 0) return;
    }
    const char* runtime = secure_getenv("XDG_RUNTIME_DIR");
    char folder[200];
    if (runtime != nullptr && runtime[0] == '/') {
        std::snprintf(folder, sizeof folder, "%s", runtime);
    } else {
        std::snprintf(folder, sizeof folder, "/run/user/%u", static_cast<unsigned>(geteuid()));
    }
    if (lstat(folder, &status) == 0 && S_ISDIR(status.st_mode) && status.st_uid == geteuid() &&
        (status.st_mode & 077) == 0) {
        std::snprintf(path, capacity, "%s/%s", folder, kLockName);
    }
}

InstanceLock plat_lock_editions(const char* path, char* refusal, size_t capacity) {
    char reason[400];
    const InstanceLock lock = plat_lock_instance(path, reason, sizeof reason);
    if (lock == InstanceLock::Held) {
        std::snprintf(refusal, capacity,
                      "another instance is already running (lock %s); only one may update "
                      "the sensor at a time.",
                      path);
    } else if (lock == InstanceLock::Unusable && std::strncmp(reason, "its folder", 10) == 0) {
        std::snprintf(refusal, capacity,
                      "cannot take the lock %s (%s); nothing was sent to the sensor. The "
                      "package makes %s at boot (systemd-tmpfiles --create).",
                      path, reason, kPackageFolder);
    } else if (lock == InstanceLock::Unusable) {
        std::snprintf(refusal, capacity,
                      "cannot take the lock %s (%s); nothing was sent to the sensor. Remove "
                      "what is there when no zorflash runs.",
                      path, reason);
    }
    return lock;
}

void plat_unlock_instance() {
    if (lockFd >= 0) {
        close(lockFd);
        lockFd = -1;
    }
}
