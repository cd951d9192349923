// Framing of the diagnostic lines.
#include <cstring>
#include <string>

#include "core_support.h"
#include "sensor/diag_log.h"

namespace {

std::string OnlyLine() {
    const auto lines = sim_debug_lines();
    EXPECT_EQ(lines.size(), 1u);
    return lines.empty() ? std::string() : lines.back();
}

TEST(LogDiagnostic, Framing) {
    struct Case {
        uint32_t code;
        const char* message;
        const char* module;
        int withSystemText;
        std::string expected;
    } cases[] = {
        {0, "Failed to open ORVELL USB sensor", "Module Name : GetFWVersion", 0,
         "---------- < Module Name : GetFWVersion > ---------\nFailed to open ORVELL USB sensor"},
        {31, "010", "Module Name : flash_write", 0,
         "---------- < Module Name : flash_write > ---------\n010"},
        {0x2A, "020", "Module Name : flash_erase", 1,
         "---------- < Module Name : flash_erase > ---------\n020\nError Code = 2a"},
        {0xDEADBEEF, "020", "M", 1, "---------- < M > ---------\n020\nError Code = deadbeef"},
        {0, "", "Module Name : FlashWriteVerify", 0,
         "---------- < Module Name : FlashWriteVerify > ---------\n"},
    };
    for (const Case& c : cases) {
        ResetAll(sim_scenario_for_family(0));
        LogDiagnostic(c.code, c.message, c.module, c.withSystemText);
        EXPECT_EQ(OnlyLine(), c.expected);
    }
}

TEST(LogDiagnostic, SystemTextFollowsTheMessageUntrimmed) {
    ResetAll(sim_scenario_for_family(0));
    char systemText[1024];
    const size_t n = plat_error_text(31, systemText, sizeof(systemText));
    ASSERT_GT(n, 0u) << "the simulated system describes error 31";
    LogDiagnostic(31, "010", "Module Name : flash_end", 1);
    EXPECT_EQ(OnlyLine(), "---------- < Module Name : flash_end > ---------\n010" +
                              std::string(systemText, n));
}

TEST(LogDiagnostic, LongTextsAreCutAt1023Characters) {
    ResetAll(sim_scenario_for_family(0));
    const std::string module(700, 'm');
    const std::string message(700, 'x');
    LogDiagnostic(0x2A, message.c_str(), module.c_str(), 1);
    const std::string line = OnlyLine();
    EXPECT_EQ(line.size(), 1023u);
    EXPECT_EQ(line.substr(0, 13 + 700), "---------- < " + module);
    EXPECT_EQ(line.back(), 'x');

    ResetAll(sim_scenario_for_family(0));
    const std::string huge(5000, 'h');
    LogDiagnostic(0, huge.c_str(), huge.c_str(), 0);
    EXPECT_EQ(OnlyLine().size(), 1023u);
}

TEST(LogDiagnostic, LeavesTheCallersMessageAsItWas) {
    ResetAll(sim_scenario_for_family(0));
    char message[64] = "020";
    LogDiagnostic(0x2A, message, "Module Name : flash_verify", 1);
    EXPECT_STREQ(message, "020");
    EXPECT_EQ(std::strlen(message), 3u);
}

}  // namespace
