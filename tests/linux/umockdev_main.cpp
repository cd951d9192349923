// Entry of the test programs that own a umockdev testbed: they run under the preload
// themselves (so that the "add"/"remove" events of their testbed reach listeners, and the
// programs they start inherit the testbed), and keep the programs' state in folders of their
// own.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "emulated_sensor.h"
#include "run_program.h"

int main(int argc, char** argv) {
    emulated_sensor_reexec_under_preload(argc, argv);
    if (!isolate_program_state()) {
        std::fprintf(stderr, "cannot give the tests state of their own: %s\n", std::strerror(errno));
        return 1;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
