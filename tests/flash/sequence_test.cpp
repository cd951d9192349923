// One complete update, byte for byte, and every way it can end.
#include <cstring>
#include <functional>

#include "core_support.h"
#include "flash/flash_protocol.h"
#include "update/firmware_catalogue.h"

namespace {

constexpr char kEraseText[] = "Erasing....";
constexpr char kProgramText[] = "Program....";
constexpr char kVerifyText[] = "Verify....";

uint32_t RunUpdate(uint16_t kind) {
    const FirmwareImage& image = ImageForKind(kind);
    UpdateTarget target = {static_cast<uint16_t>(kind == 0 ? 0x0090 : 0x00E6), "usb-sim-1",
                           sim_mode() == kSimModeBootLoader};
    return static_cast<uint32_t>(RunWriteAndVerify(ViewFlashProgress(&testBar),
                                                   ImageBytes(image), ImageEndAddress(image),
                                                   &target));
}

// Checks one block command of a pass against the image.
void ExpectBlock(const SimTranscriptEntry& e, uint8_t opcode, uint32_t block, const uint8_t* image) {
    const uint32_t address = 0x4000 + block * 128;
    ASSERT_EQ(e.length, 137u);
    EXPECT_EQ(e.data[0], 1);
    EXPECT_EQ(e.data[1], opcode);
    EXPECT_EQ(e.data[2], static_cast<uint8_t>(block + 1)) << "block " << block;
    EXPECT_EQ(Le32(e.data + 3), address);
    EXPECT_EQ(e.data[7], 0x10);
    EXPECT_EQ(std::memcmp(e.data + 8, image + block * 128, 128), 0) << "block " << block;
    EXPECT_EQ(e.data[136], 0);
}

struct ImageCase {
    uint16_t kind;
    uint32_t blocks;
    uint32_t lastAddress;
    uint8_t lastSequence;
    uint16_t progressMaximum;
};

TEST(RunWriteAndVerify, CompleteUpdateCommandStream) {
    const ImageCase cases[] = {{0, 284, 0xCD80, 28, 570}, {1, 488, 0x13380, 232, 978}};
    for (const ImageCase& c : cases) {
        SCOPED_TRACE(c.kind);
        ResetAll(sim_scenario_for_family(c.kind));
        const FirmwareImage& image = ImageForKind(c.kind);
        const uint8_t* bytes = ImageBytes(image);
        ASSERT_EQ(RunUpdate(c.kind), 0u);

        // The switch request, then the boot loader's commands.
        const auto sets = OfKind(kSimEventSetFeature);
        ASSERT_FALSE(sets.empty());
        EXPECT_EQ(sets[0].data[0], 2);
        EXPECT_EQ(sets[0].data[1], 2);
        const auto commands = BootCommands();
        ASSERT_EQ(commands.size(), 5 + c.blocks + 2 + c.blocks + 1 + 1);
        for (uint32_t i = 0; i < 5; ++i) {
            EXPECT_EQ(commands[i].data[1], 0);
            EXPECT_EQ(commands[i].data[2], i);
            EXPECT_EQ(commands[i].data[3], i);
        }
        uint32_t erasedBlocksSent = 0;
        for (uint32_t b = 0; b < c.blocks; ++b) {
            ExpectBlock(commands[5 + b], 1, b, bytes);
            ExpectBlock(commands[5 + c.blocks + 2 + b], 2, b, bytes);
            bool erased = true;
            for (int k = 0; k < 128; ++k) erased = erased && bytes[b * 128 + k] == 0xFF;
            erasedBlocksSent += erased;
        }
        EXPECT_GT(erasedBlocksSent, 0u) << "blocks of 0xFF are sent like any other";
        const auto& lastWrite = commands[5 + c.blocks - 1];
        EXPECT_EQ(Le32(lastWrite.data + 3), c.lastAddress);
        EXPECT_EQ(lastWrite.data[2], c.lastSequence);
        EXPECT_EQ(commands[5 + 255].data[2], 0) << "block 256 carries sequence byte 0";
        EXPECT_EQ(commands[5 + c.blocks + 2].data[2], 1) << "verification counts from 1 again";
        // Marks, the mark check and the exit.
        EXPECT_EQ(Le32(commands[5 + c.blocks].data + 3), 0x23FF8u);
        EXPECT_EQ(Le32(commands[5 + c.blocks + 1].data + 3), 0x1FBF0u);
        const auto& check = commands[5 + 2 * c.blocks + 2];
        EXPECT_EQ(check.data[1], 2);
        EXPECT_EQ(Le32(check.data + 3), 0x23FF8u);
        const auto& exit = commands.back();
        uint8_t exitBytes[137] = {1, 3};
        EXPECT_EQ(std::memcmp(exit.data, exitBytes, 137), 0);

        // Every command but the exit has its reply read right after it.
        const auto reports = Reports();
        size_t replies = 0;
        for (size_t i = 0; i + 1 < reports.size(); ++i) {
            if (reports[i].kind == kSimEventSetFeature && reports[i].data[0] == 1 &&
                reports[i].data[1] != 3) {
                EXPECT_EQ(reports[i + 1].kind, kSimEventGetFeature);
                ++replies;
            }
        }
        EXPECT_EQ(replies, commands.size() - 1);

        // The flash holds the image and the mark; the sensor comes back with the new version.
        std::vector<uint8_t> flash(ImageByteCount(image));
        sim_flash_read(0x4000, flash.data(), static_cast<uint32_t>(flash.size()));
        EXPECT_EQ(std::memcmp(flash.data(), bytes, flash.size()), 0);
        sim_advance_ms(60000);
        EXPECT_EQ(sim_mode(), kSimModeNormal);

        // Progress: range and position, then one step per block of both passes.
        const PartState bar = recording_view_part(RecordedPart::Progress);
        EXPECT_EQ(bar.total, c.progressMaximum);
        EXPECT_EQ(bar.steps, static_cast<int>(2 * c.blocks));
        EXPECT_EQ(bar.done, static_cast<uint32_t>(2 * c.blocks));
        EXPECT_EQ(recording_view_texts(RecordedPart::Status),
                  (std::vector<std::string>{kEraseText, kProgramText, kVerifyText}));
        EXPECT_TRUE(sim_debug_lines().empty());
        ExpectNothingOpen();
        EXPECT_EQ(sim_counters().closes, sim_counters().opens) << "each record closed once";
    }
}

TEST(RunWriteAndVerify, SetUpPrecedesProgrammingBySixSeconds) {
    ResetAll(sim_scenario_for_family(0));
    ASSERT_EQ(RunUpdate(0), 0u);
    const auto commands = BootCommands();
    const auto calls = recording_view_calls();
    ASSERT_GT(commands.size(), 6u);
    // From the first erase command to the first write: five erase pauses; the set-up pause
    // comes before the first erase.
    EXPECT_GE(commands[5].timeMs - commands[0].timeMs, 5000u);
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls[0].kind, ViewCallKind::ProgressStart);
    EXPECT_EQ(calls[0].value, 570u);
    // The bar starts at 0 of its new total before the first status line.
    EXPECT_EQ(calls[1].kind, ViewCallKind::Text);
    EXPECT_EQ(calls[1].part, RecordedPart::Status);
}

// ---- Version gate -------------------------------------------------------------------------

struct GateCase {
    const char* name;
    uint16_t version;
    bool alreadyInBootLoader;
    uint32_t result;
    SimEventKind exitKind;  // kSimEventModeChange: no exit command at all
};

TEST(RunWriteAndVerify, VersionGate) {
    const GateCase cases[] = {
        {"version 15, switched: exit as output report", 15, false, 42, kSimEventWriteOutput},
        {"version 40, switched: exit as feature report", 40, false, 42, kSimEventSetFeature},
        {"version 32, already running: left alone", 32, true, 42, kSimEventModeChange},
        {"version 15, already running: left alone", 15, true, 42, kSimEventModeChange},
        {"version 16 is served", 16, false, 0, kSimEventSetFeature},
        {"version 31 is served", 31, true, 0, kSimEventSetFeature},
    };
    for (const GateCase& c : cases) {
        SCOPED_TRACE(c.name);
        SimScenario scenario = sim_scenario_for_family(0);
        scenario.sensor.bootLoaderVersion = c.version;
        scenario.sensor.startInBootLoader = c.alreadyInBootLoader;
        ResetAll(scenario);
        EXPECT_EQ(RunUpdate(0), c.result);
        const auto commands = BootCommands();
        const auto outputs = OfKind(kSimEventWriteOutput);
        if (c.result == 42) {
            EXPECT_TRUE(recording_view_calls().empty()) << "the progress bar is not touched";
            if (c.exitKind == kSimEventModeChange) {
                EXPECT_TRUE(commands.empty());
                EXPECT_TRUE(outputs.empty());
            } else if (c.exitKind == kSimEventWriteOutput) {
                EXPECT_TRUE(commands.empty());
                ASSERT_EQ(outputs.size(), 1u);
                EXPECT_EQ(outputs[0].data[1], 3);
            } else {
                ASSERT_EQ(commands.size(), 1u);
                EXPECT_EQ(commands[0].data[1], 3);
            }
        } else {
            ASSERT_FALSE(commands.empty());
            EXPECT_EQ(commands.back().data[1], 3);
            EXPECT_EQ(commands.back().kind, c.exitKind);
        }
        EXPECT_TRUE(sim_debug_lines().empty());
        ExpectNothingOpen();
    }
}

// ---- Every result -------------------------------------------------------------------------


struct ResultCase {
    const char* name;
    std::function<void(SimScenario*)> setUp;
    uint32_t result;
    std::vector<std::string> lines;  // the sequence's own line last
    std::vector<std::string> statusTexts;
};

std::vector<ResultCase> ResultCases() {
    const std::string seq = "Module Name : FlashWriteVerify";
    const std::string notAck = "050:Not ACK";
    return {
        {"no sensor", [](SimScenario* s) { sim_scenario_by_name("nosensor", s); }, 6,
         {DiagLine(seq, "Failed to detct ORVELL USB device")}, {}},
        {"boot loader never appears",
         [](SimScenario* s) { s->sensor.faults.bootLoaderNeverAppears = 1; }, 7,
         {DiagLine(seq, "Failed to set a boot mode.")}, {}},
        {"switch request refused", [](SimScenario* s) { s->sensor.faults.switchRefused = 1; }, 25,
         {DiagLine(seq, "Failed to send the Feature Report.")}, {}},
        {"old boot loader whose exit stays pending",
         [](SimScenario* s) {
             s->sensor.bootLoaderVersion = 12;
             s->sensor.faults.outputWriteHangs = kSimEveryTime;
         },
         42, {DiagLine(seq, "Filed to exit flash mode!!")}, {}},
        {"erase refused", [](SimScenario* s) { sim_scenario_add_fault(s, Rule(kSimFaultRefuse, 0, 2, kSimEveryTime)); },
         21, {DiagLine(seq, "Filed to erase!!")}, {kEraseText}},
        {"block refused",
         [](SimScenario* s) { sim_scenario_add_fault(s, Rule(kSimFaultRefuse, 1, 0x8000, kSimEveryTime)); }, 10,
         {DiagLine("Module Name : flash_write", notAck), DiagLine(seq, "Filed to write firmware!!")},
         {kEraseText, kProgramText}},
        {"mark refused",
         [](SimScenario* s) { sim_scenario_add_fault(s, Rule(kSimFaultRefuse, 1, 0x1FBF0, kSimEveryTime)); }, 17,
         {DiagLine("Module Name : flash_marking", notAck),
          DiagLine(seq, "Filed to erase a writing mark!!")},
         {kEraseText, kProgramText}},
        {"block does not verify",
         [](SimScenario* s) { sim_scenario_add_fault(s, Rule(kSimFaultRefuse, 2, 0xCD80, kSimEveryTime)); }, 15,
         {DiagLine("Module Name : flash_verify", notAck), DiagLine(seq, "Filed to verify firmware!!")},
         {kEraseText, kProgramText, kVerifyText}},
        {"mark does not verify",
         [](SimScenario* s) { sim_scenario_add_fault(s, Rule(kSimFaultRefuse, 2, 0x23FF8, kSimEveryTime)); }, 40,
         {DiagLine("Module Name : is_flash_marking", notAck),
          DiagLine(seq, "faild to verify a writing mark!!")},
         {kEraseText, kProgramText, kVerifyText}},
        {"exit cannot be sent",
         [](SimScenario* s) { sim_scenario_add_fault(s, Rule(kSimFaultFailSet, 3, -1, kSimEveryTime)); }, 11,
         {"", DiagLine(seq, "Filed to exit flash mode!!")}, {kEraseText, kProgramText, kVerifyText}},
    };
}

TEST(RunWriteAndVerify, EveryResultWithItsDiagnosticLine) {
    for (const ResultCase& c : ResultCases()) {
        SCOPED_TRACE(c.name);
        SimScenario scenario = sim_scenario_for_family(0);
        c.setUp(&scenario);
        ResetAll(scenario);
        EXPECT_EQ(RunUpdate(0), c.result);
        const auto lines = sim_debug_lines();
        ASSERT_EQ(lines.size(), c.lines.size());
        for (size_t i = 0; i < lines.size(); ++i) {
            if (c.lines[i].empty()) {
                EXPECT_EQ(lines[i].rfind(DiagLine("Module Name : flash_end", "010"), 0), 0u);
            } else {
                EXPECT_EQ(lines[i], c.lines[i]);
            }
        }
        EXPECT_EQ(recording_view_texts(RecordedPart::Status), c.statusTexts);
        ExpectNothingOpen();
        EXPECT_EQ(sim_counters().closes, sim_counters().opens) << "each record closed once";
    }
}

TEST(RunWriteAndVerify, FailedMarkSkipsVerification) {
    SimScenario scenario = sim_scenario_for_family(0);
    sim_scenario_add_fault(&scenario, Rule(kSimFaultRefuse, 1, 0x23FF8, kSimEveryTime));
    ResetAll(scenario);
    EXPECT_EQ(RunUpdate(0), 17u);
    for (const auto& c : BootCommands()) EXPECT_NE(c.data[1], 2) << "no verify command";
    EXPECT_EQ(ProgressSteps(), 284);
    EXPECT_EQ(sim_mode(), kSimModeBootLoader) << "the sensor is left in its boot loader";
}

TEST(RunWriteAndVerify, NextAttemptFindsTheBootLoaderRunning) {
    SimScenario scenario = sim_scenario_for_family(0);
    SimFaultRule once = Rule(kSimFaultRefuse, 1, 0x4200, kSimEveryTime);
    once.times = 1;
    sim_scenario_add_fault(&scenario, once);
    ResetAll(scenario);
    EXPECT_EQ(RunUpdate(0), 10u);
    const uint64_t firstEnd = sim_now_ms();
    EXPECT_EQ(RunUpdate(0), 0u);
    // No switch request the second time, and no 2 s wait: the erase begins after the 1 s
    // progress set-up.
    int switchRequests = 0;
    for (const auto& e : OfKind(kSimEventSetFeature)) switchRequests += e.data[0] == 2;
    EXPECT_EQ(switchRequests, 1);
    const auto commands = BootCommands();
    const SimTranscriptEntry* secondErase = nullptr;
    for (size_t i = 1; i < commands.size(); ++i) {
        if (commands[i].data[1] == 0 && commands[i].data[2] == 0) secondErase = &commands[i];
    }
    ASSERT_NE(secondErase, nullptr);
    EXPECT_EQ(secondErase->timeMs - firstEnd, 1000u);
    ExpectNothingOpen();
}

}  // namespace
