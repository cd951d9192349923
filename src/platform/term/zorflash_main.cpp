// zorflash: the Linux program over the sensor's hidraw interfaces.
#include "app/command_line.h"
#include "platform/term/term_front.h"

int main(int argc, char** argv) {
    // /run/lock is shared by every user, so two users cannot update the sensor at once.
    char commandLine[kTokenCapacity * 4];
    TermJoinArguments(argc, argv, commandLine, sizeof commandLine);
    return TermRun(commandLine, TermRunOptions{"/run/lock/zorflash.lock", "zorflash"});
}
