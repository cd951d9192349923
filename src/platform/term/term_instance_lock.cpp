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
    int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd >= 0) {
        // Whoever creates it lets every user's run take it later.
        fchmod(fd, 0666);
    } else {
        // A file made by another user without write access can still be locked.
        fd = open(path, O_RDONLY | O_CLOEXEC);
    }
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
