// The logind inhibitor the Linux platform holds while the update worker runs.
#include <fcntl.h>
#include <gtest/gtest.h>

#include "platform/system.h"

namespace {

int OpenDescriptors() {
    int count = 0;
    for (int fd = 0; fd < 1024; ++fd) count += fcntl(fd, F_GETFD) != -1;
    return count;
}

// Without logind (as on this build machine) nothing is held; with it, the inhibitor's
// descriptor is held between the two calls. Either way the pair leaves nothing open.
TEST(LinuxKeepAwake, OnThenOffLeavesNothingOpen) {
    const int before = OpenDescriptors();
    plat_keep_awake(true);
    const int during = OpenDescriptors();
    EXPECT_LE(during - before, 1);
    plat_keep_awake(true);  // a second "on" takes no second inhibitor
    EXPECT_EQ(OpenDescriptors(), during);
    plat_keep_awake(false);
    EXPECT_EQ(OpenDescriptors(), before);
    plat_keep_awake(false);
    EXPECT_EQ(OpenDescriptors(), before);
}

}  // namespace
