// zorflash-sim: the whole program over the simulated sensor, in real time.
//
// ZORFLASH_SIM names the simulated case (default "family0": a family-0 sensor at 0x0140 that
// needs the update). ZORFLASH_SIM_FAST=1 runs the machine on a virtual clock instead, so the
// protocol's waits of seconds cost nothing (for tests and quick looks). ZORFLASH_SIM_STATE
// names a file that keeps the simulated sensor between runs.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "front/term/term_front.h"
#include "platform/sim/sim_control.h"
#include "sensor/diag_log.h"

namespace {

// A simulated run touches no real device, so it has a lock of its own, per user, in a folder
// of the user's own (the lock refuses one others may write). A simulated run writes nothing
// of anyone's, so the environment may name that folder. Without one ($XDG_RUNTIME_DIR unset
// and no /run/user/UID: a root shell with no login session, a container), root locks in /run,
// which only root may write, and another user in their home folder.
void SimLockPath(char* path, size_t capacity) {
    const char* runtimeDir = std::getenv("XDG_RUNTIME_DIR");
    if (runtimeDir != nullptr && runtimeDir[0] != '\0') {
        std::snprintf(path, capacity, "%s/zorflash-sim.lock", runtimeDir);
        return;
    }
    char userFolder[64];
    std::snprintf(userFolder, sizeof userFolder, "/run/user/%u", static_cast<unsigned>(getuid()));
    std::snprintf(path, capacity, "%s/zorflash-sim.lock", userFolder);
    struct stat status;
    if (stat(userFolder, &status) == 0) return;  // whatever it is, the lock checks it
    const char* home = std::getenv("HOME");
    if (geteuid() == 0) {
        std::snprintf(path, capacity, "/run/zorflash-sim.lock");
    } else if (home != nullptr && home[0] == '/') {
        std::snprintf(path, capacity, "%s/.zorflash-sim.lock", home);
    }
}

}  // namespace

int main(int argc, char** argv) {
    static ProgramState program;
    char lockPath[256];
    SimLockPath(lockPath, sizeof lockPath);
    // Placeholders are carried; --firmware-dir tries real files on the simulated sensor.
    term_take_arguments(&program, Edition{kEditionSim, "zorflash-sim"}, nullptr, lockPath, argc, argv);
    // Real time with a per-command latency, unless ZORFLASH_SIM_FAST=1 asks for the
    // virtual clock; both variables are read by the simulated machine itself. Texts that
    // touch no sensor are answered whatever the case.
    const bool sensorNeeded = program.options.outcome == LongOptionsOutcome::Run ||
                              program.options.outcome == LongOptionsOutcome::ShowInfo;
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
        return ProgramRefuse(&program, term_face(), 2, reason);
    }
    // ZORFLASH_SIM_STATE keeps the simulated sensor in a file from one run to the next, so
    // that a run sees what the last one left (the version written, a boot loader it is stuck
    // in). A file that cannot be read as a state ends the run before the sensor is asked.
    const char* statePath = std::getenv("ZORFLASH_SIM_STATE");
    const bool keepsState = sensorNeeded && statePath != nullptr && statePath[0] != '\0';
    char reason[1024];
    if (keepsState && !sim_restore_state_file(statePath, reason, sizeof reason)) {
        return ProgramRefuse(&program, term_face(), 2, reason);
    }
    const int status = term_program(&program);
    // A run whose sensor cannot be kept must not look like one the next run can follow.
    if (keepsState && !sim_keep_state_file(statePath, reason, sizeof reason)) {
        std::fprintf(stderr, "zorflash-sim: %s\n", reason);
        return 2;
    }
    return status;
}
