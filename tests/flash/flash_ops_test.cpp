// The boot loader's command exchange and the flash operations, one at a time.
#include <cstring>

#include "boot_command.h"
#include "core_support.h"
#include "flash/flash_protocol.h"
#include "update/firmware_catalogue.h"

namespace {


SimFaultRule NthCommand(SimFaultKind kind, uint32_t number) {
    SimFaultRule rule;
    rule.kind = kind;
    rule.commandNumber = number;
    return rule;
}

// A boot loader of `version` with `rules`, opened as the sequence holds it.
HidDevice StartBootLoader(uint16_t version, std::vector<SimFaultRule> rules = {}) {
    SimScenario scenario = BootLoaderScenario(version);
    for (const SimFaultRule& r : rules) sim_scenario_add_fault(&scenario, r);
    ResetAll(scenario);
    HidDevice device = OpenBootLoader();
    return device;
}

std::string SystemText(uint32_t code) {
    char text[1024];
    const size_t n = plat_error_text(code, text, sizeof(text));
    return n ? std::string(text, n) : "\nError Code = " + ([code] {
        char hex[16];
        std::snprintf(hex, sizeof(hex), "%x", code);
        return std::string(hex);
    })();
}

// ---- Acknowledgement --------------------------------------------------------------------

TEST(FlashAck, EchoOfOpcodeAndSequenceWithStatusZero) {
    FlashCommand command{};
    command.opcode = 1;
    command.sequence = 7;
    struct Case {
        uint8_t opcode, sequence, status;
        bool ack;
    } cases[] = {
        {1, 7, 0, true}, {1, 7, 1, false}, {1, 6, 0, false}, {2, 7, 0, false},
        {1, 0, 0, false}, {0x81, 7, 0, false}, {1, 7, 0xFF, false},
    };
    for (const Case& c : cases) {
        FlashReply reply{};
        reply.reportId = 2;
        reply.opcode = c.opcode;
        reply.sequence = c.sequence;
        reply.status = c.status;
        EXPECT_EQ(IsAcknowledged(&command, &reply), c.ack)
            << int(c.opcode) << "/" << int(c.sequence) << "/" << int(c.status);
    }
}

TEST(FlashExchange, FailedSetSkipsTheGet) {
    HidDevice device = StartBootLoader(0x11, {NthCommand(kSimFaultFailSet, 1)});
    FlashCommand command{};
    command.reportId = 1;
    command.opcode = 1;
    command.sequence = 1;
    command.length = 0x10;
    FlashReply reply{};
    EXPECT_EQ(ExchangeCommand(&device, &command, 0, "Module Name : flash_write", &reply),
              ExchangeResult::SendFailed);
    EXPECT_EQ(sim_counters().sets, 1u);
    EXPECT_EQ(sim_counters().gets, 0u);
    const auto lines = sim_debug_lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], DiagLine("Module Name : flash_write", "010" + SystemText(31)));
    CloseHidDevice(&device);
}

TEST(FlashExchange, FailedGetIsNotResent) {
    HidDevice device = StartBootLoader(0x11, {NthCommand(kSimFaultFailGet, 1)});
    FlashCommand command{};
    command.reportId = 1;
    command.opcode = 2;
    command.sequence = 1;
    command.length = 0x10;
    FlashReply reply{};
    EXPECT_EQ(ExchangeCommand(&device, &command, 0, "Module Name : flash_verify", &reply),
              ExchangeResult::ReplyFailed);
    EXPECT_EQ(sim_counters().sets, 1u);
    EXPECT_EQ(sim_counters().gets, 1u);
    const auto lines = sim_debug_lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], DiagLine("Module Name : flash_verify", "020" + SystemText(31)));
    // The reply was asked for with a zeroed 137-byte buffer whose first byte selects report 2.
    const auto gets = OfKind(kSimEventGetFeature);
    ASSERT_EQ(gets.size(), 1u);
    EXPECT_EQ(gets[0].length, 137u);
    EXPECT_EQ(gets[0].data[0], 2);
    CloseHidDevice(&device);
}

// ---- Erase --------------------------------------------------------------------------------

struct EraseCase {
    const char* name;
    std::vector<SimFaultRule> rules;
    int result;
    size_t commands;
    size_t diagLines;
};

TEST(FlashErase, ReplyRule) {
    const EraseCase cases[] = {
        {"every block acknowledged", {}, 1, 5, 0},
        {"block 2 refused with status 5", {Rule(kSimFaultRefuse, 0, 2, 1, 5)}, 0, 3, 0},
        {"block 0 refused", {Rule(kSimFaultRefuse, 0, 0)}, 0, 1, 0},
        {"block 1 echoes sequence 0", {Rule(kSimFaultWrongSequence, 0, 1, 1, 0)}, 1, 5, 0},
        {"block 3 echoes another opcode", {Rule(kSimFaultWrongOpcode, 0, 3, 1, 7)}, 1, 5, 0},
        {"block 1 set fails", {NthCommand(kSimFaultFailSet, 2)}, 0, 2, 1},
        {"block 4 get fails", {NthCommand(kSimFaultFailGet, 5)}, 0, 5, 1},
    };
    for (const EraseCase& c : cases) {
        SCOPED_TRACE(c.name);
        HidDevice device = StartBootLoader(0x11, c.rules);
        EXPECT_EQ(EraseFlash(&device), c.result);
        const auto commands = BootCommands();
        ASSERT_EQ(commands.size(), c.commands);
        for (size_t i = 0; i < commands.size(); ++i) {
            uint8_t expected[kBootCommandLength];
            EncodeBootCommand(expected, 0, static_cast<uint8_t>(i), static_cast<uint32_t>(i), 0);
            EXPECT_EQ(commands[i].length, kBootCommandLength);
            EXPECT_EQ(std::memcmp(commands[i].data, expected, kBootCommandLength), 0) << "block " << i;
        }
        EXPECT_EQ(sim_debug_lines().size(), c.diagLines);
        if (c.diagLines) {
            EXPECT_NE(sim_debug_lines()[0].find("Module Name : flash_erase"), std::string::npos);
        }
        CloseHidDevice(&device);
    }
}

TEST(FlashErase, PausesOneSecondBetweenEachSetAndItsGet) {
    HidDevice device = StartBootLoader(0x11);
    ASSERT_TRUE(EraseFlash(&device));
    const auto reports = Reports();
    ASSERT_EQ(reports.size(), 10u);
    for (size_t i = 0; i < reports.size(); i += 2) {
        EXPECT_EQ(reports[i].kind, kSimEventSetFeature);
        EXPECT_EQ(reports[i + 1].kind, kSimEventGetFeature);
        EXPECT_EQ(reports[i + 1].timeMs - reports[i].timeMs, 1000u);
    }
    EXPECT_EQ(sim_now_ms(), 5000u);
    CloseHidDevice(&device);
}

// ---- Exit -----------------------------------------------------------------------------------

TEST(FlashEnd, FormByBootLoaderVersion) {
    struct Case {
        uint16_t version;
        bool feature;
    } cases[] = {{15, false}, {12, false}, {0, false}, {16, true}, {31, true}, {40, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.version);
        HidDevice device = StartBootLoader(c.version);
        EXPECT_TRUE(ExitFlashMode(&device));
        const auto reports = Reports();
        ASSERT_EQ(reports.size(), 1u) << "one report and no reply read";
        if (c.feature) {
            uint8_t expected[kBootCommandLength];
            EncodeBootCommand(expected, 3, 0, 0, 0);
            EXPECT_EQ(reports[0].kind, kSimEventSetFeature);
            EXPECT_EQ(reports[0].length, kBootCommandLength);
            EXPECT_EQ(std::memcmp(reports[0].data, expected, kBootCommandLength), 0);
        } else {
            EXPECT_EQ(reports[0].kind, kSimEventWriteOutput);
            EXPECT_EQ(reports[0].length, device.info.outputReportLength);
            EXPECT_EQ(reports[0].data[0], 0x00);
            EXPECT_EQ(reports[0].data[1], 0x03);
            for (uint32_t i = 2; i < reports[0].length && i < kSimTranscriptDataCapacity; ++i) {
                EXPECT_EQ(reports[0].data[i], 0) << i;
            }
        }
        EXPECT_EQ(sim_sensor_counters().exits, 1u);
        CloseHidDevice(&device);
    }
}

TEST(FlashEnd, PendingOutputReportIsCancelledAfterTwoSeconds) {
    SimScenario scenario = BootLoaderScenario(12);
    scenario.sensor.faults.outputWriteHangs = 1;
    ResetAll(scenario);
    HidDevice device = OpenBootLoader();
    EXPECT_FALSE(ExitFlashMode(&device));
    EXPECT_EQ(sim_counters().outputCancels, 1u);
    EXPECT_EQ(sim_now_ms(), 2000u);
    EXPECT_TRUE(sim_debug_lines().empty()) << "the output-report path logs nothing";
    CloseHidDevice(&device);
}

TEST(FlashEnd, FailedFeatureExitIsLogged) {
    HidDevice device = StartBootLoader(16, {NthCommand(kSimFaultFailSet, 1)});
    EXPECT_FALSE(ExitFlashMode(&device));
    const auto lines = sim_debug_lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], DiagLine("Module Name : flash_end", "010" + SystemText(31)));
    CloseHidDevice(&device);
}

// ---- Write mark -----------------------------------------------------------------------------

void ExpectMarkCommand(const SimTranscriptEntry& e, uint8_t opcode, uint8_t sequence,
                       uint32_t address) {
    uint8_t expected[137] = {};
    expected[0] = 1;
    expected[1] = opcode;
    expected[2] = sequence;
    expected[3] = static_cast<uint8_t>(address);
    expected[4] = static_cast<uint8_t>(address >> 8);
    expected[5] = static_cast<uint8_t>(address >> 16);
    expected[6] = static_cast<uint8_t>(address >> 24);
    expected[7] = 1;
    expected[8] = 0;
    std::memset(expected + 9, 0xFF, 127);
    EXPECT_EQ(e.length, 137u);
    EXPECT_EQ(std::memcmp(e.data, expected, 137), 0);
}

TEST(FlashMarking, TwoWritesOfThePattern) {
    HidDevice device = StartBootLoader(0x11);
    ASSERT_TRUE(EraseFlash(&device));
    EXPECT_TRUE(WriteUpdateMark(&device));
    auto commands = BootCommands();
    ASSERT_EQ(commands.size(), 7u);
    ExpectMarkCommand(commands[5], 1, 1, 0x23FF8);
    ExpectMarkCommand(commands[6], 1, 2, 0x1FBF0);
    uint8_t mark[8];
    sim_flash_read(0x23FF8, mark, 8);
    const uint8_t pattern[8] = {0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(std::memcmp(mark, pattern, 8), 0);
    EXPECT_TRUE(CheckUpdateMark(&device));
    commands = BootCommands();
    ASSERT_EQ(commands.size(), 8u);
    ExpectMarkCommand(commands[7], 2, 1, 0x23FF8);
    CloseHidDevice(&device);
}

TEST(FlashMarking, ResultByFailingCommand) {
    struct Case {
        const char* name;
        SimFaultRule rule;
        size_t commands;  // the failing command is the last one sent
        const char* line;
    } cases[] = {
        {"first refused", Rule(kSimFaultRefuse, 1, 0x23FF8), 1, "050:Not ACK"},
        {"second refused", Rule(kSimFaultRefuse, 1, 0x1FBF0), 2, "050:Not ACK"},
        {"second echoes another sequence", Rule(kSimFaultWrongSequence, 1, 0x1FBF0), 2,
         "050:Not ACK"},
        {"first set fails", NthCommand(kSimFaultFailSet, 1), 1, "010"},
        {"second get fails", NthCommand(kSimFaultFailGet, 2), 2, "020"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HidDevice device = StartBootLoader(0x11, {c.rule});
        EXPECT_FALSE(WriteUpdateMark(&device));
        EXPECT_EQ(BootCommands().size(), c.commands);
        const auto lines = sim_debug_lines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].rfind(DiagLine("Module Name : flash_marking", c.line), 0), 0u)
            << lines[0];
        CloseHidDevice(&device);
    }
}

TEST(FlashMarking, CheckComparesOnlyTheFirstMark) {
    // The second mark is refused and stays erased; the check still passes, since only the
    // mark at 0x23FF8 is compared.
    HidDevice device = StartBootLoader(0x11, {Rule(kSimFaultRefuse, 1, 0x1FBF0)});
    ASSERT_TRUE(EraseFlash(&device));
    EXPECT_FALSE(WriteUpdateMark(&device));
    EXPECT_TRUE(CheckUpdateMark(&device));
    CloseHidDevice(&device);
}

TEST(FlashMarking, CheckFailsOnAnUnmarkedFlash) {
    HidDevice device = StartBootLoader(0x11);
    ASSERT_TRUE(EraseFlash(&device));
    EXPECT_FALSE(CheckUpdateMark(&device));
    const auto lines = sim_debug_lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], DiagLine("Module Name : is_flash_marking", "050:Not ACK"));
    CloseHidDevice(&device);
}

// ---- Block passes ---------------------------------------------------------------------------

struct PassCase {
    const char* name;
    bool verify;
    uint32_t start;
    uint32_t end;
    std::vector<SimFaultRule> rules;
    bool ok;
    size_t commands;
    int steps;
};

TEST(FlashBlocks, PassesOverARange) {
    const FirmwareImage& a = ImageForKind(0);
    const uint32_t endA = ImageEndAddress(a);
    const FlashProgress bar = ViewFlashProgress(&testBar);
    const PassCase cases[] = {
        {"empty range: start equals end", false, 0x4000, 0x4000, {}, true, 0, 0},
        {"empty range: start above end", true, 0x5000, 0x4000, {}, true, 0, 0},
        {"write of image A", false, 0x4000, endA, {}, true, 284, 284},
        {"fifth block refused", false, 0x4000, endA, {Rule(kSimFaultRefuse, 1, 0x4200)}, false, 5, 4},
        {"block 256 echoes sequence 1", false, 0x4000, endA,
         {Rule(kSimFaultWrongSequence, 1, 0x4000 + 255 * 128, 1, 1)}, false, 256, 255},
        {"write get fails at block 3", false, 0x4000, endA, {NthCommand(kSimFaultFailGet, 3)}, false,
         3, 2},
        {"verify: block at 0x8000 does not match", true, 0x4000, endA,
         {Rule(kSimFaultRefuse, 2, 0x8000)}, false, 129, 128},
        {"verify: reply echoes the write opcode", true, 0x4000, endA,
         {Rule(kSimFaultWrongOpcode, 2, 0x4000, 1, 1)}, false, 1, 0},
        // Commands are counted from the erase: 5 erase and 284 write commands come first.
        {"verify: set fails at the last block", true, 0x4000, endA,
         {NthCommand(kSimFaultFailSet, 5 + 284 + 284)}, false, 284, 283},
    };
    for (const PassCase& c : cases) {
        SCOPED_TRACE(c.name);
        // Room for both passes: each step moves the bar on by one.
        testBar = ViewBar{testBar.view, 0, 2 * 284};
        HidDevice device = StartBootLoader(0x11, c.rules);
        if (c.verify) {
            // The flash must hold the image for the device to match it.
            ASSERT_TRUE(EraseFlash(&device));
            ASSERT_TRUE(WriteBlocks(bar, &device, ImageBytes(a), endA, 0x4000));
        }
        const size_t before = BootCommands().size();
        const int stepsBefore = ProgressSteps();
        const bool ok = c.verify ? VerifyBlocks(bar, &device, ImageBytes(a), c.end, c.start)
                                 : WriteBlocks(bar, &device, ImageBytes(a), c.end, c.start);
        EXPECT_EQ(ok, c.ok);
        EXPECT_EQ(BootCommands().size() - before, c.commands);
        EXPECT_EQ(ProgressSteps() - stepsBefore, c.steps);
        if (!c.ok) {
            const auto lines = sim_debug_lines();
            ASSERT_FALSE(lines.empty());
            EXPECT_NE(lines.back().find(c.verify ? "Module Name : flash_verify"
                                                 : "Module Name : flash_write"),
                      std::string::npos);
        }
        CloseHidDevice(&device);
    }
}

}  // namespace

namespace {

// A range that ends inside a block is not read beyond its end: the rest of that block is
// sent erased. (The built-in images are whole blocks; this guards any other image.)
TEST(FlashBlocks, ARangeEndingInsideABlockIsNotReadPastItsEnd) {
    HidDevice device = StartBootLoader(0x11);
    ASSERT_TRUE(EraseFlash(&device));
    std::vector<uint8_t> image(128 + 64);
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i);
    EXPECT_TRUE(WriteBlocks(ViewFlashProgress(&testBar), &device, image.data(),
                            0x4000 + 128 + 63, 0x4000));
    const auto commands = BootCommands();
    ASSERT_EQ(commands.size(), 5u + 2u);
    const SimTranscriptEntry& last = commands.back();
    EXPECT_EQ(Le32(last.data + 3), 0x4080u);
    EXPECT_EQ(std::memcmp(last.data + 8, image.data() + 128, 64), 0);
    for (int i = 64; i < 128; ++i) EXPECT_EQ(last.data[8 + i], 0xFF) << i;
    CloseHidDevice(&device);
}

// An old boot loader that declares no usable output report gets no write at all.
TEST(FlashEnd, NoOutputReportToWriteFails) {
    for (uint16_t length : {0, 1}) {
        SCOPED_TRACE(length);
        SimScenario scenario = BootLoaderScenario(12);
        scenario.sensor.bootOutputReportLength = length;
        ResetAll(scenario);
        HidDevice device = OpenBootLoader();
        EXPECT_FALSE(ExitFlashMode(&device));
        EXPECT_TRUE(OfKind(kSimEventWriteOutput).empty());
        CloseHidDevice(&device);
    }
}

}  // namespace
