// zorflash-sim: the whole program over the simulated sensor, in real time.
//
// ZORFLASH_SIM names the simulated case (default "family0": a family-0 sensor at 0x0140 that
// needs the update). ZORFLASH_SIM_FAST=1 runs the machine on a virtual clock instead, so the
// protocol's waits of seconds cost nothing (for tests and quick looks). ZORFLASH_SIM_STATE
// names a file that keeps the simulated sensor between runs.
#include <cstdio>

#include "front/term/term_front.h"
#include "platform/sim/sim_control.h"

int main(int argc, char** argv) {
    static ProgramState program;
    ProgramTakeArguments(&program, Edition{kEditionSim, "zorflash-sim"}, argc, argv);
    // Texts that touch no sensor are answered whatever the case.
    const bool asksSensor = ProgramAsksSensor(&program);
    char reason[1024];
    if (asksSensor && !sim_begin_edition_run(reason, sizeof reason)) {
        return ProgramRefuse(&program, term_face(), 2, reason);
    }
    const int status = term_program(&program);
    if (asksSensor && !sim_end_edition_run(reason, sizeof reason)) {
        std::fprintf(stderr, "zorflash-sim: %s\n", reason);
        return 2;
    }
    return status;
}
