// zorflash: the Linux program over the sensor's hidraw interfaces.
#include <sys/stat.h>

#include "app/command_line.h"
#include "platform/term/term_front.h"

int main(int argc, char** argv) {
    // /run/lock is shared by every user, so two users cannot update the sensor at once;
    // /tmp stands in on a machine without it.
    struct stat lockDir;
    const bool runLock = stat("/run/lock", &lockDir) == 0 && S_ISDIR(lockDir.st_mode);
    const char* lockPath = runLock ? "/run/lock/zorflash.lock" : "/tmp/zorflash.lock";

    char commandLine[kTokenCapacity * 4];
    TermJoinArguments(argc, argv, commandLine, sizeof commandLine);
    return TermRun(commandLine, TermRunOptions{lockPath, "zorflash"});
}
