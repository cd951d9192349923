// zorflash: the Linux program over the sensor's hidraw interfaces.
#include "app/command_line.h"
#include "front/term/term_front.h"
#include "platform/system.h"
#include "sensor/diag_log.h"

namespace {

// Where distributions install firmware files: the program and the vendor's images ship
// apart. Looked in for a family whose image the program was not built with.
const char kSystemFirmwareDirectory[] = "/usr/lib/firmware/zorflash";

FirmwareSource firmware = {nullptr, kSystemFirmwareDirectory, {}, {}};
LongOptions longOptions;
// The platform's notices are written as diagnostic lines, as every other line.
DiagnosticLog diagnosticLog = {nullptr, nullptr};

}  // namespace

int main(int argc, char** argv) {
    const Edition edition = {kEditionLinux, "zorflash"};
    StartDiagnosticLog(&diagnosticLog);
    char commandLine[kCommandLineCapacity];
    term_take_arguments(argc, argv, edition, &longOptions, commandLine, sizeof commandLine,
                        &firmware);

    char lockPath[256];
    plat_sensor_lock_path(lockPath, sizeof lockPath);
    return term_program(edition, longOptions, commandLine,
                        TermRunOptions{lockPath, "zorflash", &firmware});
}
