// zorflash: the Linux program over the sensor's hidraw interfaces.
#include <sys/stat.h>

#include "app/command_line.h"
#include "front/term/term_front.h"

namespace {

// Where distributions install firmware files: the program and the vendor's images ship
// apart. Looked in for a family whose image the program was not built with.
const char kSystemFirmwareDirectory[] = "/usr/lib/firmware/zorflash";

FirmwareSource firmware = {nullptr, kSystemFirmwareDirectory, {}, {}};
LongOptions longOptions;

}  // namespace

int main(int argc, char** argv) {
    const Edition edition = {kEditionLinux, "zorflash"};
    char commandLine[kTokenCapacity * 4];
    TermTakeArguments(argc, argv, edition, &longOptions, commandLine, sizeof commandLine,
                      &firmware);

    // /run/lock is shared by every user, so two users cannot update the sensor at once;
    // /tmp stands in on a machine without it.
    struct stat lockDir;
    const bool runLock = stat("/run/lock", &lockDir) == 0 && S_ISDIR(lockDir.st_mode);
    const char* lockPath = runLock ? "/run/lock/zorflash.lock" : "/tmp/zorflash.lock";
    return TermProgram(edition, longOptions, commandLine,
                       TermRunOptions{lockPath, "zorflash", &firmware});
}
