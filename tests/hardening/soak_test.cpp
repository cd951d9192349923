// The soak: one hundred complete updates in a row in one process, each with faults at
// random places of the boot-loader protocol and of the switch into it (seeded, so a run
// can be repeated: ZORFLASH_SOAK_SEED picks another seed). After each update the sensor
// is back in normal mode with the image and its new version, or the worker's final
// message names a failure; no device record stays open, and neither the heap in use nor
// the process's open file descriptors grow from one update to the next.
#include <gtest/gtest.h>
#include <malloc.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "hardening_support.h"
#include "recording_view.h"

// ---- Heap in use -------------------------------------------------------------------------
// Every operator new and delete of this test binary is counted by the usable size of its
// block, so a leak of even one small allocation per update shows as growth.

namespace {
std::atomic<int64_t> heapInUse{0};

void* CountedAlloc(size_t size) {
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p == nullptr) throw std::bad_alloc();
    heapInUse += static_cast<int64_t>(malloc_usable_size(p));
    return p;
}

void CountedFree(void* p) {
    if (p == nullptr) return;
    heapInUse -= static_cast<int64_t>(malloc_usable_size(p));
    std::free(p);
}
}  // namespace

void* operator new(size_t size) { return CountedAlloc(size); }
void* operator new[](size_t size) { return CountedAlloc(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    try {
        return CountedAlloc(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
    try {
        return CountedAlloc(size);
    } catch (...) {
        return nullptr;
    }
}
void operator delete(void* p) noexcept { CountedFree(p); }
void operator delete[](void* p) noexcept { CountedFree(p); }
void operator delete(void* p, size_t) noexcept { CountedFree(p); }
void operator delete[](void* p, size_t) noexcept { CountedFree(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { CountedFree(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { CountedFree(p); }

namespace {

constexpr int kUpdates = 100;
constexpr uint32_t kDefaultSeed = 20261208;

size_t OpenFileDescriptors() {
    size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        (void)entry;
        ++count;
    }
    return count;
}

// Brings the machine and the dialog back to a fixed state, so what remains allocated can be
// compared between updates.
void SettleMachine() {
    recording_view_reset();
    sim_reset(sim_scenario_for_family(1));
}

const char* const kFailureMessages[] = {
    "Failed to enter a flash mode.",
    "Program Error. ",
    "Failed to entr a normal mode.",
    "Verify Error",
    "Failed to erase a firmware.",
    "Failed to send a Feature Report.",
    "Failed to verify a updating mark.",
    TEXT_MCU_MISMATCH,
    "File type mismatch.",
};

bool IsFailureMessage(const std::string& text) {
    for (const char* m : kFailureMessages) {
        if (text == m) return true;
    }
    return false;
}

uint32_t Pick(std::mt19937& rng, uint32_t below) {
    return std::uniform_int_distribution<uint32_t>(0, below - 1)(rng);
}

// One update's faults. Left out on purpose, because the protocol gives the host no way to
// notice them and the fault matrix pins what happens: a boot loader that ignores the exit
// command and a sensor that never comes back after the update (both end in "Update
// complete." with the sensor not in normal mode).
SimScenario RandomScenario(std::mt19937& rng, uint16_t family, std::string* summary) {
    SimScenario s = sim_scenario_for_family(family);
    const uint32_t blocks = ImageBlocks(family);
    const uint32_t commandsPerAttempt = 5 + blocks + 2 + blocks + 1 + 1;
    static const SimFaultKind kKinds[] = {kSimFaultFailSet,     kSimFaultFailGet,
                                          kSimFaultRefuse,      kSimFaultWrongOpcode,
                                          kSimFaultWrongSequence, kSimFaultDeviceGone};
    const uint32_t ruleCount = Pick(rng, 4);
    for (uint32_t i = 0; i < ruleCount; ++i) {
        SimFaultRule rule;
        // The sensor leaving for good is rarer than a single bad exchange.
        rule.kind = kKinds[Pick(rng, 12) == 0 ? 5 : Pick(rng, 5)];
        if (Pick(rng, 2) == 0) {
            // Somewhere in the first three attempts' commands.
            rule.commandNumber = 1 + Pick(rng, 3 * commandsPerAttempt);
        } else {
            // A block of programming or verification, wherever it comes.
            rule.opcode = static_cast<int16_t>(1 + Pick(rng, 2));
            rule.matchAddress = 1;
            rule.address = 0x4000 + Pick(rng, blocks) * 128;
        }
        if (rule.kind == kSimFaultRefuse && rule.opcode < 0) {
            rule.opcode = static_cast<int16_t>(Pick(rng, 3));  // never the exit
        }
        static const uint32_t kTimes[] = {1, 1, 2, 3, kSimEveryTime};
        rule.times = kTimes[Pick(rng, 5)];
        sim_scenario_add_fault(&s, rule);
        *summary += " rule(kind " + std::to_string(rule.kind) + " #" +
                    std::to_string(rule.commandNumber) + " op " + std::to_string(rule.opcode) +
                    " addr " + std::to_string(rule.address) + " times " +
                    std::to_string(rule.times) + ")";
    }
    switch (Pick(rng, 10)) {
    case 0:
        s.sensor.faults.switchRefused = 1;
        *summary += " switch refused";
        break;
    case 1:
        s.sensor.bootAppearDelayMs = 1000 + Pick(rng, 110000);
        *summary += " boot loader after " + std::to_string(s.sensor.bootAppearDelayMs) + " ms";
        break;
    case 2:
        s.sensor.startInBootLoader = 1;
        *summary += " already in the boot loader";
        break;
    case 3:
        s.sensor.bootLoaderVersion = static_cast<uint16_t>(Pick(rng, 64));
        *summary += " boot loader version " + std::to_string(s.sensor.bootLoaderVersion);
        break;
    case 4:
        s.sensor.returnDelayMs = 1000 + Pick(rng, 50000);
        *summary += " back after " + std::to_string(s.sensor.returnDelayMs) + " ms";
        break;
    default:
        break;
    }
    return s;
}

TEST(Soak, HundredUpdatesWithRandomFaults) {
    uint32_t seed = kDefaultSeed;
    if (const char* text = std::getenv("ZORFLASH_SOAK_SEED")) {
        seed = static_cast<uint32_t>(std::strtoul(text, nullptr, 0));
    }
    std::printf("soak: seed %u (ZORFLASH_SOAK_SEED to repeat another)\n", seed);
    std::mt19937 rng(seed);

    // A warm-up update with the most attempts and the most commands: the dialog record and
    // the machine reach their largest size here, before the baseline is taken.
    {
        SCOPED_TRACE("warm-up");
        SimScenario longest = sim_scenario_for_family(1);
        SimFaultRule rule;
        rule.kind = kSimFaultRefuse;
        rule.opcode = 2;
        rule.matchAddress = 1;
        rule.address = ImageEnd(1) - 127;
        rule.times = kSimEveryTime;
        sim_scenario_add_fault(&longest, rule);
        const WorkerRun warmUp = RunWorker(longest);
        ASSERT_EQ(warmUp.results.size(), kMaxAttempts) << Describe(warmUp);
    }
    SettleMachine();
    const int64_t heapBaseline = heapInUse.load();
    const size_t descriptorBaseline = OpenFileDescriptors();

    int completed = 0;
    int failed = 0;
    int failedScenarios = 0;
    for (int round = 1; round <= kUpdates; ++round) {
        const int failuresBefore = FailureCount();
        {
            const uint16_t family = static_cast<uint16_t>(Pick(rng, 2));
            std::string summary = "update " + std::to_string(round) + ", family " +
                                  std::to_string(family) + ":";
            const SimScenario scenario = RandomScenario(rng, family, &summary);
            SCOPED_TRACE(summary);
            const WorkerRun run = RunWorker(scenario);
            const std::string context = Describe(run);
            ASSERT_FALSE(run.results.empty()) << context;
            EXPECT_LE(run.results.size(), kMaxAttempts) << context;
            EXPECT_EQ(run.exitCode, 2u) << context;
            EXPECT_EQ(run.status, ExpectedMessage(run.results.back())) << context;

            if (run.results.back() == kResultOk) {
                ++completed;
                EXPECT_EQ(run.status, TEXT_UPDATE_COMPLETE) << context;
                EXPECT_EQ(sim_mode(), kSimModeNormal) << context;
                EXPECT_TRUE(FlashHoldsImage(family)) << context;
                EXPECT_TRUE(MarkSet()) << context;
                EXPECT_EQ(sim_sensor_version(), scenario.sensor.versionAfterUpdate) << context;
                EXPECT_EQ(run.currentVersion, run.newVersion) << context;
            } else {
                ++failed;
                // A failed write mark clears the status line instead of naming the failure
                // (the dialog's table gives it no text); every other failure has its words.
                if (run.results.back() != kResultMark) {
                    EXPECT_TRUE(IsFailureMessage(run.status)) << context;
                }
                EXPECT_NE(run.status, TEXT_UPDATE_COMPLETE) << context;
            }
            for (size_t i = 0; i < Attempts().size(); ++i) {
                const AttemptRecord& a = Attempts()[i];
                EXPECT_EQ(a.opensDuring, a.closesDuring) << "attempt " << i + 1 << context;
                EXPECT_EQ(a.badClosesDuring, 0u) << "attempt " << i + 1 << context;
                EXPECT_EQ(a.openHandlesAfter, 0u) << "attempt " << i + 1 << context;
                EXPECT_EQ(a.listsOpenAfter, 0u) << "attempt " << i + 1 << context;
            }
            EXPECT_EQ(sim_counters().openHandles, 0u) << context;
        }
        // Measured with every record of this update gone (its trace and texts too).
        SettleMachine();
        EXPECT_EQ(heapInUse.load(), heapBaseline) << "heap in use changed after update " << round;
        EXPECT_EQ(OpenFileDescriptors(), descriptorBaseline)
            << "open file descriptors changed after update " << round;
        if (FailureCount() > failuresBefore && ++failedScenarios == 5) {
            ADD_FAILURE() << "stopped after five failing updates";
            break;
        }
    }
    std::printf("soak: %d updates, %d complete, %d ended with a failure message; heap in use "
                "%lld bytes after each\n",
                completed + failed, completed, failed, static_cast<long long>(heapBaseline));
    // With faults in one update out of two or more, both endings must have been seen, or
    // the soak did not test what it claims to.
    EXPECT_GE(completed, 20);
    EXPECT_GE(failed, 10);
}

}  // namespace
