// The command line, case by case: launch mode, file name, and the three stored options.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/long_options.h"
#include "support/recording_view.h"

namespace {

struct CommandLineCase {
    const char* name;
    const char* commandLine;
    int32_t launchMode;
    const char* fileName;
    uint32_t sOptionValue;
    int sOptionGiven;
    int32_t wOptionValue;
    int dumpOptionGiven;
    // The bare words taken, in order, joined by "|"; null when there is none. Each replaces
    // the one before: the file name the run reads is the last.
    const char* bareWords;
};

std::string LastWord(const char* words) {
    const char* bar = std::strrchr(words, '|');
    return bar != nullptr ? bar + 1 : words;
}

// A word past the long options' pre-parser's old word buffer: the /F2 at its end still counts.
const std::string kLongWordLine = "--firmware-dir fw " + std::string(1100, 'a') + "/F2";

const CommandLineCase kCases[] = {
    {"Empty", "", 255, "", 0, 0, 0, 0, nullptr},
    {"F0WithFile", "/F0 image.bin", 0, "image.bin", 0, 0, 0, 0, "image.bin"},
    {"FileThenHyphenF1", "image.bin -f1", 1, "image.bin", 0, 0, 0, 0, "image.bin"},
    {"F2TrailingBlank", "/F2 ", 2, "", 0, 0, 0, 0, ""},
    {"F3", "/F3", 3, "", 0, 0, 0, 0, nullptr},
    {"F4LeavesMode", "/F4", 255, "", 0, 0, 0, 0, nullptr},
    {"F01TakesFirstDigit", "/F01", 0, "", 0, 0, 0, 0, nullptr},
    {"FAlone", "/F", 255, "", 0, 0, 0, 0, nullptr},
    {"Verbose", "/verbose", 4, "", 0, 0, 0, 0, nullptr},
    {"HyphenV", "-V", 4, "", 0, 0, 0, 0, nullptr},
    {"SHex", "/S1aF", 255, "", 0x1AF, 1, 0, 0, nullptr},
    {"SAlone", "/S", 255, "", 0, 1, 0, 0, nullptr},
    {"SStrayCharacter", "/S12G4", 255, "", 0x1204, 1, 0, 0, nullptr},
    {"SNineDigitsWrap", "/S123456789", 255, "", 0x23456789, 1, 0, 0, nullptr},
    {"WDecimal", "/W250 x", 255, "x", 0, 0, 250, 0, "x"},
    {"WLetters", "/Wabc", 255, "", 0, 0, 0, 0, nullptr},
    {"WSignAndTail", "/W-42z", 255, "", 0, 0, 0, 0, nullptr},  // '-' starts a new token
    {"WPlusSign", "/W+42z", 255, "", 0, 0, 42, 0, nullptr},
    {"DumpLower", "/dump", 255, "", 0, 0, 0, 1, nullptr},
    {"DumpMixedTail", "/DuMpX", 255, "", 0, 0, 0, 1, nullptr},
    {"DumShort", "/DUM", 255, "", 0, 0, 0, 0, nullptr},
    {"HyphenInsideWord", "my-file.bin", 255, "", 0, 0, 0, 0, nullptr},
    {"SlashInsideWord", "images/a.bin", 255, "", 0, 0, 0, 0, nullptr},
    {"LastBareWordWins", "a.bin b.bin", 255, "b.bin", 0, 0, 0, 0, "a.bin|b.bin"},
    {"QuotesAreOrdinary", "\"q r\"", 255, "r\"", 0, 0, 0, 0, "\"q|r\""},
    {"F1ThenV", "/F1 /V", 4, "", 0, 0, 0, 0, nullptr},
    {"VThenF1", "/V /F1", 1, "", 0, 0, 0, 0, nullptr},
    {"TwoBlanksEmptyWord", "a  b", 255, "b", 0, 0, 0, 0, "a||b"},
    {"TabIsOrdinary", "a\tb", 255, "a\tb", 0, 0, 0, 0, "a\tb"},
    {"UnknownOption", "/X9 name", 255, "name", 0, 0, 0, 0, "name"},
    {"OptionGluedToWord", "name/F2", 2, "", 0, 0, 0, 0, nullptr},
    // Long options are cut out of the line; every other byte reaches the parser as typed.
    {"LongOptionFirstTrailingBlankStays", "--firmware-dir C:\\fw /F2 x ", 2, "", 0, 0, 0, 0,
     "x|"},
    {"LongOptionLastTabStays", "/F0\tx --firmware-dir fw", 0, "", 0, 0, 0, 0, nullptr},
    {"LongOptionBetweenTwoBlanksStays", "a  --family 1 b", 255, "b", 0, 0, 0, 0, "a||b"},
    {"DoubleHyphenInsideQuotedName", "/F0 \"fw --new.bin\"", 0, "\"fw", 0, 0, 0, 0, "\"fw"},
    {"QuotedLongOptionAndValue", "\"--firmware-dir\" \"C:\\my fw\" /F1 a", 1, "a", 0, 0, 0, 0, "a"},
    {"WordPastPreParserLimit", kLongWordLine.c_str(), 2, "", 0, 0, 0, 0, nullptr},
};

class CommandLine : public ::testing::TestWithParam<CommandLineCase> {
protected:
    void SetUp() override { recording_view_reset(); }
};

TEST_P(CommandLine, SetsModeFileNameAndOptions) {
    const CommandLineCase& c = GetParam();
    // The line goes through the long options' pre-parser first, as WinMain's does (in the
    // simulated edition, which offers --firmware-dir); a line without one passes unchanged.
    static char rest[32768];
    LongOptions longOptions;
    TakeLongOptionsFromLine(c.commandLine, Edition{kEditionSim, "zorflash-sim"}, &longOptions,
                            rest, sizeof rest);
    ASSERT_EQ(longOptions.outcome, LongOptionsOutcome::Run) << longOptions.error;
    if (std::strstr(c.commandLine, "--") == nullptr) {
        EXPECT_STREQ(rest, c.commandLine);
    }
    LaunchOptions options;
    ResetLaunchOptions(&options);
    ParseCommandLine(rest, &options);
    EXPECT_EQ(options.launchMode, c.launchMode);
    EXPECT_STREQ(options.fileName, c.fileName);
    EXPECT_EQ(options.sOptionValue, c.sOptionValue);
    EXPECT_EQ(options.sOptionGiven, c.sOptionGiven);
    EXPECT_EQ(options.wOptionValue, c.wOptionValue);
    EXPECT_EQ(options.dumpOptionGiven, c.dumpOptionGiven);
    // The file name travels in the options, as the last bare word left it.
    EXPECT_EQ(options.fileName, c.bareWords == nullptr ? std::string() : LastWord(c.bareWords));
}

INSTANTIATE_TEST_SUITE_P(Cases, CommandLine, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<CommandLineCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(CommandLineLimits, EmptyLineKeepsWhatWasThere) {
    recording_view_reset();
    LaunchOptions options;
    ResetLaunchOptions(&options);
    options.launchMode = 3;
    std::snprintf(options.fileName, sizeof options.fileName, "kept");
    ParseCommandLine("", &options);
    EXPECT_EQ(options.launchMode, 3);
    EXPECT_STREQ(options.fileName, "kept");
}

TEST(CommandLineLimits, ParseClearsTheFileNameFirst) {
    recording_view_reset();
    LaunchOptions options;
    ResetLaunchOptions(&options);
    std::snprintf(options.fileName, sizeof options.fileName, "old");
    ParseCommandLine("/V", &options);
    EXPECT_STREQ(options.fileName, "");
}

TEST(CommandLineLimits, LongBareWordIsCutToTheFileNameField) {
    recording_view_reset();
    const std::string word(300, 'w');
    LaunchOptions options;
    ResetLaunchOptions(&options);
    // Guard bytes behind the structure catch a write past the file name.
    struct {
        LaunchOptions options;
        char guard[64];
    } block;
    block.options = options;
    std::memset(block.guard, 0x5A, sizeof block.guard);
    ParseCommandLine(("/F1 " + word).c_str(), &block.options);
    EXPECT_EQ(std::string(block.options.fileName), std::string(kFileNameCapacity - 1, 'w'));
    EXPECT_EQ(block.options.launchMode, 1);
    for (char c : block.guard) ASSERT_EQ(c, 0x5A);
}

TEST(CommandLineLimits, LongTokenIsCutAndParsingGoesOn) {
    recording_view_reset();
    // 700 hex digits: only the first 509 after "/S" fit the 511 characters of the token;
    // the last eight of those make the value. Then the next option still counts.
    std::string digits;
    for (int i = 0; i < 700; ++i) digits += "0123456789abcdef"[i % 16];
    LaunchOptions options;
    ResetLaunchOptions(&options);
    ParseCommandLine(("/S" + digits + " /F2").c_str(), &options);
    uint32_t expected = 0;
    for (int i = 0; i < 509; ++i) {
        const char c = digits[static_cast<size_t>(i)];
        expected = expected * 16 + static_cast<uint32_t>(c <= '9' ? c - '0' : c - 'a' + 10);
    }
    EXPECT_EQ(options.sOptionValue, expected);
    EXPECT_EQ(options.sOptionGiven, 1);
    EXPECT_EQ(options.launchMode, 2);
}

// The Windows line split as CommandLineToArgvW splits it: backslashes are text except
// before a double quote, where 2n of them give n and a quote that opens or closes, 2n+1 give
// n and a quote that is text. What --report takes is the argument Windows would hand over.
struct WindowsLineCase {
    const char* line;
    const char* reportPath;
    bool update;
    const char* rest;
};

TEST(CommandLineLimits, WindowsLineFollowsTheBackslashRules) {
    const WindowsLineCase cases[] = {
        {"--report \"C:\\logs\\\" --update", "C:\\logs\" --update", false, ""},
        {"--report \"C:\\logs\\\\\" --update", "C:\\logs\\", true, ""},
        {"--report C:\\a\\\\b\\ --update", "C:\\a\\\\b\\", true, ""},
        {"--report \"a\\\\\\\"b\" /V", "a\\\"b", false, "/V"},
        {"--report a\\\"b\" --update\"", "a\"b --update", false, ""},
        // A "--" inside what Windows hands over as one argument is no option.
        {"/F0 \"fw\\\" --update\" --report r", "r", false, "/F0 \"fw\\\" --update\""},
    };
    for (const WindowsLineCase& c : cases) {
        LongOptions options;
        char rest[64];
        TakeLongOptionsFromLine(c.line, Edition{kEditionWindows, "zorflash"}, &options, rest,
                                sizeof rest);
        EXPECT_EQ(options.outcome, LongOptionsOutcome::Run) << c.line << options.error;
        EXPECT_STREQ(options.reportPath, c.reportPath) << c.line;
        EXPECT_EQ(options.update, c.update) << c.line;
        EXPECT_STREQ(rest, c.rest) << c.line;
    }
}

}  // namespace
