// The Windows edition seen from outside: its resources, and its main dialog driven from
// another process while it runs under Wine. ZORFLASH_EXE and ZORFLASH_SIM_EXE name the
// programs (Windows paths).
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "driver_support.h"
#include "expected_texts.h"
#include "resource_reader.h"

namespace {

constexpr int kUpdate = 1002, kExit = 1008, kFileName = 1000, kProgress = 1003,
              kCurrentVersion = 1004, kNewVersion = 1005, kStatus = 1006, kNotice = 1007;

const char kCaption[] = TEXT_CAPTION;
const char kNoSensorMessage[] = TEXT_NO_CONNECTION;
const char kNoticeText[] =
    "Update firmware takes several minutes.\nDuring updating, you should NOT shut down and "
    "restart PC.";

// The first dialog in a fresh Wine prefix waits for Wine's font cache and desktop.
constexpr DWORD kWindowTimeoutMs = 60000;
constexpr DWORD kQueryTimeoutMs = 20000;
constexpr DWORD kExitTimeoutMs = 20000;
constexpr DWORD kUpdateTimeoutMs = 180000;

std::string RealProgram() { return Environment("ZORFLASH_EXE"); }
std::string SimProgram() { return Environment("ZORFLASH_SIM_EXE"); }

// ---- Resources ------------------------------------------------------------------------

// The controls of template 103 in template order, with the exact style words that the
// dialog's initial states give (WS_CHILD | WS_VISIBLE and the control's own style bits).
struct ExpectedItem {
    int id;
    const char* className;
    const char* text;
    int16_t x, y, cx, cy;
    uint32_t style;
    const char* what;
};

const ExpectedItem kExpectedItems[] = {
    {1002, "Button", "Update", 197, 83, 50, 14,
     WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, "default push button Update"},
    {1008, "Button", "Exit", 260, 83, 50, 14, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON,
     "push button Exit"},
    {1000, "Edit", "", 15, 59, 182, 14,
     WS_CHILD | WS_BORDER | WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL | ES_READONLY,
     "hidden read-only file-name field"},
    {1003, "msctls_progress32", "", 7, 128, 303, 14,
     WS_CHILD | WS_VISIBLE | WS_BORDER | WS_DISABLED | PBS_SMOOTH, "smooth progress bar"},
    {-1, "Static", "Current Version : ", 15, 13, 55, 8, WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT,
     "current-version label"},
    {1004, "Static", "", 74, 13, 94, 11, WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT,
     "current version"},
    {1006, "Static", "", 9, 111, 301, 12, WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT,
     "status line"},
    {-1, "Static", "New Version      : ", 15, 31, 55, 8, WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT,
     "new-version label"},
    {1005, "Static", "", 74, 30, 94, 11, WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT,
     "new version"},
    {1007, "Static", "", 42, 55, 141, 44, WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT,
     "notice text"},
};

class Resources : public ::testing::TestWithParam<const char*> {
protected:
    std::string Program() const { return Environment(GetParam()); }
};

TEST_P(Resources, MainDialogTemplate103) {
    DialogTemplate dialog;
    std::string error;
    ASSERT_TRUE(ReadDialogTemplate(Program(), 103, &dialog, &error)) << error;
    EXPECT_EQ(dialog.style, static_cast<uint32_t>(WS_POPUP | WS_CAPTION | WS_SYSMENU |
                                                  DS_MODALFRAME | DS_CENTER | DS_SETFOREGROUND |
                                                  DS_SETFONT));
    EXPECT_EQ(dialog.cx, 317);
    EXPECT_EQ(dialog.cy, 150);
    EXPECT_EQ(dialog.className, "ZFLASHUSB");
    EXPECT_EQ(dialog.caption, kCaption);
    EXPECT_EQ(dialog.menu, "");
    EXPECT_EQ(dialog.pointSize, 9);
    EXPECT_EQ(dialog.typeface, "Arial");
    ASSERT_EQ(dialog.items.size(), sizeof kExpectedItems / sizeof kExpectedItems[0]);
    for (size_t i = 0; i < dialog.items.size(); ++i) {
        const TemplateItem& item = dialog.items[i];
        const ExpectedItem& want = kExpectedItems[i];
        SCOPED_TRACE(std::string("item ") + std::to_string(i) + ": " + want.what);
        EXPECT_EQ(item.id, want.id);
        EXPECT_STRCASEEQ(item.className.c_str(), want.className);
        EXPECT_EQ(item.text, want.text);
        EXPECT_EQ(item.x, want.x);
        EXPECT_EQ(item.y, want.y);
        EXPECT_EQ(item.cx, want.cx);
        EXPECT_EQ(item.cy, want.cy);
        EXPECT_EQ(item.style, want.style) << std::hex << item.style << " vs " << want.style;
        EXPECT_EQ(item.exStyle, 0u);
    }
}

TEST_P(Resources, ProgramIcon109HasTwo32PixelImagesIn16And256Colours) {
    std::vector<IconImage> images;
    std::string error;
    ASSERT_TRUE(ReadIconGroup(Program(), 109, &images, &error)) << error;
    ASSERT_EQ(images.size(), 2u);
    EXPECT_EQ(images[0].width, 32);
    EXPECT_EQ(images[0].height, 32);
    EXPECT_EQ(images[0].bitCount, 4);
    EXPECT_EQ(images[0].colourCount, 16);
    EXPECT_EQ(images[1].width, 32);
    EXPECT_EQ(images[1].height, 32);
    EXPECT_EQ(images[1].bitCount, 8);
    EXPECT_EQ(images[1].colourCount, 0);  // 256 colours are written as 0
}

TEST_P(Resources, VersionRecordAndManifest) {
    std::string value, error;
    ASSERT_TRUE(ReadVersionString(Program(), "FileVersion", &value, &error)) << error;
    EXPECT_EQ(value, ZORFLASH_VERSION);
    ASSERT_TRUE(ReadVersionString(Program(), "FileDescription", &value, &error)) << error;
    EXPECT_EQ(value, "Digitizer Firmware Update Utility");
    std::string manifest;
    ASSERT_TRUE(ReadManifest(Program(), &manifest, &error)) << error;
    EXPECT_NE(manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""),
              std::string::npos);
    EXPECT_NE(manifest.find(">true</dpiAware>"), std::string::npos);
    // The program's own identity names the processor it was built for.
    EXPECT_NE(manifest.find(sizeof(void*) == 8 ? "processorArchitecture=\"amd64\""
                                               : "processorArchitecture=\"x86\""),
              std::string::npos)
        << manifest;
}

INSTANTIATE_TEST_SUITE_P(Programs, Resources,
                         ::testing::Values("ZORFLASH_EXE", "ZORFLASH_SIM_EXE"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param) == "ZORFLASH_EXE" ? "Real" : "Sim";
                         });

// zorflash.exe is the message file its event source names: the event viewer words an entry
// of event 1 with its text there, the entry's eight strings in place of %1 to %8.
TEST(EventMessages, ZorflashExeWordsTheUpdateEventWithTheEntrysStrings) {
    const struct {
        const char* strings[8];
        const char* text;
    } rows[] = {
        {{"Sensor firmware update: 0140 -> 0610, result 0 (Update complete.), 1 attempt, 61.250 s",
          "versionBefore=0140", "versionAfter=0610", "result=0", "status=Update complete.",
          "attempts=1", "seconds=61.250", "sha256=ab"},
         "Sensor firmware update: 0140 -> 0610, result 0 (Update complete.), 1 attempt, 61.250 "
         "s.\r\n\r\nDetails:\r\nversionBefore=0140\r\nversionAfter=0610\r\nresult=0\r\n"
         "status=Update complete.\r\nattempts=1\r\nseconds=61.250\r\nsha256=ab"},
        // A string holding a percent sign stays as it is: inserts are not read again.
        {{"s %1", "b", "a", "r", "st %2!s!", "n", "d", "h"},
         "s %1.\r\n\r\nDetails:\r\nb\r\na\r\nr\r\nst %2!s!\r\nn\r\nd\r\nh"},
    };
    HMODULE program = LoadLibraryExA(RealProgram().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(program, nullptr) << RealProgram();
    for (const auto& row : rows) {
        DWORD_PTR arguments[8];
        for (int i = 0; i < 8; ++i) arguments[i] = reinterpret_cast<DWORD_PTR>(row.strings[i]);
        char text[2048];
        const DWORD length = FormatMessageA(
            FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, program, 1, 0, text,
            sizeof text, reinterpret_cast<va_list*>(arguments));
        ASSERT_GT(length, 0u) << "no text for event 1: error " << GetLastError();
        EXPECT_EQ(std::string(text, length), row.text);
    }
    FreeLibrary(program);
}

// ---- The running dialog ---------------------------------------------------------------

// One started program per test; a test that fails half-way does not leave it running.
class Dialog : public ::testing::Test {
protected:
    void TearDown() override {
        EndProgram(&second_);
        EndProgram(&program_);
    }

    // Starts the program and waits for its dialog to be shown.
    HWND Start(const std::string& exe, const std::string& arguments) {
        program_ = StartProgram(exe, arguments);
        HWND dialog = nullptr;
        EXPECT_TRUE(WaitUntil([&] { return (dialog = FindMainDialog(program_)) != nullptr; },
                              kWindowTimeoutMs))
            << "no visible ZFLASHUSB window of " << exe;
        shownAt_ = GetTickCount();
        return dialog;
    }

    bool WaitForText(HWND dialog, int id, const std::string& text, DWORD timeoutMs) {
        return WaitUntil([&] { return ControlText(dialog, id) == text; }, timeoutMs);
    }

    // The worker ends by writing the status, then the notice, the bar and the buttons, Exit
    // as the last: once Exit is enabled, the rest is there to read.
    static bool WaitForWorkerEnd(HWND dialog) {
        return WaitUntil([&] { return ControlEnabled(dialog, kExit); }, 5000);
    }

    // Client-area rectangle of a control, in pixels.
    static RECT ControlRect(HWND dialog, int id) {
        RECT rect;
        GetWindowRect(GetDlgItem(dialog, id), &rect);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
        return rect;
    }

    DrivenProgram program_;
    DrivenProgram second_;
    DWORD shownAt_ = 0;
};

TEST_F(Dialog, StartUpShowsTheDialogWithItsControlsThenExitEndsWithCode2) {
    HWND dialog = Start(RealProgram(), "");
    ASSERT_NE(dialog, nullptr);

    char text[256];
    ASSERT_GT(GetClassNameA(dialog, text, sizeof text), 0);
    EXPECT_STREQ(text, "ZFLASHUSB");
    GetWindowTextA(dialog, text, sizeof text);
    EXPECT_STREQ(text, kCaption);
    EXPECT_EQ(GetClassLongPtrA(dialog, GCL_CBWNDEXTRA), 30);
    EXPECT_EQ(GetClassLongPtrA(dialog, GCL_STYLE), 0);

    struct State {
        int id;
        bool visible, enabled;
    };
    const State states[] = {
        {kUpdate, true, true},         {kExit, true, true},         {kFileName, false, true},
        {kProgress, true, false},      {kCurrentVersion, true, true}, {kNewVersion, true, true},
        {kStatus, true, true},         {kNotice, true, true},
    };
    for (const State& state : states) {
        SCOPED_TRACE("control " + std::to_string(state.id));
        ASSERT_NE(GetDlgItem(dialog, state.id), nullptr);
        EXPECT_EQ(ControlVisible(dialog, state.id), state.visible);
        EXPECT_EQ(ControlEnabled(dialog, state.id), state.enabled);
    }

    // Positions: one horizontal and one vertical scale (the dialog units of the font)
    // maps every control of the template onto the window; taken from the progress bar,
    // the widest and lowest control, where rounding weighs least.
    const RECT bar = ControlRect(dialog, kProgress);
    const double sx = (bar.right - bar.left) / 303.0, sy = bar.top / 128.0;
    for (const ExpectedItem& want : kExpectedItems) {
        if (want.id < 0) continue;
        SCOPED_TRACE(want.what);
        const RECT r = ControlRect(dialog, want.id);
        EXPECT_NEAR(r.left, want.x * sx, 1.5);
        EXPECT_NEAR(r.top, want.y * sy, 1.5);
        EXPECT_NEAR(r.right - r.left, want.cx * sx, 1.5);
        EXPECT_NEAR(r.bottom - r.top, want.cy * sy, 1.5);
    }

    // The first tick: no sensor under Wine, so three queries one second apart, then "????".
    ASSERT_TRUE(WaitForText(dialog, kCurrentVersion, "????", kQueryTimeoutMs));
    // Three queries with a 1000 ms pause after each: about 3.1 s from the timer's start,
    // which lies a little before the moment the dialog was seen; two would take 2.1 s.
    EXPECT_GE(GetTickCount() - shownAt_, 2600u) << "three queries with a 1000 ms pause after each";
    EXPECT_EQ(ControlText(dialog, kNewVersion), "");
    EXPECT_EQ(ControlText(dialog, kStatus), "");
    EXPECT_EQ(ControlText(dialog, kFileName), "");
    EXPECT_TRUE(ControlEnabled(dialog, kUpdate));
    EXPECT_TRUE(ControlEnabled(dialog, kExit));

    ClickButton(dialog, kExit);
    EXPECT_EQ(WaitForExit(&program_, kExitTimeoutMs), 2);
}

TEST_F(Dialog, UpdateWithoutSensorReportsNoConnectionAndExitEndsWithCode0) {
    HWND dialog = Start(RealProgram(), "");
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(WaitForText(dialog, kCurrentVersion, "????", kQueryTimeoutMs));

    ClickButton(dialog, kUpdate);
    ASSERT_TRUE(WaitForText(dialog, kStatus, kNoSensorMessage, kQueryTimeoutMs))
        << "status line: " << ControlText(dialog, kStatus);
    EXPECT_TRUE(WaitForWorkerEnd(dialog)) << "Exit not enabled after the update";
    EXPECT_EQ(ControlText(dialog, kNotice), kNoticeText);
    EXPECT_TRUE(ControlEnabled(dialog, kUpdate));
    EXPECT_FALSE(ControlEnabled(dialog, kProgress));
    EXPECT_EQ(ControlText(dialog, kCurrentVersion), "????");

    ClickButton(dialog, kExit);
    EXPECT_EQ(WaitForExit(&program_, kExitTimeoutMs), 0);
}

TEST_F(Dialog, CloseCommandWithoutWorkerEndsWithCode2) {
    HWND dialog = Start(RealProgram(), "");
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(WaitForText(dialog, kCurrentVersion, "????", kQueryTimeoutMs));
    PostMessageA(dialog, WM_CLOSE, 0, 0);
    EXPECT_EQ(WaitForExit(&program_, kExitTimeoutMs), 2);
}

// Unattended modes /F0 to /F3 without a file name end with 4 and never show the dialog.
class UnattendedWithoutFile : public Dialog, public ::testing::WithParamInterface<const char*> {};

TEST_P(UnattendedWithoutFile, EndsWithCode4AndShowsNoWindow) {
    program_ = StartProgram(RealProgram(), GetParam());
    bool shown = false;
    int code = -1;
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < kExitTimeoutMs) {
        if (FindMainDialog(program_) != nullptr) shown = true;
        if (WaitForSingleObject(program_.process, 5) == WAIT_OBJECT_0) {
            code = WaitForExit(&program_, 0);
            break;
        }
    }
    EXPECT_EQ(code, 4);
    EXPECT_FALSE(shown);
}

INSTANTIATE_TEST_SUITE_P(Modes, UnattendedWithoutFile,
                         ::testing::Values("/F0", "/F1", "-f2", "/F3"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return std::string("Mode") + info.param[2];
                         });

TEST_F(Dialog, SecondInstanceEndsWithCode2WhileTheFirstRuns) {
    HWND dialog = Start(RealProgram(), "");
    ASSERT_NE(dialog, nullptr);

    // Unattended: nobody is there to read a message; it just ends.
    second_ = StartProgram(RealProgram(), "/F0 image.bin");
    EXPECT_EQ(WaitForExit(&second_, kExitTimeoutMs), 2);

    // Interactive: a message box says why, and no second dialog is shown.
    second_ = StartProgram(RealProgram(), "");
    HWND box = nullptr;
    ASSERT_TRUE(WaitUntil([&] {
        box = FindWindowOfProgram(second_, "ZORFLASH");
        return box != nullptr && IsWindowVisible(box);
    }, kWindowTimeoutMs));
    EXPECT_EQ(FindMainDialog(second_), nullptr);
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(WaitForExit(&second_, kExitTimeoutMs), 2);

    EXPECT_EQ(WaitForSingleObject(program_.process, 0), static_cast<DWORD>(WAIT_TIMEOUT))
        << "the first instance goes on";
    ASSERT_TRUE(WaitForText(dialog, kCurrentVersion, "????", kQueryTimeoutMs));
    ClickButton(dialog, kExit);
    EXPECT_EQ(WaitForExit(&program_, kExitTimeoutMs), 2);
}

// ---- Long options: answered in a box, the sensor never reached ------------------------

struct LongOptionCase {
    const char* arguments;
    int exitCode;
    const char* textStart;
};

TEST(LongOptions, AreAnsweredInABoxCaptionedAsTheDialog) {
    const LongOptionCase cases[] = {
        {"--help", 0, "Usage: zorflash [OPTION]..."},
        // This build embeds both images: their files and sums are named.
        {"--version", 0, "zorflash " ZORFLASH_VERSION "\nimage A, firmware 0610 (family 0): embedded (from "},
        // Interactive: the box waits for its reader. Unattended, the same error has no box
        // (UnattendedRuns below).
        {"--firmware-dir C:\\fw", 4,
         "zorflash: unknown option --firmware-dir; see zorflash --help"},
    };
    for (const LongOptionCase& c : cases) {
        DrivenProgram program = StartProgram(RealProgram(), c.arguments);
        HWND box = nullptr;
        ASSERT_TRUE(WaitUntil([&] {
            box = FindWindowOfProgram(program, kCaption);
            return box != nullptr && IsWindowVisible(box);
        }, kWindowTimeoutMs)) << c.arguments;
        EXPECT_EQ(FindMainDialog(program), nullptr) << c.arguments << ": no dialog";
        const std::string text = ControlText(box, 0xFFFF);  // the box's message text
        EXPECT_EQ(text.substr(0, std::strlen(c.textStart)), c.textStart) << text;
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        EXPECT_EQ(WaitForExit(&program, kExitTimeoutMs), c.exitCode) << c.arguments;
        EndProgram(&program);
    }
}

// ---- Runs nobody watches: they end by themselves, never in a box ---------------------

enum class LockName { Free, Instance, OtherObject };

struct UnattendedCase {
    const char* arguments;  // REPORT stands for a file in the temporary folder
    int exitCode;
    const char* debugText;  // what the debugger output must hold; "" when nothing is asked
    LockName lock;          // who holds the single-instance mutex's name meanwhile
    const char* reportHolds = "";  // what the --report file must hold; "" when none is asked
};

std::string ReadWhole(const std::string& path) {
    std::ifstream file(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

TEST(UnattendedRuns, EndByThemselvesWithTheirStatusAndTellWhyOnTheDebuggerOutput) {
    const UnattendedCase cases[] = {
        {"--firmware-dir C:\\fw /V", 4,
         "zorflash: unknown option --firmware-dir; see zorflash --help", LockName::Free},
        {"/F0 x --json", 4, "zorflash: unknown option --json", LockName::Free},
        {"--update --bogus", 4, "zorflash: unknown option --bogus", LockName::Free},
        {"--update /F0 x", 4, "--info and --update take no slash option or file name: /F0 x",
         LockName::Free},
        // A script's option, even mistyped or with a value it does not take, is never
        // answered in a box.
        {"--update=1", 4, "zorflash: no value is taken by --update=1", LockName::Free},
        {"--updat", 4, "zorflash: unknown option --updat", LockName::Free},
        {"--rep", 4, "zorflash: unknown option --rep", LockName::Free},
        {"--info --report REPORT", 3, "", LockName::Free, "\"exitStatus\": 3"},
        {"--version --report REPORT", 0, "", LockName::Free, "\"images\""},
        {"--help --report REPORT", 0, "", LockName::Free, "\"help\""},
        // The slash options of an unattended update are a script's too.
        {"/F0 x --version --report REPORT", 0, "", LockName::Free, "\"images\""},
        // --info while another instance runs (it may be writing the sensor) ends at once.
        {"--info", 6, "Another copy of this utility is already running.", LockName::Instance},
        {"--info --report REPORT", 6, "Another copy of this utility is already running.",
         LockName::Instance, "\"exitStatus\": 6"},
        {"--update --report REPORT", 6, "lock Global\\ZorflashFirmwareUpdate cannot be taken",
         LockName::OtherObject, "\"exitStatus\": 6"},
        // The slash options see the line as typed: a trailing blank is an empty file name, a
        // tab is part of its word, and a "--" inside a quoted name belongs to the name (which
        // runs the update: no sensor under Wine, so the no-sensor path's 0).
        {"/F0 x ", 4, "", LockName::Free},
        {"/F0\tx", 4, "", LockName::Free},
        {"/F0 \"fw --new.bin\"", 0, "", LockName::Free},
        {"--update", 6, "lock Global\\ZorflashFirmwareUpdate cannot be taken", LockName::OtherObject},
        {"/V", 2, "lock Global\\ZorflashFirmwareUpdate cannot be taken", LockName::OtherObject},
        {"/V", 2, "Another copy of this utility is already running.", LockName::Instance},
    };
    char temporary[MAX_PATH];
    GetTempPathA(sizeof temporary, temporary);
    const std::string report = std::string(temporary) + "zorflash-unattended-report.json";
    for (const UnattendedCase& c : cases) {
        const char* const kName = "Global\\ZorflashFirmwareUpdate";
        const HANDLE squatter = c.lock == LockName::Instance ? CreateMutexA(nullptr, FALSE, kName)
                                : c.lock == LockName::OtherObject
                                    ? CreateEventA(nullptr, FALSE, FALSE, kName)
                                    : nullptr;
        std::string arguments = c.arguments;
        const size_t at = arguments.find("REPORT");
        if (at != std::string::npos) arguments.replace(at, 6, "\"" + report + "\"");
        DeleteFileA(report.c_str());
        std::vector<std::string> lines;
        const int code =
            RunUnderDebugger("\"" + RealProgram() + "\" " + arguments, kExitTimeoutMs, &lines);
        if (squatter != nullptr) CloseHandle(squatter);
        if (c.reportHolds[0] != '\0') {
            const std::string written = ReadWhole(report);
            EXPECT_NE(written.find(c.reportHolds), std::string::npos) << c.arguments << ": " << written;
            EXPECT_NE(written.find("\"state\": \"ended\""), std::string::npos) << c.arguments;
        }
        DeleteFileA(report.c_str());
        // A box would hold the run until the time-out (-1).
        EXPECT_EQ(code, c.exitCode) << c.arguments;
        std::string output;
        for (const std::string& line : lines) output += line + "\n";
        if (c.debugText[0] != '\0') {
            EXPECT_NE(output.find(c.debugText), std::string::npos) << c.arguments << ": " << output;
        }
    }
}

// ---- The simulated edition: a whole update in the dialog ------------------------------

// Writes `path` (a Windows path) with nothing in it.
void Touch(const std::string& path) { std::ofstream(path.c_str()).put('\n'); }
bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

TEST_F(Dialog, SimulatedSensorCompleteUpdateEndsUpdateCompleteAndCode2) {
    HWND dialog = Start(SimProgram(), "");
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(WaitForText(dialog, kCurrentVersion, "0140", kQueryTimeoutMs))
        << ControlText(dialog, kCurrentVersion);
    EXPECT_EQ(ControlText(dialog, kNewVersion), "0610");

    ClickButton(dialog, kUpdate);
    ASSERT_TRUE(WaitUntil([&] { return ProgressPosition(dialog) > 0; }, kUpdateTimeoutMs))
        << "the progress bar never moved; status: " << ControlText(dialog, kStatus);
    // The dialog's status texts keep the blanks its fixed-width line has always had.
    const std::string moving = ControlText(dialog, kStatus);
    EXPECT_TRUE(moving == "Program....              " || moving == "Verify....          ")
        << "[" << moving << "]";
    EXPECT_FALSE(ControlEnabled(dialog, kUpdate));
    EXPECT_FALSE(ControlEnabled(dialog, kExit));
    EXPECT_TRUE(ControlEnabled(dialog, kProgress));
    EXPECT_EQ(ControlText(dialog, kNotice), kNoticeText);

    // The close command and the end of the session are refused while the worker writes.
    PostMessageA(dialog, WM_CLOSE, 0, 0);
    DWORD_PTR answer = 1;
    ASSERT_TRUE(SendMessageTimeoutA(dialog, WM_QUERYENDSESSION, 0, 0, SMTO_ABORTIFHUNG, 5000,
                                    &answer));
    EXPECT_EQ(answer, 0u) << "WM_QUERYENDSESSION must say no during an update";
    Sleep(300);
    EXPECT_EQ(WaitForSingleObject(program_.process, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_TRUE(IsWindowVisible(dialog));

    // A screenshot of the update in progress, taken by the script that runs this test
    // once the bar has gone some way.
    const std::string request = Environment("ZORFLASH_SCREENSHOT_REQUEST");
    if (!request.empty()) {
        EXPECT_TRUE(WaitUntil([&] { return ProgressPosition(dialog) >= 200; }, kUpdateTimeoutMs));
        const std::string done = request + ".done";
        Touch(request);
        EXPECT_TRUE(WaitUntil([&] { return Exists(done); }, 20000)) << "no screenshot taken";
    }

    ASSERT_TRUE(WaitForText(dialog, kStatus, TEXT_UPDATE_COMPLETE, kUpdateTimeoutMs))
        << "status line: " << ControlText(dialog, kStatus);
    EXPECT_TRUE(WaitForWorkerEnd(dialog)) << "Exit not enabled after the update";
    EXPECT_EQ(ControlText(dialog, kCurrentVersion), "0610");
    EXPECT_EQ(ControlText(dialog, kNotice), "");
    EXPECT_FALSE(ControlEnabled(dialog, kUpdate));
    EXPECT_FALSE(ControlEnabled(dialog, kProgress));

    // The worker enables Exit as its last step and ends a moment later; a click in that
    // moment is refused (the worker still runs), as a person's would be. So, as a person
    // would, press again when the program has not ended.
    int code = -1;
    for (int press = 0; press < 5 && code == -1; ++press) {
        ClickButton(dialog, kExit);
        code = WaitForExit(&program_, 2000);
    }
    EXPECT_EQ(code, 2);
}

}  // namespace

// ---- Diagnostic lines on the debugger output ------------------------------------------

namespace {

std::string SystemText(DWORD code) {
    char text[1024];
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, text, sizeof text, nullptr);
    return std::string(text, length);
}

TEST(DebuggerOutput, DiagnosticLinesReachTheDebuggerWholeAndInOrder) {
    std::vector<std::string> lines;
    const int code = RunUnderDebugger("\"" + Environment("ZORFLASH_DIAG_EMITTER_EXE") + "\"",
                                      kExitTimeoutMs, &lines);
    EXPECT_EQ(code, 1) << "the update mark fails at its first command";
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0],
              "---------- < Module Name : GetFWVersion > ---------\nFailed to open ORVELL USB sensor");
    const std::string fileNotFound = SystemText(ERROR_FILE_NOT_FOUND);
    ASSERT_FALSE(fileNotFound.empty()) << "Wine has a text for ERROR_FILE_NOT_FOUND";
    EXPECT_EQ(lines[1], "---------- < Module Name : flash_write > ---------\n010" + fileNotFound);
    ASSERT_TRUE(SystemText(0x2A).empty());
    EXPECT_EQ(lines[2], "---------- < Module Name : flash_verify > ---------\n020\nError Code = 2a");
    // The real failure: the set of the first mark command, with the system's text for
    // whatever HidD_SetFeature left as the last error.
    const std::string head = "---------- < Module Name : flash_marking > ---------\n010";
    ASSERT_EQ(lines[3].compare(0, head.size(), head), 0) << lines[3];
    const std::string tail = lines[3].substr(head.size());
    EXPECT_TRUE((tail.size() > 2 && tail.compare(tail.size() - 2, 2, "\r\n") == 0) ||
                tail.compare(0, 14, "\nError Code = ") == 0)
        << "system text or error code expected after the stage code: " << tail;
}

}  // namespace
