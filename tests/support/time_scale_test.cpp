// The time-scale preload: its line between the scaled clock and the real one, called in the
// built library, and each wait a program can make, run under it (time_scale_probe.cpp).
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <time.h>

#include <cstdint>
#include <string>

#include "time_scale.h"

namespace {

constexpr int64_t kSecond = 1000000000;
constexpr int64_t kBase = 5000 * kSecond;  // the real clock at load
// The preload's exported arithmetic, each (scale, base or now, value).
constexpr char kClock[] = "zorflash_time_scale_clock";
constexpr char kDeadline[] = "zorflash_time_scale_real_deadline";
constexpr char kWall[] = "zorflash_time_scale_wall_deadline";

struct MappingCase {
    const char* function;
    const char* what;
    int64_t scale, origin, value, expected;
};
const MappingCase kMappings[] = {
    {kClock, "at load it reads the real clock", 10, kBase, kBase, kBase},
    {kClock, "1 real ms later, 10 ms", 10, kBase, kBase + 1000000, kBase + 10000000},
    {kClock, "saturates", 1000, kBase, INT64_MAX / 100, INT64_MAX},
    {kDeadline, "10 s after load: 1 s", 10, kBase, kBase + 10 * kSecond, kBase + kSecond},
    {kDeadline, "rounded up", 10, kBase, kBase + 11, kBase + 2},
    {kDeadline, "before load: a tenth as far", 10, kBase, kBase - 15, kBase - 1},
    {kDeadline, "a 2 s wait: 0.2 s", 10, 0, 2 * kSecond, kSecond / 5},
    {kDeadline, "a 1 ns wait: 1 ns", 10, 0, 1, 1},
    {kWall, "5 s ahead: 0.5 s", 10, kBase, kBase + 5 * kSecond, kBase + kSecond / 2},
    {kWall, "past: kept", 10, kBase, kBase - 3, kBase - 3},
};

TEST(TimeScalePreloadTest, MapsBetweenTheScaledAndTheRealClock) {
    void* preload = dlopen(ZORFLASH_TIME_SCALE_PRELOAD, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(preload, nullptr) << dlerror();
    for (const MappingCase& c : kMappings) {
        using Mapping = int64_t (*)(int64_t, int64_t, int64_t);
        const auto map = reinterpret_cast<Mapping>(dlsym(preload, c.function));
        ASSERT_NE(map, nullptr) << c.function;
        EXPECT_EQ(map(c.scale, c.origin, c.value), c.expected) << c.function << ": " << c.what;
    }
    dlclose(preload);
}

// Each wait is a minute long on the probe's clock: at scale 1000 it takes 60 ms, and one
// left unscaled outlasts the run's bound.
ProgramRun Probe(const char* preload, const char* what, bool* loaded) {
    const std::string probe = ZORFLASH_TIME_SCALE_PROBE;
    return run_time_scaled({preload, 1000}, probe, {probe, what}, {}, 20, loaded);
}

class TimeScaleWaitTest : public ::testing::TestWithParam<const char*> {};

TEST_P(TimeScaleWaitTest, LastsItsLengthOnTheScaledClock) {
    bool loaded = false;
    const ProgramRun run = Probe(ZORFLASH_TIME_SCALE_PRELOAD, GetParam(), &loaded);
    EXPECT_TRUE(loaded);
    EXPECT_FALSE(run.timedOut) << "unscaled";
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
}

INSTANTIATE_TEST_SUITE_P(Waits, TimeScaleWaitTest,
                         ::testing::Values("usleep", "sleep", "nanosleep", "clock_nanosleep",
                                           "clock_nanosleep_wall", "clock_nanosleep_deadline",
                                           "poll", "ppoll", "select", "pselect", "epoll_wait",
                                           "epoll_pwait", "cond_timedwait_monotonic",
                                           "cond_timedwait_wall", "cond_clockwait", "sem_timedwait",
                                           "sem_clockwait", "timerfd", "timerfd_deadline"));

int64_t Monotonic() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * kSecond + now.tv_nsec;
}

// The probe's clock follows the line from a base the preload took when it loaded.
TEST(TimeScalePreloadTest, ClockGoesOnFromTheRealOneAtLoad) {
    bool loaded = false;
    const int64_t before = Monotonic();
    const ProgramRun run = Probe(ZORFLASH_TIME_SCALE_PRELOAD, "clock", &loaded);
    const int64_t after = Monotonic();
    EXPECT_TRUE(loaded);
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_LE(before, std::stoll(run.out));
    EXPECT_LE(std::stoll(run.out), after);
}

// The harness tells a run whose preload did not load (ld.so goes on without it).
TEST(TimeScalePreloadTest, HarnessTellsAPreloadThatDidNotLoad) {
    bool loaded = true;
    const ProgramRun run = Probe("/nonexistent/libtime-scale.so", "clock", &loaded);
    EXPECT_FALSE(loaded);
    EXPECT_EQ(run.out, "no preload\n");
}

}  // namespace
