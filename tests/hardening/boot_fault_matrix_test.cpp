// Faults around the flash commands: the switch into the boot loader (refused, a boot loader
// that is late, later than the wait, never there, not openable), a boot loader already
// running, every class of boot-loader version reached both ways, a sensor unplugged before
// Update, and a sensor that comes back late or never after the update. Each runs the whole
// worker for both sensor families.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "hardening_support.h"

namespace {

const char kSequenceModule[] = "Module Name : FlashWriteVerify";
const char kVersionModule[] = "Module Name : GetFWVersion";
const char kNoSensorAfterUpdate[] = "Failed to open ORVELL USB sensor";

enum class End {
    Updated,           // normal mode, image, mark, the new version read back
    UpdatedUnread,     // image and mark; the version could not be read back in time
    Untouched,         // the application flash exactly as before the update
};

struct BootCase {
    std::string name;
    SimScenario scenario;
    // The request is the family's default sensor as an earlier query saw it, not what a
    // query at the worker's start would see (a sensor unplugged since, or not yet openable).
    bool earlierRequest = false;
    uint32_t startAtMs = 0;        // the sensor has been on the bus this long at the start
    std::vector<uint32_t> results;
    End end = End::Updated;
    int mode = -1;                 // SimMode at the worker's end, -1: not checked
    uint32_t settleMs = 0;         // then wait this long on the machine's clock ...
    int modeAfterSettle = -1;      // ... and expect this mode
    std::vector<std::string> extraDiagnostics;  // after the sequence's own lines
    std::string currentText;       // when set: the current-version field at the end
};

std::vector<uint32_t> Repeated(uint32_t first, uint32_t rest) {
    std::vector<uint32_t> results{first};
    results.insert(results.end(), kMaxAttempts - 1, rest);
    return results;
}

void ForgetBootLoader(SimScenario* s) {
    uint32_t kept = 0;
    for (uint32_t i = 0; i < s->productsMetCount; ++i) {
        if (s->productsMet[i].vendorId == 0xF0A5 && s->productsMet[i].productId == 0x0094) continue;
        s->productsMet[kept++] = s->productsMet[i];
    }
    s->productsMetCount = kept;
}

std::vector<BootCase> BootCases(uint16_t family) {
    std::vector<BootCase> cases;
    const SimScenario base = sim_scenario_for_family(family);
    auto add = [&](const std::string& name, auto change) {
        BootCase c;
        c.name = name;
        c.scenario = base;
        change(c);
        cases.push_back(c);
    };

    // Each class of boot-loader version, reached by switching a sensor in normal mode and
    // found already running when the update begins.
    struct VersionClass {
        uint16_t version;
        bool served;
    };
    const VersionClass versions[] = {{0x0000, false}, {0x000F, false}, {0x0010, true},
                                     {0x0011, true},  {0x001F, true},  {0x0020, false},
                                     {0xFFFF, false}};
    for (const VersionClass& v : versions) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%04X", v.version);
        add(std::string("switched to boot loader ") + hex, [&](BootCase& c) {
            c.scenario.sensor.bootLoaderVersion = v.version;
            if (v.served) {
                c.results = {kResultOk};
                c.mode = kSimModeNormal;
            } else {
                // Sent back to normal mode at once, nothing erased, never retried.
                c.results = {kResultUnsupported};
                c.end = End::Untouched;
                c.settleMs = 10000;
                c.modeAfterSettle = kSimModeNormal;
            }
        });
        add(std::string("boot loader ") + hex + " already running", [&](BootCase& c) {
            c.scenario.sensor.startInBootLoader = 1;
            c.scenario.sensor.bootLoaderVersion = v.version;
            if (v.served) {
                c.results = {kResultOk};
                c.mode = kSimModeNormal;
            } else {
                // Left as it was found: no exit command, nothing erased.
                c.results = {kResultUnsupported};
                c.end = End::Untouched;
                c.mode = kSimModeBootLoader;
            }
        });
    }
    add("old boot loader whose exit report stays pending", [](BootCase& c) {
        c.scenario.sensor.bootLoaderVersion = 0x000F;
        c.scenario.sensor.faults.outputWriteHangs = kSimEveryTime;
        c.results = {kResultUnsupported};
        c.end = End::Untouched;
        c.mode = kSimModeBootLoader;
        c.extraDiagnostics = {DiagLine(kSequenceModule, "Filed to exit flash mode!!")};
    });
    add("switch request refused", [](BootCase& c) {
        c.scenario.sensor.faults.switchRefused = 1;
        c.results.assign(kMaxAttempts, kResultSwitch);
        c.end = End::Untouched;
        c.mode = kSimModeNormal;
    });
    add("boot loader late, found at the last poll", [](BootCase& c) {
        // 2000 ms after the request the polls begin; the one at 99 000 ms is the last.
        c.scenario.sensor.bootAppearDelayMs = 2000 + 99000;
        c.results = {kResultOk};
        c.mode = kSimModeNormal;
    });
    add("boot loader one poll too late", [](BootCase& c) {
        // Shows up while the worker pauses; the next attempt finds it running.
        c.scenario.sensor.bootAppearDelayMs = 2000 + 100000;
        c.results = {kResultBootTimeout, kResultOk};
        c.mode = kSimModeNormal;
    });
    // The same two with the millisecond tick count passing 0xFFFFFFFF during the wait.
    add("boot loader at the last poll, tick count wrapping", [](BootCase& c) {
        c.scenario.tickStart = 0xFFFFFFFFu - 40000;
        c.scenario.sensor.bootAppearDelayMs = 2000 + 99000;
        c.results = {kResultOk};
        c.mode = kSimModeNormal;
    });
    add("boot loader one poll too late, tick count wrapping", [](BootCase& c) {
        c.scenario.tickStart = 0xFFFFFFFFu - 40000;
        c.scenario.sensor.bootAppearDelayMs = 2000 + 100000;
        c.results = {kResultBootTimeout, kResultOk};
        c.mode = kSimModeNormal;
    });
    add("boot loader never appears", [](BootCase& c) {
        c.scenario.sensor.faults.bootLoaderNeverAppears = 1;
        c.results = Repeated(kResultBootTimeout, kResultNoSensor);
        c.end = End::Untouched;
        c.mode = kSimModeAbsent;
    });
    add("boot loader cannot be opened", [](BootCase& c) {
        c.scenario.sensor.faults.bootUnopenable = 1;
        c.results = Repeated(kResultBootTimeout, kResultNoSensor);
        c.end = End::Untouched;
        c.mode = kSimModeBootLoader;
    });
    add("boot loader never installed on this machine", [](BootCase& c) {
        ForgetBootLoader(&c.scenario);
        c.results = {kResultOk};
        c.mode = kSimModeNormal;
    });
    add("opens refused for 2.5 s after each appearance", [](BootCase& c) {
        c.scenario.sensor.faults.openDeniedAfterAppearMs = 2500;
        c.startAtMs = 60000;
        c.results = {kResultOk};
        c.mode = kSimModeNormal;
    });
    add("sensor unplugged before Update", [](BootCase& c) {
        c.scenario.sensorAttached = 0;
        c.earlierRequest = true;
        c.results.assign(kMaxAttempts, kResultNoSensor);
        c.end = End::Untouched;
    });
    add("sensor back late, within the version wait", [](BootCase& c) {
        c.scenario.sensor.returnDelayMs = 55000;
        c.results = {kResultOk};
        c.mode = kSimModeNormal;
    });
    add("sensor back after the version wait", [](BootCase& c) {
        c.scenario.sensor.returnDelayMs = 65000;
        c.results = {kResultOk};
        c.end = End::UpdatedUnread;
        c.mode = kSimModeAbsent;
        c.settleMs = 10000;
        c.modeAfterSettle = kSimModeNormal;
        c.extraDiagnostics = {DiagLine(kVersionModule, kNoSensorAfterUpdate)};
    });
    add("normal-mode interface cannot be opened", [](BootCase& c) {
        c.scenario.sensor.faults.normalUnopenable = 1;
        c.earlierRequest = true;
        c.results.assign(kMaxAttempts, kResultNoSensor);
        c.end = End::Untouched;
        c.mode = kSimModeNormal;
    });
    add("report 5 unreadable after the update", [family](BootCase& c) {
        c.scenario.sensor.faults.failReport5 = 1;
        c.earlierRequest = true;
        c.results = {kResultOk};
        c.mode = kSimModeNormal;
        // Family 1 keeps the panel word it had before, as the word could not be read again:
        // the field shows the old variant beside the new version.
        if (family == 1) c.currentText = "0139 P0002";
    });
    add("report 6 unreadable after the update", [](BootCase& c) {
        c.scenario.sensor.faults.failReport6 = 1;
        c.earlierRequest = true;
        c.results = {kResultOk};
        c.mode = kSimModeNormal;
    });
    add("sensor never comes back after the update", [](BootCase& c) {
        c.scenario.sensor.faults.neverReturns = 1;
        c.results = {kResultOk};
        c.end = End::UpdatedUnread;
        c.mode = kSimModeAbsent;
        c.extraDiagnostics = {DiagLine(kVersionModule, kNoSensorAfterUpdate)};
    });
    return cases;
}

void RunCase(uint16_t family, const BootCase& c) {
    // The application flash as the scenario starts, to tell an untouched sensor.
    sim_reset(c.scenario);
    const std::vector<uint8_t> flashBefore = ApplicationFlash();

    const SensorInfo request = DefaultRequest(family);
    const WorkerRun run = RunWorker(c.scenario, c.earlierRequest ? &request : nullptr,
                                    c.startAtMs);
    const std::string context = c.name + "\n" + Describe(run);

    EXPECT_EQ(run.request.kind, family) << context;
    EXPECT_EQ(run.results, c.results) << context;
    EXPECT_EQ(run.exitCode, 2u) << context;
    EXPECT_EQ(run.status, ExpectedMessage(c.results.back())) << context;

    std::vector<std::string> diagnostics;
    for (uint32_t r : c.results) {
        if (r != kResultOk && r != kResultUnsupported) {
            diagnostics.push_back(DiagLine(kSequenceModule, SequenceDiagnostic(r)));
        }
    }
    diagnostics.insert(diagnostics.end(), c.extraDiagnostics.begin(), c.extraDiagnostics.end());
    EXPECT_EQ(run.diagnostics, diagnostics) << context;

    for (size_t i = 0; i < Attempts().size(); ++i) {
        const AttemptRecord& a = Attempts()[i];
        EXPECT_EQ(a.opensDuring, a.closesDuring) << "attempt " << i + 1 << "\n" << context;
        EXPECT_EQ(a.badClosesDuring, 0u) << "attempt " << i + 1 << "\n" << context;
        EXPECT_EQ(a.openHandlesAfter, 0u) << "attempt " << i + 1 << "\n" << context;
        EXPECT_EQ(a.listsOpenAfter, 0u) << "attempt " << i + 1 << "\n" << context;
    }
    EXPECT_EQ(sim_counters().openHandles, 0u) << context;

    if (c.mode >= 0) {
        EXPECT_EQ(sim_mode(), static_cast<SimMode>(c.mode)) << context;
    }
    switch (c.end) {
    case End::Updated:
        EXPECT_TRUE(FlashHoldsImage(family)) << context;
        EXPECT_TRUE(MarkSet()) << context;
        EXPECT_EQ(sim_sensor_version(), c.scenario.sensor.versionAfterUpdate) << context;
        if (c.currentText.empty()) {
            EXPECT_EQ(run.currentVersion, run.newVersion) << context;
        } else {
            EXPECT_EQ(run.currentVersion, c.currentText) << context;
        }
        break;
    case End::UpdatedUnread:
        EXPECT_TRUE(FlashHoldsImage(family)) << context;
        EXPECT_TRUE(MarkSet()) << context;
        EXPECT_EQ(run.currentVersion, run.currentBefore) << context;
        break;
    case End::Untouched:
        EXPECT_TRUE(ApplicationFlash() == flashBefore) << "the flash was changed\n" << context;
        EXPECT_EQ(sim_sensor_counters().erases, 0u) << context;
        EXPECT_NE(run.status, TEXT_UPDATE_COMPLETE) << context;
        break;
    }
    if (c.settleMs != 0) {
        sim_advance_ms(c.settleMs);
        EXPECT_EQ(sim_mode(), static_cast<SimMode>(c.modeAfterSettle)) << context;
    }
    if (c.results.back() == kResultUnsupported && c.scenario.sensor.startInBootLoader) {
        EXPECT_EQ(sim_sensor_counters().bootCommands, 0u) << "no command to a boot loader "
                                                             "found running\n" << context;
        EXPECT_EQ(sim_sensor_counters().outputWrites, 0u) << context;
    }
    if (c.scenario.sensor.faults.outputWriteHangs != 0) {
        EXPECT_EQ(sim_counters().outputCancels, 1u) << context;
    }
}

class BootFaultMatrix : public ::testing::TestWithParam<uint16_t> {};

TEST_P(BootFaultMatrix, EveryBootModeFault) {
    const uint16_t family = GetParam();
    const std::vector<BootCase> cases = BootCases(family);
    ASSERT_EQ(cases.size(), 14u + 17u);  // 7 versions both ways, 17 further faults
    int failedCases = 0;
    for (const BootCase& c : cases) {
        SCOPED_TRACE(c.name);
        const int failuresBefore = FailureCount();
        RunCase(family, c);
        if (FailureCount() > failuresBefore && ++failedCases == 5) {
            ADD_FAILURE() << "stopped after five failing scenarios";
            break;
        }
    }
    std::printf("boot-mode fault matrix, family %u: %zu scenarios\n",
                static_cast<unsigned>(family), cases.size());
    RecordProperty("scenarios", static_cast<int>(cases.size()));
}

INSTANTIATE_TEST_SUITE_P(Families, BootFaultMatrix, ::testing::Values(0, 1),
                         [](const ::testing::TestParamInfo<uint16_t>& info) {
                             return "Family" + std::to_string(info.param);
                         });

}  // namespace
