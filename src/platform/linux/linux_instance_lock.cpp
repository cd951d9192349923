// One instance at a time: a second program started while one runs would fight it for the
// sensor. An advisory lock on a file, released by the kernel when the process ends however
// it ends, so a crashed run leaves nothing stale behind.
//
// The lock lives in a folder every user may write (/run/lock), so whatever is found at its
// path may have been planted there: a link, a FIFO, a file nobody may open. Anything but a
// regular file that can be opened and locked means the lock cannot be taken, and the run
// stops before it touches the sensor: a lock that failed open would let two updates run.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/instance_lock.h"

namespace {
int lockFd = -1;

const char* FileKindWords(mode_t mode) {
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    if (S_ISSOCK(mode)) return "a socket";
    return "not a regular file";
}
}  // namespace

InstanceLock plat_lock_instance(const char* path, char* reason, size_t capacity) {
    if (capacity > 0) reason[0] = '\0';
    // Never through a symbolic link: another user could point one at a file of ours, which
    // we would create or lock. Never blocking: opening a FIFO would wait for a writer. The
    // file is only readable by others: a lock is taken through a read-only descriptor as
    // well, so a second user's run still finds it held, and nobody but its creator can
    // write to it.
    const int flags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;
    int fd = open(path, O_RDWR | O_CREAT | flags, 0644);
    if (fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS)) {
        fd = open(path, O_RDONLY | flags);
    }
    if (fd < 0) {
        const int error = errno;
        std::snprintf(reason, capacity, "%s",
                      error == ELOOP ? "it is a symbolic link" : std::strerror(error));
        return InstanceLock::Unusable;
    }
    struct stat status;
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        const int error = errno;
        std::snprintf(reason, capacity, "it is %s",
                      S_ISREG(status.st_mode) ? std::strerror(error) : FileKindWords(status.st_mode));
        close(fd);
        return InstanceLock::Unusable;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        close(fd);
        if (error == EWOULDBLOCK) return InstanceLock::Held;
        std::snprintf(reason, capacity, "%s", std::strerror(error));
        return InstanceLock::Unusable;
    }
    lockFd = fd;
    return InstanceLock::Taken;
}

const char* plat_sensor_lock_path() {
    struct stat folder;
    const bool runLock = stat("/run/lock", &folder) == 0 && S_ISDIR(folder.st_mode);
    return runLock ? "/run/lock/zorflash.lock" : "/tmp/zorflash.lock";
}

InstanceLock plat_lock_editions(const char* defaultPath, char* refusal, size_t capacity) {
    const char* path = std::getenv("ZORFLASH_LOCK_FILE");
    if (path == nullptr || path[0] == '\0') path = defaultPath;
    char reason[256];
    const InstanceLock lock = plat_lock_instance(path, reason, sizeof reason);
    if (lock == InstanceLock::Held) {
        std::snprintf(refusal, capacity,
                      "another instance is already running (lock %s); only one may update "
                      "the sensor at a time.",
                      path);
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
