// zorflash: the Linux program over the sensor's hidraw interfaces.
#include "front/term/term_front.h"
#include "platform/instance_lock.h"

namespace {

// Where distributions install firmware files: the program and the vendor's images ship
// apart. Looked in for a family whose image the program was not built with.
const char kSystemFirmwareDirectory[] = "/usr/lib/firmware/zorflash";

ProgramState run;

}  // namespace

int main(int argc, char** argv) {
    run.firmware = FirmwareSource{nullptr, kSystemFirmwareDirectory, {}, {}};
    char lockPath[256];
    plat_sensor_lock_path(lockPath, sizeof lockPath);
    run.lockPath = lockPath;
    ProgramTakeArguments(&run, Edition{kEditionLinux, "zorflash"}, argc, argv);
    return term_program(&run);
}
