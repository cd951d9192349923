// The fault matrix of the flash commands: for every class of boot-loader command in a
// complete update and every fault the simulated sensor can inject there, in the first
// attempt only and in every attempt, the whole update worker runs against the simulated
// sensor and is checked for the result of each attempt, the final message, the diagnostic
// lines, the device records it opened and closed, and what the sensor holds at the end.
//
// The scenarios are generated from the image layout and the two tables below; the
// expectations come from the protocol's rules, written out here once, not from the code
// under test.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "hardening_support.h"

namespace {

const char kSequenceModule[] = "Module Name : FlashWriteVerify";

// One boot-loader command of a complete update, found by opcode and address so that the
// fault fires on it in whichever attempt it is sent.
struct CommandSite {
    std::string name;
    uint8_t opcode;
    uint32_t address;
    const char* module;     // module text of the operation that sends it
    uint32_t failResult;    // the sequence's result when this command fails
};

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

// Every command class of an update with the image of `kind`: the five erase blocks, the
// first, 128th, 256th and last block of programming and of verification, both marks, the
// mark check and the exit.
std::vector<CommandSite> CommandSites(uint16_t kind) {
    std::vector<CommandSite> sites;
    for (uint32_t block = 0; block < 5; ++block) {
        sites.push_back({"erase block " + std::to_string(block), 0, block,
                         "Module Name : flash_erase", kResultErase});
    }
    const uint32_t blocks = ImageBlocks(kind);
    const uint32_t classes[] = {1, 128, 256, blocks};
    for (uint32_t k : classes) {
        const uint32_t address = 0x4000 + (k - 1) * 128;
        sites.push_back({"write block " + std::to_string(k) + " at " + Hex(address), 1, address,
                         "Module Name : flash_write", kResultWrite});
    }
    sites.push_back({"first write mark", 1, 0x23FF8, "Module Name : flash_marking", kResultMark});
    sites.push_back({"second write mark", 1, 0x1FBF0, "Module Name : flash_marking", kResultMark});
    for (uint32_t k : classes) {
        const uint32_t address = 0x4000 + (k - 1) * 128;
        sites.push_back({"verify block " + std::to_string(k) + " at " + Hex(address), 2, address,
                         "Module Name : flash_verify", kResultVerify});
    }
    sites.push_back({"mark check", 2, 0x23FF8, "Module Name : is_flash_marking", kResultMarkCheck});
    sites.push_back({"exit", 3, 0, "Module Name : flash_end", kResultExit});
    return sites;
}

struct FaultKind {
    SimFaultKind kind;
    const char* name;
};

const FaultKind kFaultKinds[] = {
    {kSimFaultFailSet, "set fails"},
    {kSimFaultFailGet, "get fails"},
    {kSimFaultRefuse, "refused with a matching echo"},
    {kSimFaultWrongOpcode, "wrong opcode echo"},
    {kSimFaultWrongSequence, "wrong sequence echo"},
    {kSimFaultDeviceGone, "device gone"},
};

// What a fault does to the attempt that meets it, by the protocol's rules.
struct AttemptEffect {
    bool fails;          // the attempt ends with the site's failure result
    std::string stage;   // the failing operation's own diagnostic message, "" for none
    bool exitIgnored;    // the exit is not carried out, yet nothing tells the host
};

AttemptEffect EffectOf(const CommandSite& site, SimFaultKind fault) {
    const bool erase = site.opcode == 0;
    const bool exit = site.opcode == 3;
    switch (fault) {
    case kSimFaultFailSet:
    case kSimFaultDeviceGone:
        return {true, "010", false};
    case kSimFaultFailGet:
        // The exit reads no reply, so a reply that cannot be read does not matter to it.
        if (exit) return {false, "", false};
        return {true, "020", false};
    case kSimFaultRefuse:
        // The erase judges its replies itself and logs no entry for a refusal; the exit is
        // sent without reading a reply, so a boot loader that ignores it goes unnoticed.
        if (erase) return {true, "", false};
        if (exit) return {false, "", true};
        return {true, "050:Not ACK", false};
    case kSimFaultWrongOpcode:
    case kSimFaultWrongSequence:
        // A reply that does not name the erase command lets the erase go on; the exit reads
        // no reply at all.
        if (erase || exit) return {false, "", false};
        return {true, "050:Not ACK", false};
    default:
        return {false, "", false};
    }
}

enum class Repeat { FirstAttempt, EveryAttempt };

struct Scenario {
    uint16_t kind;
    CommandSite site;
    FaultKind fault;
    Repeat repeat;
};

std::string NameOf(const Scenario& s) {
    return "family " + std::to_string(s.kind) + ", " + s.site.name + ", " + s.fault.name + ", " +
           (s.repeat == Repeat::FirstAttempt ? "first attempt only" : "every attempt");
}

std::vector<Scenario> Matrix(uint16_t kind) {
    std::vector<Scenario> matrix;
    for (const CommandSite& site : CommandSites(kind)) {
        for (const FaultKind& fault : kFaultKinds) {
            for (Repeat repeat : {Repeat::FirstAttempt, Repeat::EveryAttempt}) {
                matrix.push_back({kind, site, fault, repeat});
            }
        }
    }
    return matrix;
}

// Checks one diagnostic line: stage lines "010" and "020" carry the system's text of the
// error behind the code; every other line is exactly the expected text.
void ExpectDiagnostics(const std::vector<std::string>& actual,
                       const std::vector<std::string>& expected, const std::string& context) {
    ASSERT_EQ(actual.size(), expected.size()) << context;
    for (size_t i = 0; i < expected.size(); ++i) {
        const std::string& e = expected[i];
        const bool withSystemText = e.size() >= 3 && (e.compare(e.size() - 3, 3, "010") == 0 ||
                                                       e.compare(e.size() - 3, 3, "020") == 0);
        if (withSystemText) {
            EXPECT_EQ(actual[i].compare(0, e.size(), e), 0)
                << "line " << i << " should begin with\n" << e << "\n" << context;
            EXPECT_GT(actual[i].size(), e.size()) << "line " << i << " lacks the system text\n"
                                                  << context;
        } else {
            EXPECT_EQ(actual[i], e) << "line " << i << "\n" << context;
        }
    }
}

// Runs one scenario and checks everything about it.
void RunScenario(const Scenario& s) {
    SimScenario scenario = sim_scenario_for_family(s.kind);
    SimFaultRule rule;
    rule.kind = s.fault.kind;
    rule.opcode = s.site.opcode;
    rule.matchAddress = 1;
    rule.address = s.site.address;
    rule.times = s.repeat == Repeat::FirstAttempt ? 1 : kSimEveryTime;
    ASSERT_EQ(sim_scenario_add_fault(&scenario, rule), 0);

    const WorkerRun run = RunWorker(scenario);
    const std::string context = NameOf(s) + "\n" + Describe(run);

    // The expected attempts.
    const AttemptEffect effect = EffectOf(s.site, s.fault.kind);
    const bool gone = s.fault.kind == kSimFaultDeviceGone;
    std::vector<uint32_t> results;
    if (gone) {
        // The sensor leaves for good: every later attempt finds no sensor at all.
        results.push_back(s.site.failResult);
        results.insert(results.end(), kMaxAttempts - 1, kResultNoSensor);
    } else if (!effect.fails) {
        results.push_back(kResultOk);
    } else if (s.repeat == Repeat::FirstAttempt) {
        results = {s.site.failResult, kResultOk};
    } else {
        results.assign(kMaxAttempts, s.site.failResult);
    }
    const uint32_t last = results.back();

    std::vector<std::string> diagnostics;
    for (size_t i = 0; i < results.size(); ++i) {
        if (results[i] == kResultOk) continue;
        if (results[i] == s.site.failResult && !effect.stage.empty()) {
            diagnostics.push_back(DiagLine(s.site.module, effect.stage));
        }
        diagnostics.push_back(DiagLine(kSequenceModule, SequenceDiagnostic(results[i])));
    }
    if (effect.exitIgnored) {
        // The sensor never comes back in normal mode, so the version cannot be read again.
        diagnostics.push_back(DiagLine("Module Name : GetFWVersion", "Failed to open ORVELL USB sensor"));
    }

    EXPECT_EQ(run.results, results) << context;
    EXPECT_EQ(run.exitCode, 2u) << context;
    EXPECT_EQ(run.status, ExpectedMessage(last)) << context;
    ExpectDiagnostics(run.diagnostics, diagnostics, context);

    // Every attempt closes what it opened, each record once, and leaves nothing behind.
    for (size_t i = 0; i < Attempts().size(); ++i) {
        const AttemptRecord& a = Attempts()[i];
        EXPECT_EQ(a.opensDuring, a.closesDuring) << "attempt " << i + 1 << "\n" << context;
        EXPECT_EQ(a.badClosesDuring, 0u) << "attempt " << i + 1 << "\n" << context;
        EXPECT_EQ(a.openHandlesAfter, 0u) << "attempt " << i + 1 << "\n" << context;
        EXPECT_EQ(a.listsOpenAfter, 0u) << "attempt " << i + 1 << "\n" << context;
    }
    const SimCounters counters = sim_counters();
    EXPECT_EQ(counters.openHandles, 0u) << context;
    EXPECT_EQ(counters.badCloses, 0u) << context;

    // The fault really met the command it names, as often as the attempts reached it.
    uint32_t fired = 1;
    if (!gone && effect.fails && s.repeat == Repeat::EveryAttempt) fired = kMaxAttempts;
    EXPECT_EQ(sim_sensor_counters().ruleFired[0], fired) << context;

    // The exit command took effect once per successful attempt and never after a failure
    // (the boot loader that ignores it aside).
    uint32_t exits = 0;
    for (uint32_t r : results) exits += r == kResultOk ? 1 : 0;
    if (effect.exitIgnored) exits -= 1;
    EXPECT_EQ(sim_sensor_counters().exits, exits) << context;

    // The dialog after the end: one message, the notice cleared, only Exit left.
    EXPECT_EQ(run.notice, "") << context;
    EXPECT_FALSE(run.progressEnabled) << context;
    EXPECT_EQ(run.progressPos, 0) << context;
    EXPECT_FALSE(run.updateEnabled) << context;
    EXPECT_TRUE(run.exitEnabled) << context;

    // The sensor: updated and back in normal mode, or told as failed.
    const SimMode mode = sim_mode();
    if (last == kResultOk && !effect.exitIgnored) {
        EXPECT_EQ(mode, kSimModeNormal) << context;
        EXPECT_TRUE(FlashHoldsImage(s.kind)) << context;
        EXPECT_TRUE(MarkSet()) << context;
        EXPECT_EQ(sim_sensor_version(), scenario.sensor.versionAfterUpdate) << context;
        EXPECT_EQ(run.currentVersion, run.newVersion) << "the version read back\n" << context;
    } else if (effect.exitIgnored) {
        // The image is complete and marked, but the boot loader kept running; the host
        // had no reply to learn it from. The current version keeps its old text.
        EXPECT_EQ(mode, kSimModeBootLoader) << context;
        EXPECT_TRUE(FlashHoldsImage(s.kind)) << context;
        EXPECT_TRUE(MarkSet()) << context;
        EXPECT_EQ(run.currentVersion, run.currentBefore) << context;
    } else {
        EXPECT_NE(run.status, TEXT_UPDATE_COMPLETE) << context;
        EXPECT_EQ(mode, gone ? kSimModeGone : kSimModeBootLoader) << context;
    }
}

class FaultMatrix : public ::testing::TestWithParam<uint16_t> {};

TEST_P(FaultMatrix, EveryCommandEveryFault) {
    const uint16_t kind = GetParam();
    const std::vector<Scenario> matrix = Matrix(kind);
    // 5 erase blocks, 4 programmed, 2 marks, 4 verified, the mark check and the exit;
    // six faults; first attempt only and every attempt.
    ASSERT_EQ(matrix.size(), 17u * 6u * 2u);
    int failedScenarios = 0;
    for (const Scenario& s : matrix) {
        SCOPED_TRACE(NameOf(s));
        const int failuresBefore = FailureCount();
        RunScenario(s);
        if (FailureCount() > failuresBefore && ++failedScenarios == 5) {
            // One broken rule usually breaks a whole row; five reports say enough.
            ADD_FAILURE() << "stopped after five failing scenarios";
            break;
        }
    }
    std::printf("fault matrix, family %u: %zu scenarios\n", static_cast<unsigned>(kind),
                matrix.size());
    RecordProperty("scenarios", static_cast<int>(matrix.size()));
}

INSTANTIATE_TEST_SUITE_P(Families, FaultMatrix, ::testing::Values(0, 1),
                         [](const ::testing::TestParamInfo<uint16_t>& info) {
                             return "Family" + std::to_string(info.param);
                         });

// The generated sites land on the commands they name: the 128th and 256th block are the
// ones whose sequence bytes are 128 and 0, and the last block ends on the image's end.
TEST(FaultMatrixSites, BlockClassesOfBothImages) {
    for (uint16_t kind : {0, 1}) {
        const std::vector<CommandSite> sites = CommandSites(kind);
        ASSERT_EQ(sites.size(), 17u);
        EXPECT_EQ(sites[5].address, 0x4000u);
        EXPECT_EQ(sites[6].address, 0x4000u + 127 * 128);
        EXPECT_EQ(sites[7].address, 0x4000u + 255 * 128);
        EXPECT_EQ(sites[8].address + 127, ImageEnd(kind));
        EXPECT_EQ(sites[14].address + 127, ImageEnd(kind));
        EXPECT_EQ(sites[11].address, 0x4000u);
        EXPECT_EQ(sites[16].opcode, 3);
    }
    EXPECT_EQ(ImageBlocks(0), 284u);
    EXPECT_EQ(ImageBlocks(1), 488u);
}

}  // namespace
