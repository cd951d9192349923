// zorflash-sim: the whole program over the simulated sensor, in real time.
//
// ZORFLASH_SIM names the simulated case (default "family0": a family-0 sensor at 0x0140 that
// needs the update). ZORFLASH_SIM_FAST=1 runs the machine on a virtual clock instead, so the
// protocol's waits of seconds cost nothing (for tests and quick looks).
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "app/command_line.h"
#include "front/term/term_front.h"
#include "platform/sim/sim_control.h"
#include "sensor/diag_log.h"

namespace {

// Placeholders are carried; --firmware-dir tries real files on the simulated sensor.
FirmwareSource firmware = {nullptr, nullptr, {}, {}};
LongOptions longOptions;
DiagnosticLog diagnosticLog = {nullptr, nullptr};

}  // namespace

int main(int argc, char** argv) {
    const Edition edition = {kEditionSim, "zorflash-sim"};
    StartDiagnosticLog(&diagnosticLog);
    char commandLine[kCommandLineCapacity];
    term_take_arguments(argc, argv, edition, &longOptions, commandLine, sizeof commandLine,
                        &firmware);
    // Real time with a per-command latency, unless ZORFLASH_SIM_FAST=1 asks for the
    // virtual clock; both variables are read by the simulated machine itself. Texts that
    // touch no sensor are answered whatever the case.
    const bool sensorNeeded = longOptions.outcome == LongOptionsOutcome::Run ||
                              longOptions.outcome == LongOptionsOutcome::ShowInfo;
    if (sensorNeeded && !sim_configure_from_environment(true)) {
        char reason[1024];
        size_t length = static_cast<size_t>(std::snprintf(
            reason, sizeof reason, "unknown ZORFLASH_SIM case \"%.200s\"; known cases:",
            std::getenv("ZORFLASH_SIM")));
        for (const char* const* name = sim_scenario_names(); *name != nullptr; ++name) {
            if (length < sizeof reason) {
                length += static_cast<size_t>(
                    std::snprintf(reason + length, sizeof reason - length, " %s", *name));
            }
        }
        return term_refuse(edition, longOptions, 2, reason);
    }

    // A simulated run touches no real device, so it has a lock of its own, per user, in a
    // folder of the user's own (the lock refuses one others may write). A simulated run
    // writes nothing of anyone's, so the environment may name that folder.
    char lockPath[256];
    const char* runtimeDir = std::getenv("XDG_RUNTIME_DIR");
    if (runtimeDir != nullptr && runtimeDir[0] != '\0') {
        std::snprintf(lockPath, sizeof lockPath, "%s/zorflash-sim.lock", runtimeDir);
    } else {
        std::snprintf(lockPath, sizeof lockPath, "/run/user/%u/zorflash-sim.lock",
                      static_cast<unsigned>(getuid()));
    }

    return term_program(edition, longOptions, commandLine,
                        TermRunOptions{lockPath, "zorflash-sim", &firmware});
}
