// The Windows edition, zorflash.exe, under Wine and the umockdev preload: Wine's HID bus
// takes the emulated sensor's hidraw node through udev, and the program reaches it through
// SetupAPI and the HID class driver as on Windows. Wine follows the re-enumeration (the
// "remove" and "add" events of the testbed), so a whole update runs.
//
// Real time, like the Linux edition's end-to-end tests; each run also starts a fresh Wine
// server (about 3 s) so that Wine's device driver process sees this test's testbed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "emulated_e2e.h"
#include "expected_texts.h"
#include "firmware/sha256.h"
#include "run_program.h"
#include "update_stream.h"

namespace {

std::string WindowsExe() {
    const char* path = std::getenv("ZORFLASH_WINDOWS_EXE");
    return path != nullptr ? path : ZORFLASH_WINDOWS_EXE_DEFAULT;
}

class WineE2eTest : public EmulatedSensorTest {
protected:
    void SetUp() override {
        if (access(WindowsExe().c_str(), R_OK) != 0) {
            GTEST_SKIP() << "no Windows edition at " << WindowsExe()
                         << " (build it with the mingw-w64 preset, or set ZORFLASH_WINDOWS_EXE)";
        }
        if (std::system("command -v wine >/dev/null 2>&1") != 0) GTEST_SKIP() << "no wine";
        ASSERT_TRUE(emulated_testbed_ready()) << "umockdev testbed not available";
    }
    ProgramRun Run(const std::vector<std::string>& args, const std::string& usbKeys,
                   double timeoutSeconds, const std::string& pressOkIn = "",
                   const std::string& extraEnvironment = "") {
        std::vector<std::string> programAndArgs = {WindowsExe()};
        programAndArgs.insert(programAndArgs.end(), args.begin(), args.end());
        return RunUnderWine(programAndArgs, usbKeys, timeoutSeconds, pressOkIn, extraEnvironment);
    }
    ProgramRun RunUnderWine(const std::vector<std::string>& programAndArgs,
                            const std::string& usbKeys, double timeoutSeconds,
                            const std::string& pressOkIn = "",
                            const std::string& extraEnvironment = "") {
        std::vector<std::string> argv = {WINE_UMOCKDEV_SCRIPT, WINE_STATE_DIR};
        argv.insert(argv.end(), programAndArgs.begin(), programAndArgs.end());
        std::vector<std::string> env = {"ZORFLASH_WINE_USB_KEYS=" + usbKeys};
        if (!extraEnvironment.empty()) env.push_back(extraEnvironment);
        if (!pressOkIn.empty()) {
            const std::string exe = WindowsExe();
            env.push_back("ZORFLASH_WINE_PRESS_OK=" + exe.substr(0, exe.rfind('/')) +
                          "/press_ok.exe " + pressOkIn);
        }
        ProgramRun run = run_program(argv, env, timeoutSeconds);
        EXPECT_FALSE(run.timedOut) << programAndArgs[0] << " did not end within " << timeoutSeconds
                                   << " s";
        return run;
    }
};

// Identification through Wine's HID stack: vendor, product and version from the mocked
// device, the family-1 report words through HidD_GetFeature. The sensor is up to date, so
// it is read and nothing is sent.
TEST_F(WineE2eTest, IdentifiesFamilyOneSensorThroughWinesHidStack) {
    SimSensorConfig config = QuickSensorConfig(1, 0x0139);
    config.report5Word = 6;
    config.report6Word = 1;
    Start(config);
    const ProgramRun run = Run({"/F0", "image.bin"}, "", 60);
    EXPECT_EQ(run.exitCode, 2) << run.err;
    std::vector<Report> expected;
    WordReads(&expected);
    ExpectStream(Transcript(), expected);
}

// The JSON object --report wrote at `path` (a Linux path, given to Windows under Z:).
nlohmann::json ReportAt(const std::string& path) {
    std::stringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return nlohmann::json::parse(text.str(), nullptr, false);
}

std::string WindowsPath(std::string path) {
    for (char& c : path) c = c == '/' ? '\\' : c;
    return "Z:" + path;
}

// No sensor: Wine's HID class lists nothing of ours; the worker's no-sensor path ends /F0
// with 0 and --update with its "no sensor found", 3. A sensor that does not fit ends
// --update with 5, nothing sent. --report writes what happened with --update and with /V.
TEST_F(WineE2eTest, NoSensorAndMismatchEndWithTheirExitStatus) {
    const std::string reportFile = test_temp_folder() + "/report.json";
    unlink(reportFile.c_str());
    EXPECT_EQ(Run({"/F0", "image.bin"}, "", 60).exitCode, 0);
    EXPECT_EQ(Run({"--update", "--report", WindowsPath(reportFile)}, "", 60).exitCode, 3);
    nlohmann::json report = ReportAt(reportFile);
    EXPECT_EQ(report["program"], "zorflash") << report;
    EXPECT_EQ(report["exitStatus"], 3) << report;
    EXPECT_EQ(report["update"]["end"], "no sensor") << report;
    Start(QuickSensorConfig(0, 0x0200));
    EXPECT_EQ(Run({"--update"}, "", 60).exitCode, 5);
    const ProgramRun slash = Run({"/V", "--report", WindowsPath(reportFile)}, "", 60);
    report = ReportAt(reportFile);
    EXPECT_EQ(report["exitStatus"], slash.exitCode) << report;
    EXPECT_EQ(report["sensor"]["productId"], "0x0090") << report;
    EXPECT_EQ(report["update"]["end"], "does not fit") << report;
    EXPECT_EQ(report["state"], "ended") << report;
    EXPECT_EQ(report.value("runId", "").size(), 16u) << report;
    // A device name is refused, never opened or replaced.
    const ProgramRun device = Run({"--update", "--report", "NUL"}, "", 60);
    EXPECT_EQ(device.exitCode, 5);
    EXPECT_NE(device.err.find("the report was not written to NUL: it is a device"),
              std::string::npos) << device.err;
    ExpectStream(Transcript(), {});
    unlink(reportFile.c_str());
}

// --update that cannot create its window (no display for Wine) ends with 1 and says why; a
// sensor that needs the update receives nothing.
TEST_F(WineE2eTest, UpdateThatCannotCreateItsWindowEndsWith1AndSendsNothing) {
    Start(QuickSensorConfig(0, 0x0140));
    const ProgramRun run = Run({"--update"}, "", 60, "", "ZORFLASH_WINE_NO_DISPLAY=1");
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_NE(run.err.find("zorflash: Can't create DialogBox."), std::string::npos) << run.err;
    ExpectStream(Transcript(), {});
}

// The event-log entries of a run as Wine traces them: each string passed to ReportEventW
// on a line of its own, on channel eventlog, class "err" for an error entry and "trace" for
// an information entry. Joined with "|", each duration ("61.250") as "S".
const char kEventLogTrace[] = "WINEDEBUG=-all,+eventlog";
std::string EventTexts(const std::string& err, const std::string& type) {
    const std::string prefix = ":" + type + ":eventlog:ReportEventW L\"";
    std::string texts;
    std::istringstream lines(err);
    for (std::string line; std::getline(lines, line);) {
        const size_t at = line.find(prefix), start = at + prefix.size();
        if (at == std::string::npos || line.back() != '"') continue;
        texts += (texts.empty() ? "" : "|") + line.substr(start, line.size() - 1 - start);
    }
    return std::regex_replace(texts, std::regex("[0-9]+\\.[0-9]{3}"), "S");
}

std::string ImageSum(uint16_t kind) {
    char hex[kSha256HexCapacity];
    Sha256Hex(ImageBytes(ImageForKind(kind)), ImageByteCount(ImageForKind(kind)), hex);
    return hex;
}

// A whole update through Wine, re-enumeration included: the normal-mode node goes away on
// the switch request, the boot loader's node comes (a new /dev/hidrawN), and after the exit
// command the sensor comes back with its new version.
TEST_F(WineE2eTest, UpdatesFamilyZeroSensorAcrossReEnumeration) {
    Start(QuickSensorConfig(0, 0x0140));
    // Windows keeps the key of every USB device attached; Wine keeps none, so the key of the
    // sensor attached now is made, without which its switch is refused.
    const ProgramRun run = Run({"/F0", "image.bin"}, "VID_F0A5&PID_0090", 150);
    EXPECT_EQ(run.exitCode, 2) << run.err;
    EXPECT_TRUE(FlashHolds(ImageForKind(0)));
    std::vector<Report> expected;
    expected.push_back({kSimEventSetFeature, 2, {0x02, 0x02}});
    BootLoaderPass(&expected, ImageForKind(0));
    ExpectStream(Transcript(), expected);
    // Windows has not met the boot loader (no Enum\USB key for it): it allows 20 s for the
    // driver's installation, which the Linux edition does not wait.
    EXPECT_GE(BootLoaderToErase(Transcript()), 20000u);
    EXPECT_EQ(emulated_sensor_nodes_created(sensor), 3u);
    SimSensor* model = emulated_sensor_lock(sensor);
    EXPECT_EQ(model->mode, kSimModeNormal);
    EXPECT_EQ(model->normalVersion, 0x0610);
    emulated_sensor_unlock(sensor);
}

// Family 1 through Wine: its vendor-page collection declares 9-byte feature reports, and
// Windows' class driver takes a feature report only in a buffer of the collection's
// feature-report length, so the 2-byte switch request must travel zero-padded to 9 bytes.
TEST_F(WineE2eTest, UpdatesFamilyOneSensorAcrossReEnumeration) {
    SimSensorConfig config = QuickSensorConfig(1, 0x0139);
    config.report5Word = 2;
    config.report6Word = 1;
    Start(config);
    // --update: the sensor now runs the carried firmware, status 0, and the Application log
    // has an information entry.
    const ProgramRun run = Run({"--update"}, "VID_F0A5&PID_00E6", 150, "", kEventLogTrace);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(FlashHolds(ImageForKind(1)));
    EXPECT_EQ(EventTexts(run.err, "trace"),
              "Sensor firmware update: 0139 P0002 -> 0139 P0006, result 0 (" TEXT_UPDATE_COMPLETE "), 1 "
              "attempt, S s|versionBefore=0139 P0002|versionAfter=0139 P0006|result=0|status="
              TEXT_UPDATE_COMPLETE "|attempts=1|seconds=S|sha256=" + ImageSum(1));
    EXPECT_EQ(EventTexts(run.err, "err"), "") << run.err;
    const std::vector<SimTranscriptEntry> transcript = Transcript();
    const SimTranscriptEntry* request = nullptr;
    for (const SimTranscriptEntry& e : transcript) {
        if (e.kind == kSimEventSetFeature && e.data[0] == 2) {
            request = &e;
            break;
        }
    }
    ASSERT_NE(request, nullptr) << "no switch request reached the sensor";
    EXPECT_EQ(request->data[1], 0x02);
    for (uint32_t i = 2; i < request->length && i < kSimTranscriptDataCapacity; ++i) {
        EXPECT_EQ(request->data[i], 0) << "padding byte " << i;
    }
    SimSensor* model = emulated_sensor_lock(sensor);
    EXPECT_EQ(model->mode, kSimModeNormal);
    EXPECT_EQ(model->normalVersion, 0x0139);
    EXPECT_EQ(model->report5Word, 6);
    emulated_sensor_unlock(sensor);
}

// The port through Wine's HID stack (plat_hid_port, printed by win32_hid_port_probe.exe):
// the sensor's is the same before its switch request and in the boot loader it restarts
// into; a second device (a board of another maker on a port of its own) has another.
TEST_F(WineE2eTest, SensorKeepsItsPortInItsBootLoaderAndAnotherDeviceHasItsOwn) {
    const std::string exe = WindowsExe(), probe = exe.substr(0, exe.rfind('/')) +
                                                  "/win32_hid_port_probe.exe";
    if (access(probe.c_str(), R_OK) != 0) GTEST_SKIP() << "no " << probe;
    const uint8_t vendorDescriptor[] = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00,
                                        0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x08, 0x09, 0x02,
                                        0xB1, 0x02, 0xC0};
    ASSERT_EQ(emulated_extra_device_add(0x0483, 0x5750, 0x0200, vendorDescriptor,
                                        sizeof vendorDescriptor), 1);
    Start(QuickSensorConfig(0, 0x0140));
    const ProgramRun run =
        run_program({WINE_UMOCKDEV_SCRIPT, WINE_STATE_DIR, probe, "--switch"}, {}, 60);
    emulated_extra_devices_clear();
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    std::map<std::string, std::string> before, after;
    std::istringstream lines(run.out);
    std::map<std::string, std::string>* ports = &before;
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();  // Windows' line ends
        if (line == "--") ports = &after;
        if (line.size() > 10) (*ports)[line.substr(0, 9)] = line.substr(10);
    }
    // Each line "vvvv:pppp <port>", "-" for a port the platform cannot tell.
    const auto told = [](const std::string& port) { return !port.empty() && port != "-"; };
    EXPECT_TRUE(told(before["f0a5:0090"])) << run.out;
    EXPECT_EQ(after["f0a5:0094"], before["f0a5:0090"]) << run.out;
    EXPECT_TRUE(told(before["0483:5750"])) << run.out;
    EXPECT_NE(before["0483:5750"], before["f0a5:0090"]) << run.out;
    EXPECT_EQ(after["0483:5750"], before["0483:5750"]) << run.out;
}

// A boot loader of a generation the update does not speak: sent back to normal mode after
// one attempt, --update ends with 5 (does not fit), and the Application log has an error
// entry. Both products are met, so no driver installation is waited for.
TEST_F(WineE2eTest, BootLoaderOfAnotherGenerationEndsWith5AndAnErrorEntry) {
    SimSensorConfig config = QuickSensorConfig(0, 0x0140);
    config.bootLoaderVersion = 0x0020;
    Start(config);
    const ProgramRun run =
        Run({"--update"}, "VID_F0A5&PID_0090 VID_F0A5&PID_0094", 90, "", kEventLogTrace);
    EXPECT_EQ(run.exitCode, 5) << run.err;
    const std::string mismatch = TEXT_MCU_MISMATCH;
    EXPECT_EQ(EventTexts(run.err, "err"),
              "Sensor firmware update: 0140 -> 0140, result 42 (" + mismatch + "), 1 attempt, S "
              "s|versionBefore=0140|versionAfter=0140|result=42|status=" + mismatch +
              "|attempts=1|seconds=S|sha256=" + ImageSum(0));
    EXPECT_EQ(EventTexts(run.err, "trace"), "") << run.err;
}

// A sensor already in its boot loader: the family comes from the products the machine has
// met, which the test writes as keys under Wine's Enum\USB (Wine keeps none for hidraw devices).
TEST_F(WineE2eTest, UpdatesSensorFoundInItsBootLoaderWithFamilyFromTheProductsMet) {
    SimSensorConfig config = QuickSensorConfig(0, 0x0140);
    config.startInBootLoader = 1;
    Start(config);
    const ProgramRun run = Run({"/F0", "image.bin"}, "VID_F0A5&PID_0090 VID_F0A5&PID_0094", 120);
    EXPECT_EQ(run.exitCode, 2) << run.err;
    EXPECT_TRUE(FlashHolds(ImageForKind(0)));
    std::vector<Report> expected;
    BootLoaderPass(&expected, ImageForKind(0));  // no switch request: already there
    ExpectStream(Transcript(), expected);
}

// Same sensor with no record of its family: kind undetermined, so the worker's no-sensor
// path (exit code 0) and not a single command.
TEST_F(WineE2eTest, SensorInItsBootLoaderWithNoFamilyMetIsLeftAlone) {
    SimSensorConfig config = QuickSensorConfig(0, 0x0140);
    config.startInBootLoader = 1;
    Start(config);
    const ProgramRun run = Run({"/F0", "image.bin"}, "", 60);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    ExpectStream(Transcript(), {});
    // --update ends as on Linux: 9, family unknown, with the way out on standard error, in
    // words that say why this computer cannot tell: no record of either family, or of both.
    const struct {
        const char* productsMet;
        const char* says;
    } cases[] = {
        {"", "zorflash: Sensor in its boot loader, family unknown: this computer has no record "
             "of it running."},
        {"VID_F0A5&PID_0090 VID_F0A5&PID_00E6 VID_F0A5&PID_0094",
         "zorflash: Sensor in its boot loader, family unknown: this computer has met both "
         "families of the sensor, so its record cannot tell which one this is."},
    };
    for (const auto& c : cases) {
        const ProgramRun update = Run({"--update"}, c.productsMet, 60);
        EXPECT_EQ(update.exitCode, 9) << update.err;
        EXPECT_NE(update.err.find(c.says), std::string::npos) << update.err;
        ExpectStream(Transcript(), {});
    }
}

// --version answers in its box and ends with 0; the sensor (family 1: identification would
// read reports 5 and 6) receives nothing, not even a switch request.
TEST_F(WineE2eTest, VersionAnswersInItsBoxAndLeavesTheSensorAlone) {
    SimSensorConfig config = QuickSensorConfig(1, 0x0139);
    config.report5Word = 2;
    config.report6Word = 1;
    Start(config);
    const ProgramRun run =
        Run({"--version"}, "", 90, TEXT_CAPTION);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    ExpectStream(Transcript(), {});
    SimSensor* model = emulated_sensor_lock(sensor);
    EXPECT_EQ(model->counters.featureGets + model->counters.featureSets, 0u);
    emulated_sensor_unlock(sensor);
}

// The detection rule for fleet tools: zorflash-detect.cmd, run by Wine's cmd, asks
// "zorflash.exe --info --report FILE" and words the report as one state. Each row is a sensor
// as a fleet meets it, the report fields the rule reads, and the script's line and status
// (0 installed, 1 needs update, 2 not applicable, 3 error).
struct DetectionCase {
    const char* name;
    bool sensorPresent;
    uint16_t family;
    uint16_t version;
    uint16_t report5Word;  // family 1's version word; 0 for family 0
    bool inBootLoader;
    const char* productsMet;
    bool programMissing;  // the script points at a zorflash.exe that is not there
    int reportExit;       // -1: no report
    const char* verdict;
    const char* mode;     // "" for no sensor
    int scriptStatus;
    const char* line;
};

const DetectionCase kDetectionCases[] = {
    {"UpToDateFamily0", true, 0, 0x0610, 0, false, "", false, 0, "up to date", "normal", 0,
     "installed: family 0 sensor runs 0610, the version zorflash.exe writes"},
    {"UpToDateFamily1", true, 1, 0x0139, 6, false, "", false, 0, "up to date", "normal", 0,
     "installed: family 1 sensor runs 0139 P0006, the version zorflash.exe writes"},
    {"NeedsUpdateFamily0", true, 0, 0x0140, 0, false, "", false, 0, "update available",
     "normal", 1, "needs update: family 0 sensor, normal, runs 0140, zorflash.exe writes 0610"},
    {"NeedsUpdateFamily1", true, 1, 0x0139, 2, false, "", false, 0, "update available",
     "normal", 1,
     "needs update: family 1 sensor, normal, runs 0139 P0002, zorflash.exe writes 0139 P0006"},
    {"DoesNotFit", true, 0, 0x0200, 0, false, "", false, 0,
     "this update does not fit this sensor", "normal", 2,
     "not applicable: this update does not fit this sensor, family 0 version 0200"},
    {"NoSensor", false, 0, 0, 0, false, "", false, 3, "no sensor found", "", 2,
     "not applicable: no sensor found"},
    {"BootLoaderWithItsRecord", true, 0, 0x0140, 0, true, "VID_F0A5&PID_0090 VID_F0A5&PID_0094",
     false, 0, "update available", "boot loader", 1,
     "needs update: family 0 sensor in its boot loader, zorflash.exe writes 0610"},
    {"BootLoaderWithoutRecord", true, 0, 0x0140, 0, true, "", false, 0,
     "sensor in its boot loader, family unknown", "boot loader", 3,
     "error: sensor in its boot loader, family unknown on this computer"},
    {"BootLoaderMetAsBothFamilies", true, 0, 0x0140, 0, true,
     "VID_F0A5&PID_0090 VID_F0A5&PID_00E6 VID_F0A5&PID_0094", false, 0,
     "sensor in its boot loader, family unknown", "boot loader", 3,
     "error: sensor in its boot loader, family unknown on this computer"},
    {"ProgramMissing", true, 0, 0x0610, 0, false, "", true, -1, "", "", 3,
     "error: zorflash.exe wrote no report, exit status 9009"},
};

void PrintTo(const DetectionCase& c, std::ostream* out) { *out << c.name; }

class WineDetectionTest : public WineE2eTest,
                          public ::testing::WithParamInterface<DetectionCase> {};

TEST_P(WineDetectionTest, ScriptWordsTheReportAsOneState) {
    const DetectionCase& c = GetParam();
    if (c.sensorPresent) {
        SimSensorConfig config = QuickSensorConfig(c.family, c.version);
        if (c.family == 1) {
            config.report5Word = c.report5Word;
            config.report6Word = 1;
        }
        config.startInBootLoader = c.inBootLoader ? 1 : 0;
        Start(config);
    }
    // An earlier run's success must not answer for this run.
    const std::string reportFile = test_temp_folder() + "/detect-" + c.name + ".json";
    std::ofstream(reportFile) << "{\n  \"exitStatus\": 0,\n  \"verdict\": \"up to date\",\n"
                                 "  \"state\": \"ended\"\n}\n";
    const std::string exe = c.programMissing ? test_temp_folder() + "/absent/zorflash.exe"
                                             : WindowsExe();
    const ProgramRun run = RunUnderWine({"cmd", "/c", WindowsPath(ZORFLASH_DETECT_SCRIPT),
                                         WindowsPath(reportFile), WindowsPath(exe)},
                                        c.productsMet, 90);
    std::string line = run.out;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    EXPECT_EQ(line, c.line) << run.err;
    EXPECT_EQ(run.exitCode, c.scriptStatus) << run.out << run.err;
    const nlohmann::json report = ReportAt(reportFile);
    unlink(reportFile.c_str());
    if (c.reportExit < 0) {
        EXPECT_TRUE(report.is_discarded()) << report;
    } else {
        EXPECT_EQ(report["exitStatus"], c.reportExit) << report;
        EXPECT_EQ(report["state"], "ended") << report;
        EXPECT_EQ(report["verdict"], c.verdict) << report;
        if (c.mode[0] == '\0') {
            EXPECT_TRUE(report["sensor"].is_null()) << report;
        } else {
            EXPECT_EQ(report["sensor"]["mode"], c.mode) << report;
        }
    }
    // The rule only reads: nothing is ever sent to the sensor.
    if (!c.sensorPresent) return;
    for (const SimTranscriptEntry& e : Transcript()) {
        EXPECT_EQ(e.kind, kSimEventGetFeature) << "report " << unsigned(e.data[0]);
    }
}

INSTANTIATE_TEST_SUITE_P(States, WineDetectionTest, ::testing::ValuesIn(kDetectionCases),
                         [](const ::testing::TestParamInfo<DetectionCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
