// One instance at a time: a second program started while one runs would fight it for the
// sensor. An advisory lock on a file, released by the kernel when the process ends however
// it ends, so a crashed run leaves nothing stale behind.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/term/term_model.h"

namespace {
int lockFd = -1;
}

int TermLockInstance(const char* path) {
    // Never through a symbolic link: in a shared folder (/tmp) another user could point one
    // at a file of ours, which we would create or lock. The file is only readable by
    // others: a lock is taken through a read-only descriptor as well, so a second user's
    // run still finds it held, and nobody but its creator can write to it.
    int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0 && errno != ELOOP) fd = open(path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return 1;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        close(fd);
        return error == EWOULDBLOCK ? 0 : 1;
    }
    lockFd = fd;
    return 1;
}

void TermUnlockInstance() {
    if (lockFd >= 0) {
        close(lockFd);
        lockFd = -1;
    }
}
