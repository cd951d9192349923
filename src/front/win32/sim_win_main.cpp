// Entry of zorflash-sim.exe: the Windows dialog over the simulated sensor, which runs on
// the real clock so that a person can follow the update. ZORFLASH_SIM names the scenario
// (family0 when unset); an unknown name runs family0 as well.
#include <windows.h>

#include "front/win32/main_dialog.h"
#include "platform/sim/sim_control.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int showCommand) {
    sim_configure_from_environment(true);
    return win32_run_main_dialog(instance, commandLine, showCommand,
                                 Edition{kEditionSim, "zorflash-sim"});
}
