// Framing of the diagnostic lines, the core's own and the platform's notices.
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

// The platform's notices, each worded into the line the platform itself once wrote, and
// handed to the front end's hook with the line's message.
struct HookCalls {
    int count = 0;
    PlatNoticeKind kind = PlatNoticeKind::NoPermission;
    std::string message;
};

void RecordHookCall(const PlatNotice& notice, const char* message, void* context) {
    HookCalls* calls = static_cast<HookCalls*>(context);
    ++calls->count;
    calls->kind = notice.kind;
    calls->message = message;
}

TEST(DiagnosticLog, NoticesAreWrittenAsTheirLinesThenGivenToTheHook) {
    struct Case {
        PlatNotice notice;
        const char* frame;
        const char* message;
    } cases[] = {
        {{PlatNoticeKind::NoPermission, "/dev/hidraw3", 0xF0A5, 0x0094, "70-zorflash.rules", ""},
         "---------- < Module Name : OpenHidDevice > ---------\n",
         "No permission to open /dev/hidraw3 (sensor f0a5:0094): install the udev rule "
         "70-zorflash.rules and plug the sensor in again"},
        {{PlatNoticeKind::RecordIgnored, "/var/lib/zorflash/products-met", 0, 0, "",
          "a symbolic link"},
         "---------- < Module Name : ProductsMet > ---------\n",
         "The record of the sensors met in /var/lib/zorflash/products-met is ignored: a "
         "symbolic link"},
        {{PlatNoticeKind::RecordUnreadable, "/home/u/.local/state/zorflash/products-met", 0, 0,
          "", "Permission denied"},
         "---------- < Module Name : ProductsMet > ---------\n",
         "The record of the sensors met in /home/u/.local/state/zorflash/products-met cannot "
         "be read: Permission denied"},
        {{PlatNoticeKind::RecordNotWritten, "/var/lib/zorflash", 0, 0, "",
          "Read-only file system"},
         "---------- < Module Name : ProductsMet > ---------\n",
         "The record of the sensors met in /var/lib/zorflash cannot be written: Read-only file "
         "system"},
    };
    HookCalls calls;
    DiagnosticLog log = {RecordHookCall, &calls};
    StartDiagnosticLog(&log);
    for (const Case& c : cases) {
        ResetAll(sim_scenario_for_family(0));
        calls = HookCalls();
        sim_notice(c.notice);
        EXPECT_EQ(OnlyLine(), std::string(c.frame) + c.message);
        EXPECT_EQ(calls.count, 1);
        EXPECT_EQ(calls.kind, c.notice.kind);
        EXPECT_EQ(calls.message, c.message);
    }
    // Without a hook the line is written alone; a path too long for the line is cut there.
    DiagnosticLog linesOnly = {nullptr, nullptr};
    StartDiagnosticLog(&linesOnly);
    ResetAll(sim_scenario_for_family(0));
    const std::string longPath(2000, 'p');
    sim_notice({PlatNoticeKind::RecordIgnored, longPath.c_str(), 0, 0, "", "a symbolic link"});
    EXPECT_EQ(OnlyLine(), "---------- < Module Name : ProductsMet > ---------\n"
                          "The record of the sensors met in " +
                              longPath.substr(0, 1023 - 51 - 33));
    plat_set_notice_handler(nullptr, nullptr);
}

}  // namespace
