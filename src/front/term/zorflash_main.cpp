// zorflash: the Linux program over the sensor's hidraw interfaces.
#include "front/term/term_front.h"
#include "platform/system.h"
#include "sensor/diag_log.h"

int main(int argc, char** argv) {
    static ProgramState run;
    char lockPath[256];
    plat_sensor_lock_path(lockPath, sizeof lockPath);
    term_take_arguments(&run, Edition{kEditionLinux, "zorflash"}, kSystemFirmwareDirectory,
                        lockPath, argc, argv);
    return term_program(&run);
}
