// Entry of the test programs that own a umockdev testbed: they run under the preload
// themselves (so that the "add"/"remove" events of their testbed reach listeners, and the
// programs they start inherit the testbed).
#include <gtest/gtest.h>

#include "emulated_sensor.h"

int main(int argc, char** argv) {
    emulated_sensor_reexec_under_preload(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
