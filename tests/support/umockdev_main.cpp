// Entry of the test programs that own a umockdev testbed: they run under the preload
// themselves (so that the "add"/"remove" events of their testbed reach listeners, and the
// programs they start inherit the testbed), and keep the programs' state in folders of their
// own.
//
// The testbed is made here, before any test starts a thread: making it writes UMOCKDEV_DIR
// into the environment, and the preload and libumockdev's ioctl worker read the environment
// from their own threads. Made later, from inside a test, that write could race a getenv in
// a thread left running by an earlier test.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "emulated_sensor.h"
#include "run_program.h"

int main(int argc, char** argv) {
    emulated_sensor_reexec_under_preload(argc, argv);
    if (!isolate_program_state()) {
        std::perror("isolate_program_state");
        return 1;
    }
    // Listing the tests runs outside the preload, where no testbed is made; a test program
    // started by a test (UMOCKDEV_DIR already set) works in its parent's testbed.
    if (std::getenv("UMOCKDEV_DIR") == nullptr) emulated_testbed_ready();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
