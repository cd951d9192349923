// Entry of the test programs that own a umockdev testbed: they run under the preload
// themselves (so that the "add"/"remove" events of their testbed reach listeners, and the
// programs they start inherit the testbed), and keep the programs' state in folders of their
// own.
#include <gtest/gtest.h>

#include <cstdio>

#include "emulated_sensor.h"
#include "run_program.h"

int main(int argc, char** argv) {
    emulated_sensor_reexec_under_preload(argc, argv);
    if (!isolate_program_state()) {
        std::perror("isolate_program_state");
        return 1;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
