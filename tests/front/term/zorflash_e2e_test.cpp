// The Linux edition, unmodified, as a process under the umockdev preload, against the
// emulated sensor. An update takes about ten seconds of the program's own waits (2 s after
// the switch, 1 s set-up, 5 x 1 s erase, 1 s before the version is read again; no wait for a
// driver installation, which Linux does not have); the program and the sensor run on a
// clock kTimeScale times faster than the real one, so these cost a tenth of that. Each test
// process keeps the record of the sensors met in folders of its own (isolate_program_state
// in umockdev_main).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <iterator>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "emulated_e2e.h"
#include "expected_texts.h"
#include "run_program.h"
#include "time_scale.h"
#include "update_stream.h"
#include "firmware/sha256.h"
#include "update/firmware_catalogue.h"

namespace {

constexpr double kUpdateTimeoutSeconds = 150;

// How much faster than the real clock the program's (under the time-scale preload) and the
// emulated sensor's run. The runs' time limits stay real seconds.
constexpr uint32_t kTimeScale = 10;

EmulatedSensorOptions ScaledSensorOptions() {
    EmulatedSensorOptions options;
    options.timeScale = kTimeScale;
    return options;
}

bool HasLine(const std::string& text, const std::string& line) {
    for (const std::string& l : split_lines(text)) {
        if (l == line) return true;
    }
    return false;
}

// Writes image files into a folder of this test process: the placeholder images the tests
// expect, changed by `flip` so that a run can tell whose bytes were written, or cut short.
std::string ImageFolder(const std::string& name, uint8_t flip, uint32_t cutTo = 0) {
    const std::string dir = test_temp_folder() + "/" + name;
    EXPECT_EQ(std::system(("rm -rf " + dir + " && mkdir -p " + dir).c_str()), 0);
    for (uint16_t kind = 0; kind <= 1; ++kind) {
        const FirmwareImage& image = ImageForKind(kind);
        std::string bytes(reinterpret_cast<const char*>(ImageBytes(image)), ImageByteCount(image));
        for (char& b : bytes) b = static_cast<char>(b ^ flip);
        if (cutTo != 0) bytes.resize(cutTo);
        std::ofstream(dir + "/" + ImageShapeForKind(kind).fileName, std::ios::binary) << bytes;
    }
    return dir;
}

// The SHA-256 of the image file ImageFolder writes for `kind` (with no flip).
std::string ImageSum(uint16_t kind) {
    char hex[kSha256HexCapacity];
    Sha256Hex(ImageBytes(ImageForKind(kind)), ImageByteCount(ImageForKind(kind)), hex);
    return hex;
}

class ZorflashE2eTest : public EmulatedSensorTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(emulated_testbed_ready()) << "umockdev testbed not available";
        // The shipped lock, in this test process's own /run/zorflash (isolate_program_state);
        // the rows that plant something at the path need it free.
        lockPath = "/run/zorflash/zorflash.lock";
        unlink(lockPath.c_str());
        sensorOptions = ScaledSensorOptions();
        // The tests' images come as files, as a distribution ships them (a build given the
        // images carries the same bytes).
        firmwareDir = ImageFolder("images", 0);
    }
    ProgramRun Run(const std::vector<std::string>& args, double timeoutSeconds) {
        return RunBare(std::vector<std::string>{"--firmware-dir", firmwareDir}, args, timeoutSeconds);
    }
    // `program`: zorflash as this build makes it, or as a build given no image makes it.
    ProgramRun RunBare(std::vector<std::string> argv, const std::vector<std::string>& args,
                       double timeoutSeconds, const char* program = ZORFLASH_BINARY) {
        argv.insert(argv.begin(), program);
        argv.insert(argv.end(), args.begin(), args.end());
        ProgramRun run = RunScaled(program, argv, {}, timeoutSeconds);
        EXPECT_FALSE(run.timedOut) << "zorflash did not end within " << timeoutSeconds << " s";
        return run;
    }
    // Runs `argv` with `program`'s clock kTimeScale times faster (argv[0] may be a launcher
    // that starts it).
    ProgramRun RunScaled(const std::string& program, const std::vector<std::string>& argv,
                         const std::vector<std::string>& env, double timeoutSeconds,
                         const std::function<bool()>& killNow = nullptr,
                         const std::function<const char*(const ProgramRun&)>& typeNow = nullptr) {
        bool loaded = false;
        ProgramRun run = run_time_scaled({ZORFLASH_TIME_SCALE_PRELOAD, kTimeScale}, program, argv, env,
                                         timeoutSeconds, &loaded, killNow, typeNow);
        EXPECT_TRUE(loaded) << "the time-scale preload " << ZORFLASH_TIME_SCALE_PRELOAD
                            << " is not in effect in " << program << ": its waits took real time\n"
                            << run.err;
        return run;
    }
    std::string lockPath;
    std::string firmwareDir;
};

TEST_F(ZorflashE2eTest, UpdatesFamilyZeroSensor) {
    Start(QuickSensorConfig(0, 0x0140));
    const ProgramRun run = Run({"/F0", "image.bin"}, kUpdateTimeoutSeconds);
    EXPECT_EQ(run.exitCode, 2) << run.out << run.err;
    EXPECT_TRUE(FlashHolds(ImageForKind(0)));
    std::vector<Report> expected;
    expected.push_back({kSimEventSetFeature, 2, {0x02, 0x02}});
    BootLoaderPass(&expected, ImageForKind(0));
    ExpectStream(Transcript(), expected);
    EXPECT_TRUE(HasLine(run.out, "Status : " TEXT_UPDATE_COMPLETE)) << run.out;
    EXPECT_TRUE(HasLine(run.out, "Current Version : 0610")) << run.out;  // read back
    EXPECT_EQ(run.err, "") << "no diagnostic line on a clean update";
    // The boot loader shows up 0.3 s after the request, is found 2 s after it, and the erase
    // follows the 1 s set-up: no 20 s wait for a driver that Linux never installs.
    EXPECT_LT(BootLoaderToErase(Transcript()), 4000u);
}

// An update killed while it programs leaves the sensor in its boot loader; the same command
// run again on the same machine finishes it, as the first run recorded the family.
TEST_F(ZorflashE2eTest, UpdateKilledWhileProgrammingIsFinishedByTheNextRun) {
    Start(QuickSensorConfig(0, 0x0140));
    const auto programmed = [this](uint32_t atLeast) {
        const bool reached = emulated_sensor_lock(sensor)->counters.programs >= atLeast;
        emulated_sensor_unlock(sensor);
        return reached;
    };
    const ProgramRun killed =
        RunScaled(ZORFLASH_BINARY, {ZORFLASH_BINARY, "--firmware-dir", firmwareDir, "/F0", "x"}, {},
                  kUpdateTimeoutSeconds, [&] { return programmed(40); });
    ASSERT_TRUE(killed.killed) << killed.out << killed.err;
    EXPECT_FALSE(programmed(ImageByteCount(ImageForKind(0)) / 128)) << "killed too late";
    EXPECT_EQ(emulated_sensor_lock(sensor)->mode, kSimModeBootLoader);
    emulated_sensor_unlock(sensor);

    const ProgramRun run = Run({"/F0", "x"}, kUpdateTimeoutSeconds);
    EXPECT_EQ(run.exitCode, 2) << run.out << run.err;
    EXPECT_TRUE(FlashHolds(ImageForKind(0)));
    EXPECT_TRUE(HasLine(run.out, "Current Version : 0610")) << run.out;  // back in normal mode
    EXPECT_EQ(emulated_sensor_lock(sensor)->counters.switchRequests, 1u);
    emulated_sensor_unlock(sensor);
}

const char kFamilyUnknown[] =
    "The sensor sits in its boot loader and its family is unknown: finish the update with "
    "zorflash --update --family N (N is 0 if the sensor was product 0x0090 in normal mode, 1 "
    "if it was 0x00E6).";

// What the record of the sensors met may hold or suffer, one case each. A sensor in its boot
// loader whose family the record cannot tell is left alone; record folders that cannot be
// written cost one diagnostic line, and the sensor in normal mode is not switched.
struct RecordCase {
    const char* name;
    const char* machineRecord;  // for /var/lib/zorflash/products-met; null: none
    const char* userRecord;     // for ~/.local/state/zorflash/products-met
    bool readOnly;              // both folders on read-only mounts, the sensor in normal mode
};

void PrintTo(const RecordCase& c, std::ostream* out) { *out << c.name; }

class ZorflashRecordTest : public ZorflashE2eTest,
                           public ::testing::WithParamInterface<RecordCase> {};

TEST_P(ZorflashRecordTest, FamilyOnlyFromTheTwoProductLines) {
    const RecordCase& c = GetParam();
    const std::string state = std::string(std::getenv("HOME")) + "/.local/state";
    ASSERT_EQ(std::system(("mkdir -p " + state + "/zorflash").c_str()), 0);
    if (c.machineRecord) std::ofstream("/var/lib/zorflash/products-met") << c.machineRecord;
    if (c.userRecord) std::ofstream(state + "/zorflash/products-met") << c.userRecord;
    for (const std::string& folder : {std::string("/var/lib/zorflash"), state}) {
        if (!c.readOnly) continue;
        ASSERT_EQ(mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr), 0);
        ASSERT_EQ(mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr), 0);
    }
    SimSensorConfig config = QuickSensorConfig(0, 0x0140);
    config.startInBootLoader = !c.readOnly;
    Start(config);
    const ProgramRun run = Run({"/F0", "x"}, kUpdateTimeoutSeconds);
    if (c.readOnly) {
        umount("/var/lib/zorflash");
        umount(state.c_str());
    }
    EXPECT_EQ(run.exitCode, c.readOnly ? 2 : 0);
    // A record that cannot be written would leave an interrupted update's boot loader
    // without a family: the sensor is not switched, and nothing is sent.
    EXPECT_NE(run.out.find(c.readOnly ? "Status : This machine's record of the sensors met would not tell"
                                      : (std::string("Status : ") + kFamilyUnknown).c_str()),
              std::string::npos)
        << run.out;
    // A run as root writes the machine's record only, never one in HOME.
    EXPECT_EQ(run.err, !c.readOnly ? "" : "---------- < Module Name : ProductsMet > ---------\n"
              "The record of the sensors met in /var/lib/zorflash cannot be written: "
              "Read-only file system\n---------- < Module Name : FlashWriteVerify > ---------\n"
              "The record of the sensors met would not tell the family after the switch; left alone.\n");
    EXPECT_FALSE(std::ifstream(state + "/zorflash/products-met").good() && !c.userRecord);
    EXPECT_FALSE(FlashHolds(ImageForKind(0)));
    EXPECT_EQ(emulated_sensor_lock(sensor)->counters.featureSets, 0u);
    emulated_sensor_unlock(sensor);
}

INSTANTIATE_TEST_SUITE_P(
    Records, ZorflashRecordTest,
    ::testing::Values(RecordCase{"damaged", "\x90\xff\n0090x\n 00e6\n0094\n009", nullptr, false},
                      RecordCase{"both_products", "0090\n00E6\r\n", nullptr, false},
                      // A run as root reads the machine's record only: HOME may be a user's.
                      RecordCase{"user_record_unread_by_root", nullptr, "0090\n", false},
                      RecordCase{"read_only_folders", nullptr, nullptr, true}),
    [](const ::testing::TestParamInfo<RecordCase>& info) { return std::string(info.param.name); });

TEST_F(ZorflashE2eTest, UpdatesFamilyOneSensor) {
    SimSensorConfig config = QuickSensorConfig(1, 0x0139);
    config.report5Word = 2;
    config.report6Word = 1;
    Start(config);
    const ProgramRun run = Run({"/F0", "image.bin"}, kUpdateTimeoutSeconds);
    EXPECT_EQ(run.exitCode, 2) << run.out << run.err;
    EXPECT_TRUE(FlashHolds(ImageForKind(1)));
    std::vector<Report> expected;
    WordReads(&expected);  // identification
    expected.push_back({kSimEventSetFeature, 2, {0x02, 0x02}});
    BootLoaderPass(&expected, ImageForKind(1));
    WordReads(&expected);  // the version read again after the update
    ExpectStream(Transcript(), expected);
    EXPECT_TRUE(HasLine(run.out, "Status : " TEXT_UPDATE_COMPLETE)) << run.out;
    EXPECT_TRUE(HasLine(run.out, "Current Version : 0139 P0006")) << run.out;
}

TEST_F(ZorflashE2eTest, BlockRefusedInFirstAttemptIsWrittenByTheSecond) {
    SimSensorConfig config = QuickSensorConfig(0, 0x0140);
    config.faults.rules[0].kind = kSimFaultRefuse;
    config.faults.rules[0].opcode = 0x01;
    config.faults.rules[0].matchAddress = 1;
    config.faults.rules[0].address = 0x8000;
    config.faults.rules[0].times = 1;
    Start(config);
    const ProgramRun run = Run({"/F0", "image.bin"}, kUpdateTimeoutSeconds);
    EXPECT_EQ(run.exitCode, 2) << run.out << run.err;
    EXPECT_TRUE(FlashHolds(ImageForKind(0)));
    std::vector<Report> expected;
    expected.push_back({kSimEventSetFeature, 2, {0x02, 0x02}});
    BootLoaderPass(&expected, ImageForKind(0), 0x8000);
    // Second attempt: the sensor is still in its boot loader, so no switch request.
    BootLoaderPass(&expected, ImageForKind(0));
    ExpectStream(Transcript(), expected);
    EXPECT_TRUE(HasLine(run.out, "Status : " TEXT_UPDATE_COMPLETE)) << run.out;
    // The refusal is logged on standard error (not a terminal here) as two framed lines.
    EXPECT_EQ(run.err,
              "---------- < Module Name : flash_write > ---------\n050:Not ACK\n"
              "---------- < Module Name : FlashWriteVerify > ---------\nFiled to write firmware!!\n");
}

// A boot loader of the old generation (version 15): refused by the version gate, and sent
// back to normal mode with the exit command as an output report, through hidraw's write().
TEST_F(ZorflashE2eTest, OldBootLoaderIsSentBackWithTheOutputReport) {
    SimSensorConfig config = QuickSensorConfig(0, 0x0140);
    config.bootLoaderVersion = 15;
    Start(config);
    const ProgramRun run = Run({"/F0", "image.bin"}, kUpdateTimeoutSeconds);
    EXPECT_EQ(run.exitCode, 2) << run.out << run.err;
    std::vector<uint8_t> exitReport(kSimDefaultBootOutputLength, 0);
    exitReport[1] = 0x03;
    ExpectStream(Transcript(), {{kSimEventSetFeature, 2, {0x02, 0x02}},
                                {kSimEventWriteOutput, kSimDefaultBootOutputLength, exitReport}});
    EXPECT_TRUE(HasLine(run.out,
                        "Status : " TEXT_MCU_MISMATCH))
        << run.out;
    EXPECT_EQ(run.err, "") << "a delivered exit command logs nothing";
    SimSensor* model = emulated_sensor_lock(sensor);
    EXPECT_EQ(model->counters.exits, 1u);
    EXPECT_EQ(model->counters.erases, 0u);
    emulated_sensor_unlock(sensor);
}

struct NoCommandCase {
    const char* name;
    uint16_t family;
    uint16_t version;
    uint16_t report5Word;
    uint16_t report6Word;
    const char* status;
};

// Test names in ctest carry the parameter as gtest prints it: the case's name.
void PrintTo(const NoCommandCase& c, std::ostream* out) { *out << c.name; }

class ZorflashNoCommandTest : public ZorflashE2eTest,
                              public ::testing::WithParamInterface<NoCommandCase> {};

TEST_P(ZorflashNoCommandTest, SensorReceivesNoCommandAtAll) {
    const NoCommandCase& c = GetParam();
    SimSensorConfig config = QuickSensorConfig(c.family, c.version);
    config.report5Word = c.report5Word;
    config.report6Word = c.report6Word;
    Start(config);
    const ProgramRun run = Run({"/F0", "image.bin"}, 30);
    EXPECT_EQ(run.exitCode, 2) << run.out << run.err;
    std::vector<Report> expected;
    if (c.family == 1) WordReads(&expected);  // identification reads, nothing is sent
    ExpectStream(Transcript(), expected);
    EXPECT_TRUE(HasLine(run.out, std::string("Status : ") + c.status)) << run.out;
    SimSensor* model = emulated_sensor_lock(sensor);
    EXPECT_EQ(model->counters.featureSets, 0u);
    EXPECT_EQ(model->counters.outputWrites, 0u);
    EXPECT_EQ(model->mode, kSimModeNormal);
    emulated_sensor_unlock(sensor);
}

const char kUpToDate[] = TEXT_UP_TO_DATE;
const char kMismatch[] = TEXT_VERSION_MISMATCH;

INSTANTIATE_TEST_SUITE_P(
    Cases, ZorflashNoCommandTest,
    ::testing::Values(NoCommandCase{"family0_up_to_date", 0, 0x0610, 0, 0, kUpToDate},
                      NoCommandCase{"family0_mismatch", 0, 0x0200, 0, 0, kMismatch},
                      NoCommandCase{"family1_up_to_date", 1, 0x0139, 6, 1, kUpToDate},
                      NoCommandCase{"family1_mismatch", 1, 0x0139, 6, 2, kMismatch}),
    [](const ::testing::TestParamInfo<NoCommandCase>& info) { return std::string(info.param.name); });

TEST_F(ZorflashE2eTest, NoSensorEndsWithExitCodeZero) {
    const ProgramRun run = Run({"/F0", "image.bin"}, 30);
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_TRUE(HasLine(run.out,
                        "Status : " TEXT_NO_CONNECTION))
        << run.out;
}

// Where the written bytes come from. A binary built without images writes none of its own:
// with no file either, or with a file of the wrong size, not a single report reaches the
// sensor; with a folder of image files, exactly the files' bytes are written and verified.
struct FirmwareSourceCase {
    const char* name;
    uint8_t flip;     // the folder's images differ from the placeholders by this XOR
    uint32_t cutTo;   // a folder of short files
    bool useFolder;
    const char* status;  // "" : the update completes
};

void PrintTo(const FirmwareSourceCase& c, std::ostream* out) { *out << c.name; }

class ZorflashFirmwareSourceTest : public ZorflashE2eTest,
                                   public ::testing::WithParamInterface<FirmwareSourceCase> {};

TEST_P(ZorflashFirmwareSourceTest, WritesOnlyTheImageItWasGiven) {
    const FirmwareSourceCase& c = GetParam();
    Start(QuickSensorConfig(0, 0x0140));
    const std::string dir = ImageFolder(c.name, c.flip, c.cutTo);
    std::vector<std::string> options;
    if (c.useFolder) options = {"--firmware-dir", dir};
    // Without a folder the image can come only from the program: one that carries none.
    const ProgramRun run = RunBare(options, {"/F0", "x"}, kUpdateTimeoutSeconds,
                                   c.useFolder ? ZORFLASH_BINARY : ZORFLASH_NO_IMAGES_BINARY);
    EXPECT_EQ(run.exitCode, 2) << run.out << run.err;
    std::string status = c.status;
    const size_t folder = status.find("DIR");
    if (folder != std::string::npos) status.replace(folder, 3, dir);
    if (status.empty()) {
        std::ifstream file(dir + "/image-a.bin", std::ios::binary);
        std::vector<uint8_t> bytes(4, 0);
        bytes.insert(bytes.end(), std::istreambuf_iterator<char>(file), {});
        bytes[0] = 0xFF, bytes[1] = 0xCD;  // end address 0xCDFF
        const FirmwareImage written{bytes.data(), static_cast<uint32_t>(bytes.size())};
        EXPECT_TRUE(FlashHolds(written));
        EXPECT_FALSE(FlashHolds(ImageForKind(0)));
        std::vector<Report> expected = {{kSimEventSetFeature, 2, {0x02, 0x02}}};
        BootLoaderPass(&expected, written);
        ExpectStream(Transcript(), expected);
        EXPECT_TRUE(HasLine(run.out, "Status : " TEXT_UPDATE_COMPLETE)) << run.out;
    } else {
        ExpectStream(Transcript(), {});
        EXPECT_TRUE(HasLine(run.out, "Status : " + status)) << run.out;
        SimSensor* model = emulated_sensor_lock(sensor);
        EXPECT_EQ(model->counters.featureSets + model->counters.outputWrites, 0u);
        emulated_sensor_unlock(sensor);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sources, ZorflashFirmwareSourceTest,
    ::testing::Values(
        FirmwareSourceCase{"none_carried_none_installed", 0, 0, false,
                           "No firmware file /usr/lib/firmware/zorflash/image-a.bin: put the "
                           "vendor's image A there (exactly 36352 bytes) or name its folder with "
                           "--firmware-dir."},
        FirmwareSourceCase{"wrong_size", 0, 36351, true,
                           "Firmware file DIR/image-a.bin holds 36351 bytes; image A must hold "
                           "exactly 36352 bytes."},
        FirmwareSourceCase{"firmware_dir", 0x5A, 0, true, ""}),
    [](const ::testing::TestParamInfo<FirmwareSourceCase>& info) { return std::string(info.param.name); });

// --help, --version and an unknown long option are answered without touching the sensor:
// a family-1 sensor would be read (feature reports 5 and 6) by any identification.
TEST_F(ZorflashE2eTest, LongOptionsLeaveTheSensorAlone) {
    struct Case {
        std::vector<std::string> options;
        int exitCode;
        const char* firstOut;  // with --json: the key the one JSON object must hold
        const char* err;
    };
    const Case cases[] = {
        {{"--help"}, 0, "Usage: zorflash [OPTION]... [/F0 | /F1 | /F2 | /F3 FILE | /V]", ""},
        {{"--version"}, 0, "zorflash " ZORFLASH_VERSION, ""},
        {{"--verbose"}, 4, "", "zorflash: unknown option --verbose; see zorflash --help\n"},
        // With --json, standard output holds one JSON object whatever else the line asks.
        {{"--json", "--help"}, 0, "help", ""},
        {{"--update", "--json", "--version"}, 0, "images", ""},
        {{"--json=1", "--update"}, 4, "error",
         "zorflash: no value is taken by --json=1; see zorflash --help\n"},
        // Bytes that are not UTF-8 are replaced in the object, which stays valid JSON.
        {{"--json", "--v\xff\xc3("}, 4, "error",
         "zorflash: unknown option --v\xff\xc3(; see zorflash --help\n"},
        // Cut at 2047 characters, this line would read as "aa...a /V": an unattended update.
        {{std::string(2044, 'a'), "/V", "/F3", "x"}, 4, "",
         "zorflash: the command line is longer than this program reads; see zorflash --help\n"},
    };
    SimSensorConfig config = QuickSensorConfig(1, 0x0139);
    config.report5Word = 2;
    config.report6Word = 1;
    Start(config);
    for (const Case& c : cases) {
        const ProgramRun run = RunBare(c.options, {}, 30);
        const std::string line = c.options.back();
        EXPECT_EQ(run.exitCode, c.exitCode) << line;
        EXPECT_EQ(run.err, c.err) << line;
        const bool json = std::any_of(c.options.begin(), c.options.end(),
                                      [](const std::string& o) { return o.rfind("--json", 0) == 0; });
        if (!json) {
            EXPECT_EQ(run.out.substr(0, run.out.find('\n')), c.firstOut) << line;
            continue;
        }
        const nlohmann::json report = nlohmann::json::parse(run.out, nullptr, false);
        ASSERT_TRUE(report.is_object()) << run.out;
        EXPECT_EQ(report["exitStatus"], c.exitCode) << run.out;
        EXPECT_TRUE(report.contains(c.firstOut)) << run.out;
    }
    ExpectStream(Transcript(), {});
    SimSensor* model = emulated_sensor_lock(sensor);
    EXPECT_EQ(model->counters.featureGets + model->counters.featureSets, 0u);
    emulated_sensor_unlock(sensor);
    // The version names each image's file and its SHA-256 as sha256sum computes it.
    const ProgramRun version = RunBare({"--firmware-dir", firmwareDir, "--version"}, {}, 30);
    const std::string sum = run_program({"/usr/bin/sha256sum", firmwareDir + "/image-b.bin"}, {}, 10).out;
    EXPECT_NE(version.out.find("image B, firmware 0139 P0006 (family 1): " + firmwareDir +
                               "/image-b.bin\n  sha256 " + sum.substr(0, 64) + "\n"),
              std::string::npos)
        << version.out << sum;
    const nlohmann::json json = nlohmann::json::parse(
        RunBare({"--firmware-dir", firmwareDir, "--version", "--json"}, {}, 30).out, nullptr, false);
    ASSERT_TRUE(json.contains("images")) << json;
    EXPECT_EQ(json["images"][1]["path"], firmwareDir + "/image-b.bin");
    EXPECT_EQ(json["images"][1]["sha256"], sum.substr(0, 64));
}

// ---- --update and --info: exit statuses, JSON, history --------------------------------

// Listens where the journal takes entries, in this test process's own /run/systemd/journal
// (isolate_program_state): each entry arrives as one datagram of FIELD=value lines.
struct JournalListener {
    int fd = -1;
    bool Start() {
        if (geteuid() != 0) return false;  // the folder is the machine's own then
        fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strcpy(address.sun_path, "/run/systemd/journal/socket");
        unlink(address.sun_path);
        return bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    std::vector<std::string> Entries() {
        std::vector<std::string> entries;
        char datagram[65536];
        ssize_t n;
        while (fd >= 0 && (n = recv(fd, datagram, sizeof datagram, 0)) > 0) {
            entries.emplace_back(datagram, static_cast<size_t>(n));
        }
        return entries;
    }
    ~JournalListener() {
        if (fd >= 0) close(fd);
        unlink("/run/systemd/journal/socket");
    }
};

// Each row of the --update exit-status table, made by a sensor that produces it.
struct ExitStatusCase {
    const char* name;
    uint16_t version;      // 0: no sensor at all
    bool startInBootLoader;
    bool switchRefused;    // every attempt fails at once
    bool neverReturns;     // the sensor does not come back after the update
    bool firmwareFolder;   // the image files are given (else: none in the system's folder,
                           // none carried)
    bool lockHeld;         // another zorflash holds the lock
    std::vector<std::string> args;
    int exitStatus;
    bool sends;            // reports reach the sensor (and one history entry is left)
    const char* status;    // the last status line; null: none
};

void PrintTo(const ExitStatusCase& c, std::ostream* out) { *out << c.name; }

class ZorflashExitStatusTest : public ZorflashE2eTest,
                               public ::testing::WithParamInterface<ExitStatusCase> {};

TEST_P(ZorflashExitStatusTest, UpdateEndsWithTheTablesStatus) {
    const ExitStatusCase& c = GetParam();
    if (c.version != 0) {
        SimSensorConfig config = QuickSensorConfig(0, c.version);
        config.startInBootLoader = c.startInBootLoader;
        config.faults.switchRefused = c.switchRefused;
        config.faults.neverReturns = c.neverReturns;
        Start(config);
    }
    const int held = open(lockPath.c_str(), O_RDWR | O_CREAT, 0600);
    if (c.lockHeld) {
        ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);
    }
    JournalListener journal;
    const bool journalAvailable = journal.Start();

    // Every row also writes --report, over whatever an earlier run left there; the slash
    // options take no --json, and their dialog's lines go to standard output.
    const bool slash = c.args[0][0] == '/';
    const std::string reportFile = firmwareDir + "/report.json";
    std::ofstream(reportFile) << "an earlier run's";
    std::vector<std::string> options = {"--report", reportFile};
    if (!slash) options.push_back("--json");
    if (c.firmwareFolder) options.insert(options.end(), {"--firmware-dir", firmwareDir});
    // Without the files, only a program that carries no image finds none.
    const ProgramRun run = RunBare(options, c.args, kUpdateTimeoutSeconds,
                                   c.firmwareFolder ? ZORFLASH_BINARY : ZORFLASH_NO_IMAGES_BINARY);
    close(held);
    EXPECT_EQ(run.exitCode, c.exitStatus) << run.out << run.err;
    std::stringstream written;
    written << std::ifstream(reportFile, std::ios::binary).rdbuf();
    // Standard output holds one JSON object and nothing else, the very bytes of the file;
    // the dialog's lines went to standard error.
    if (!slash) {
        EXPECT_EQ(written.str(), run.out);
    }
    const nlohmann::json report = nlohmann::json::parse(written.str(), nullptr, false);
    ASSERT_FALSE(report.is_discarded()) << written.str();
    EXPECT_EQ(report["exitStatus"], c.exitStatus) << written.str();
    if (c.status != nullptr) {
        EXPECT_TRUE(HasLine(slash ? run.out : run.err, std::string("Status : ") + c.status))
            << run.out << run.err;
        if (report.contains("update")) {
            EXPECT_EQ(report["update"]["status"], c.status);
        }
    }
    // What was written is named by its SHA-256: image A's file from the firmware folder.
    if (report.contains("update")) {
        EXPECT_EQ(report["update"]["sha256"], c.sends ? nlohmann::json(ImageSum(0)) : nlohmann::json());
    }
    if (sensor != nullptr) {
        SimSensor* model = emulated_sensor_lock(sensor);
        EXPECT_EQ(model->counters.featureSets + model->counters.outputWrites > 0, c.sends);
        emulated_sensor_unlock(sensor);
    }
    if (journalAvailable) {
        const std::vector<std::string> entries = journal.Entries();
        ASSERT_EQ(entries.size(), c.sends ? 1u : 0u);
        if (c.sends) {
            EXPECT_NE(entries[0].find("SYSLOG_IDENTIFIER=zorflash\n"), std::string::npos);
            EXPECT_NE(entries[0].find("MESSAGE=Sensor firmware update: "), std::string::npos);
            EXPECT_NE(entries[0].find("ZORFLASH_VERSION_BEFORE="), std::string::npos);
            EXPECT_NE(entries[0].find("ZORFLASH_ATTEMPTS=" + std::to_string(report["update"]["attempts"].get<int>()) + "\n"),
                      std::string::npos) << entries[0];
            EXPECT_NE(entries[0].find("ZORFLASH_SHA256=" + ImageSum(0) + "\n"), std::string::npos);
        }
    }
}

const char kComplete[] = TEXT_UPDATE_COMPLETE;
const std::vector<std::string> kUpdate = {"--update"};

INSTANTIATE_TEST_SUITE_P(
    Rows, ZorflashExitStatusTest,
    ::testing::Values(
        ExitStatusCase{"updated", 0x0140, false, false, false, true, false, kUpdate, 0, true, kComplete},
        ExitStatusCase{"up_to_date", 0x0610, false, false, false, true, false, kUpdate, 0, false,
                       TEXT_UP_TO_DATE},
        ExitStatusCase{"failed", 0x0140, false, true, false, true, false, kUpdate, 1, true,
                       "Failed to send a Feature Report."},
        ExitStatusCase{"no_sensor", 0, false, false, false, true, false, kUpdate, 3, false,
                       TEXT_NO_CONNECTION},
        ExitStatusCase{"usage", 0x0140, false, false, false, true, false, {"--update", "/F0", "x"}, 4,
                       false, nullptr},
        ExitStatusCase{"family_for_a_normal_sensor", 0x0140, false, false, false, true, false,
                       {"--update", "--family", "0"}, 4, false,
                       "--family applies only to a sensor found in its boot loader; this one "
                       "runs normally as product 0x0090 (family 0)."},
        ExitStatusCase{"does_not_fit", 0x0200, false, false, false, true, false, kUpdate, 5, false,
                       TEXT_VERSION_MISMATCH},
        ExitStatusCase{"already_running", 0x0140, false, false, false, true, true, kUpdate, 6, false,
                       nullptr},
        ExitStatusCase{"no_image", 0x0140, false, false, false, false, false, kUpdate, 7, false,
                       "No firmware file /usr/lib/firmware/zorflash/image-a.bin: put the vendor's "
                       "image A there (exactly 36352 bytes) or name its folder with --firmware-dir."},
        ExitStatusCase{"not_back", 0x0140, false, false, true, true, false, kUpdate, 8, true, kComplete},
        ExitStatusCase{"family_unknown", 0x0140, true, false, false, true, false, kUpdate, 9, false,
                       kFamilyUnknown},
        ExitStatusCase{"family_given", 0x0140, true, false, false, true, false,
                       {"--update", "--family", "0"}, 0, true, kComplete},
        ExitStatusCase{"slash_v", 0x0140, false, false, false, true, false, {"/V"}, 2, true,
                       kComplete},
        ExitStatusCase{"slash_f0_without_file", 0x0140, false, false, false, true, false, {"/F0"},
                       4, false, nullptr}),
    [](const ::testing::TestParamInfo<ExitStatusCase>& info) { return std::string(info.param.name); });

// --info changes nothing and says what it found: the verdict of an old, a current, a
// mismatching and an absent sensor, and of one in its boot loader of unknown family.
TEST_F(ZorflashE2eTest, InfoGivesTheVerdictAndSendsNothing) {
    struct Case {
        uint16_t version;  // 0: no sensor
        bool inBootLoader;
        int exitStatus;
        const char* verdict;
        const char* record;  // what --info says the machine's record holds
    };
    const Case cases[] = {
        // First, while this machine's record is empty; the sensors below fill it.
        {0x0140, true, 0, "sensor in its boot loader, family unknown", "none (no such file)"},
        {0x0140, false, 0, "update available", "0090"},
        {0x0610, false, 0, "up to date", "0090"},
        {0x0200, false, 0, "this update does not fit this sensor", "0090"},
        {0, false, 3, "no sensor found", "0090"},
    };
    for (const Case& c : cases) {
        if (c.version != 0) {
            SimSensorConfig config = QuickSensorConfig(0, c.version);
            config.startInBootLoader = c.inBootLoader;
            Start(config);
        }
        const ProgramRun run = RunBare({"--info"}, {}, 30);
        EXPECT_EQ(run.exitCode, c.exitStatus) << run.out << run.err;
        EXPECT_TRUE(HasLine(run.out, std::string("Verdict: ") + c.verdict)) << run.out;
        EXPECT_TRUE(HasLine(run.out, std::string("  /var/lib/zorflash/products-met: ") + c.record))
            << run.out;
#ifdef ZORFLASH_GTK_BINARY
        // The window's --info --json is zorflash's object: only the program and the run's
        // stamp differ.
        nlohmann::json objects[2];
        const char* const programs[2] = {ZORFLASH_BINARY, ZORFLASH_GTK_BINARY};
        for (int i = 0; i < 2; ++i) {
            const ProgramRun json = RunBare({"--info", "--json"}, {}, 30, programs[i]);
            EXPECT_EQ(json.exitCode, c.exitStatus) << programs[i] << json.err;
            objects[i] = nlohmann::json::parse(json.out, nullptr, false);
            for (const char* key : {"program", "runId", "startTime"}) objects[i].erase(key);
        }
        EXPECT_FALSE(objects[0].is_discarded());
        EXPECT_EQ(objects[0]["verdict"], c.verdict);
        EXPECT_EQ(objects[0], objects[1]);
        // A person's wrong option is named once, as zorflash names it.
        const ProgramRun wrong = RunBare({"--bogus"}, {}, 30, ZORFLASH_GTK_BINARY);
        EXPECT_EQ(wrong.exitCode, 4);
        EXPECT_EQ(wrong.err, "zorflash-gtk: unknown option --bogus; see zorflash-gtk --help\n");
#endif
        if (sensor != nullptr) {
            ExpectStream(Transcript(), {});
            EXPECT_EQ(emulated_sensor_lock(sensor)->counters.featureSets, 0u);
            emulated_sensor_unlock(sensor);
            emulated_sensor_stop(sensor);
            sensor = nullptr;
        }
    }
}

// ---- Hostile inputs --------------------------------------------------------------------
//
// What a careless or hostile local user may leave in the program's way: records, firmware
// files, the lock. Each row plants its input, runs the program once and asserts what reached
// the sensor (nothing, or exactly the right image), the exit status, a text that names the
// problem, and that the run ended within its seconds instead of hanging.
enum class Sent { Nothing, ImageA, ImageB };

// What a row's hooks work on; DIR, LOCK and FOLDER in a row's arguments and text stand for
// these.
struct HostileRun {
    std::string folder;       // a fresh folder of the row's own
    std::string firmwareDir;  // the placeholder images, given with --firmware-dir
    std::string lockPath;     // the run's lock file, /run/zorflash/zorflash.lock
    std::string sumA;         // SHA_A: the SHA-256 of image A's file, as sha256sum gives it
    EmulatedSensor* sensor = nullptr;
    EmulatedSensor* secondBoard = nullptr;  // another board, on a port of its own
    std::vector<int> heldFds;  // closed once the run has ended
    std::string noted;         // what a row's hook keeps for its check
};

struct HostileCase {
    const char* name;
    int family;               // the sensor's family at the start; -1: no sensor
    bool startInBootLoader;
    std::function<void(HostileRun&)> plant;  // before the run; null: nothing
    std::vector<std::string> args;           // after zorflash --firmware-dir DIR
    int exitStatus;
    Sent sent;
    const char* says;         // a text standard output or error holds; "": none asked
    double withinSeconds;     // the run is killed, and fails, after this long
    uint32_t runAsUid = 0;    // 0: as the test; else as this user (and its group)
    std::vector<std::string> env = {};        // "NAME=value" added to the run's environment
    std::function<void(HostileRun&)> check = nullptr;  // after the run; null: nothing
    // Asked while the run goes on, with what it printed so far; the first text it returns
    // is typed, and standard input ends. Null: standard input is /dev/null.
    std::function<const char*(HostileRun&, const std::string& printed)> typed = nullptr;
};

void PrintTo(const HostileCase& c, std::ostream* out) { *out << c.name; }

std::string Expand(std::string text, const HostileRun& h) {
    const std::pair<const char*, const std::string*> names[] = {
        {"FOLDER", &h.folder}, {"DIR", &h.firmwareDir}, {"LOCK", &h.lockPath}, {"SHA_A", &h.sumA}};
    for (const auto& [name, value] : names) {
        for (size_t at = text.find(name); at != std::string::npos; at = text.find(name, at)) {
            text.replace(at, std::strlen(name), *value);
            at += value->size();
        }
    }
    return text;
}

// Runs a row's shell command, its names expanded.
// Outside the test's preloads: a tool under the sanitizer's runtime or the device mock may fail
// for reasons of its own.
void Shell(const std::string& command, const HostileRun& h) {
    const std::string line = "env -u LD_PRELOAD -u UMOCKDEV_DIR sh -c '" + Expand(command, h) + "'";
    ASSERT_EQ(std::system(line.c_str()), 0) << command;
}

class ZorflashHostileTest : public ZorflashE2eTest,
                            public ::testing::WithParamInterface<HostileCase> {};

TEST_P(ZorflashHostileTest, RefusesOrWritesTheRightImage) {
    const HostileCase& c = GetParam();
    HostileRun h;
    h.folder = test_temp_folder() + "/hostile-" + c.name;
    ASSERT_EQ(std::system(("rm -rf " + h.folder + " && mkdir -p -m 755 " + h.folder).c_str()), 0);
    unlink("/var/lib/zorflash/products-met");  // each row starts from a machine that met nothing
    h.firmwareDir = firmwareDir;
    h.lockPath = lockPath;
    h.sumA = ImageSum(0);
    if (c.family >= 0) {
        SimSensorConfig config = c.family == 0 ? QuickSensorConfig(0, 0x0140) : QuickSensorConfig(1, 0x0139);
        if (c.family == 1) config.report5Word = 2, config.report6Word = 1;
        config.startInBootLoader = c.startInBootLoader;
        Start(config);
        h.sensor = sensor;
    }
    if (c.plant) c.plant(h);

    std::vector<std::string> argv;
    if (c.runAsUid != 0) {
        const std::string id = std::to_string(c.runAsUid);
        argv = {"/usr/bin/setpriv", "--reuid=" + id, "--regid=" + id, "--clear-groups", "--"};
    }
    argv.push_back(ZORFLASH_BINARY);
    for (const std::string& a : std::vector<std::string>{"--firmware-dir", "DIR"}) argv.push_back(Expand(a, h));
    for (const std::string& a : c.args) argv.push_back(Expand(a, h));
    std::vector<std::string> env;
    for (const std::string& e : c.env) env.push_back(Expand(e, h));
    std::function<const char*(const ProgramRun&)> typeNow;
    if (c.typed) typeNow = [&](const ProgramRun& soFar) { return c.typed(h, soFar.out + soFar.err); };
    const ProgramRun run = RunScaled(ZORFLASH_BINARY, argv, env, c.withinSeconds, nullptr, typeNow);
    sensor = h.sensor;  // a hook may have put another sensor in its place
    for (int fd : h.heldFds) close(fd);
    unlink(h.lockPath.c_str());
    if (c.check) c.check(h);
    ASSERT_EQ(std::system(("rm -rf " + h.folder).c_str()), 0);
    EXPECT_FALSE(run.timedOut) << "still running after " << c.withinSeconds << " s";
    EXPECT_EQ(run.exitCode, c.exitStatus) << run.out << run.err;
    if (c.says[0] != '\0') {
        const std::string says = Expand(c.says, h);
        EXPECT_NE((run.out + run.err).find(says), std::string::npos)
            << "expected: " << says << "\n" << run.out << run.err;
    }
    if (sensor == nullptr) return;
    if (c.sent == Sent::Nothing) {
        SimSensor* model = emulated_sensor_lock(sensor);
        EXPECT_EQ(model->counters.featureSets + model->counters.outputWrites, 0u);
        emulated_sensor_unlock(sensor);
    } else {
        const FirmwareImage& right = ImageForKind(c.sent == Sent::ImageA ? 0 : 1);
        EXPECT_TRUE(FlashHolds(right));
    }
}

// The record rows' plantings. The udev rule's note, run as udev runs it when a sensor of
// product `product` appears: the RUN+= command of the packaged rule, on the built note.
void RunRuleNote(const char* product) {
    std::ifstream rules(std::string(ZORFLASH_SOURCE_DIR) + "/packaging/70-zorflash.rules");
    std::string line, command;
    while (std::getline(rules, line) && command.empty()) {
        const size_t at = line.find("RUN+=\"");
        if (at != std::string::npos) command = line.substr(at + 6, line.find('"', at + 6) - at - 6);
    }
    ASSERT_EQ(command.find("/usr/libexec/zorflash/zorflash-note-met "), 0u) << command;
    command.replace(0, command.find(' '), ZORFLASH_NOTE_BINARY);
    command.replace(command.find("$attr{idProduct}"), 16, product);
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

// Makes `path` (under the row's folder) a folder of user 65534's, with `record` in the
// state folder below it when not null.
void PlantNobodysHome(const std::string& path, const char* record) {
    const std::string state = path + "/.local/state/zorflash";
    ASSERT_EQ(std::system(("mkdir -p " + (record ? state : path)).c_str()), 0);
    if (record) std::ofstream(state + "/products-met") << record;
    ASSERT_EQ(std::system(("chown -R 65534:65534 " + path).c_str()), 0);
}

// Lets user 65534 at the emulated sensor, as the udev rule lets the seat's user: the testbed
// readable, the node and umockdev's socket for it open to all.
void LetNobodyAtTheSensor(HostileRun& h) {
    const std::string root = std::getenv("UMOCKDEV_DIR");
    char node[32];
    emulated_sensor_node(h.sensor, node, sizeof node);
    char target[256];
    const ssize_t t = readlink((root + node).c_str(), target, sizeof target - 1);
    ASSERT_GT(t, 0);
    target[t] = '\0';
    ASSERT_EQ(chmod(root.c_str(), 0755) | chmod(target, 0666) |
              chmod((root + "/ioctl" + node).c_str(), 0777), 0);
    // The lock file as the package makes it: root's, which the user may open but not make.
    unlink(h.lockPath.c_str());
    close(open(h.lockPath.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644));
}

// Fault 1: an earlier sensor's 0090 left in the machine's record, then a family-1 sensor
// appears and the rule notes it; left in its boot loader, its family is unknown to every run.
void PlantStaleRecordAndFamilyOne(HostileRun&) {
    std::ofstream("/var/lib/zorflash/products-met") << "0090\n";
    RunRuleNote("00e6");
}

// The --report rows: the object at `path`, and that it names its run as a collector needs.
nlohmann::json ReportIn(const std::string& path) {
    std::stringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    const nlohmann::json report = nlohmann::json::parse(text.str(), nullptr, false);
    EXPECT_TRUE(report.is_object()) << path << ": " << text.str();
    if (!report.is_object()) return nlohmann::json::object();
    const std::string id = report.value("runId", ""), start = report.value("startTime", "");
    EXPECT_EQ(id.size(), 16u) << text.str();
    EXPECT_EQ(id.find_first_not_of("0123456789abcdef"), std::string::npos) << text.str();
    tm parsed{};
    const char* end = strptime(start.c_str(), "%Y-%m-%dT%H:%M:%SZ", &parsed);
    EXPECT_TRUE(end != nullptr && *end == '\0' && start.size() == 20) << text.str();
    return report;
}

// A device node, a FIFO or a folder at --report's path stays what it was, and is told.
HostileCase ReportOverSpecialFile(const char* name, const char* make, mode_t kind, const char* words) {
    return HostileCase{name, 0, false, [make](HostileRun& h) { Shell(make, h); },
                       {"--info", "--report", "FOLDER/report"}, 0, Sent::Nothing,
                       words, 20, 0, {},
                       [kind](HostileRun& h) {
                           struct stat found;
                           ASSERT_EQ(lstat((h.folder + "/report").c_str(), &found), 0);
                           EXPECT_EQ(found.st_mode & S_IFMT, kind);
                       }};
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ZorflashHostileTest,
    ::testing::Values(
        HostileCase{"lock_held", 0, false,
                    [](HostileRun& h) {
                        const int fd = open(h.lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
                        ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
                        h.heldFds.push_back(fd);
                    },
                    kUpdate, 6, Sent::Nothing, "another instance is already running (lock LOCK)", 20},
        // Planted at the lock's path: the lock is not taken, and nothing is sent.
        HostileCase{"lock_is_a_link", 0, false,
                    [](HostileRun& h) { ASSERT_EQ(symlink((h.folder + "/elsewhere").c_str(), h.lockPath.c_str()), 0); },
                    kUpdate, 6, Sent::Nothing, "cannot take the lock LOCK (it is a symbolic link)", 20},
        HostileCase{"lock_is_a_fifo", 0, false,
                    [](HostileRun& h) { ASSERT_EQ(mkfifo(h.lockPath.c_str(), 0666), 0); },
                    {"/V"}, 2, Sent::Nothing, "cannot take the lock LOCK (it is a FIFO)", 20},
        HostileCase{"lock_of_mode_000", 0, false,
                    [](HostileRun& h) { close(open(h.lockPath.c_str(), O_CREAT | O_WRONLY, 0)); },
                    kUpdate, 6, Sent::Nothing, "cannot take the lock LOCK (Permission denied)", 20, 65534},
        // The lock's folder or file as another user could have left them: refused.
        HostileCase{"lock_folder_others_may_write", 0, false,
                    [](HostileRun&) { ASSERT_EQ(chmod("/run/zorflash", 0777), 0); },
                    kUpdate, 6, Sent::Nothing,
                    "cannot take the lock LOCK (its folder /run/zorflash may be changed by others", 20, 0, {},
                    [](HostileRun&) { chmod("/run/zorflash", 0755); }},
        HostileCase{"lock_folder_of_another_user", 0, false,
                    [](HostileRun&) { ASSERT_EQ(chown("/run/zorflash", 65534, 65534), 0); },
                    kUpdate, 6, Sent::Nothing,
                    "cannot take the lock LOCK (its folder /run/zorflash may be changed by others", 20, 0, {},
                    [](HostileRun&) { ASSERT_EQ(chown("/run/zorflash", 0, 0), 0); }},
        // Without the package's folder: a run as root that only answers makes nothing; one
        // that updates makes the folder as the package would, and locks in it.
        HostileCase{"help_as_root_makes_no_folder", 0, false,
                    [](HostileRun& h) { Shell("umount /run/zorflash && rmdir /run/zorflash", h); },
                    {"--help"}, 0, Sent::Nothing, "Usage:", 20, 0, {},
                    [](HostileRun& h) { Shell("test ! -e /run/zorflash && mkdir -m 755 /run/zorflash", h); }},
        HostileCase{"update_as_root_makes_the_folder", 0, false,
                    [](HostileRun& h) { Shell("umount /run/zorflash && rmdir /run/zorflash", h); },
                    kUpdate, 0, Sent::ImageA, "", 60, 0, {},
                    [](HostileRun& h) { Shell("test $(stat -c %U:%a /run/zorflash) = root:755", h); }},
        HostileCase{"lock_of_another_user", 0, false,
                    [](HostileRun& h) {
                        close(open(h.lockPath.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0666));
                        ASSERT_EQ(chown(h.lockPath.c_str(), 65534, 65534), 0);
                    },
                    kUpdate, 6, Sent::Nothing,
                    "cannot take the lock LOCK (it belongs to user 65534, neither root nor this run's user)", 20},
        // The package's folder (its tmpfiles.d line applied): a user may neither remove nor
        // replace nor write the lock, and still finds root's run holding it.
        HostileCase{"lock_in_the_package_folder", 0, false,
                    [](HostileRun& h) {
                        Shell("systemd-tmpfiles --create " ZORFLASH_SOURCE_DIR "/packaging/zorflash.tmpfiles && "
                              "setpriv --reuid=65534 --regid=65534 --clear-groups -- sh -c \"rm -f LOCK; "
                              "mv -f LOCK LOCK.old; ln -sf /tmp LOCK; echo x >LOCK\" 2>/dev/null; "
                              "test -f LOCK && test ! -L LOCK && test ! -s LOCK && test ! -e LOCK.old && "
                              "test $(stat -c %U:%a LOCK) = root:644 && test $(stat -c %U:%a /run/zorflash) = root:755", h);
                        const int fd = open(h.lockPath.c_str(), O_RDONLY | O_CLOEXEC);
                        ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
                        h.heldFds.push_back(fd);
                    },
                    kUpdate, 6, Sent::Nothing, "another instance is already running (lock LOCK)", 20, 65534},
        // No variable moves the lock of a run as root: the shipped one is found held, and
        // nothing is made where the variable points.
        HostileCase{"lock_file_variable_ignored", 0, false,
                    [](HostileRun& h) {
                        const int fd = open(h.lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
                        ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
                        h.heldFds.push_back(fd);
                    },
                    kUpdate, 6, Sent::Nothing, "another instance is already running (lock LOCK)", 20, 0,
                    {"ZORFLASH_LOCK_FILE=FOLDER/moved.lock"},
                    [](HostileRun& h) { EXPECT_NE(access((h.folder + "/moved.lock").c_str(), F_OK), 0); }},
        // A system bus address that runs a program (sudo -E keeps it): never used by root's
        // update, which keeps the machine awake over the bus's own socket.
        HostileCase{"system_bus_variable_ignored", 0, false, nullptr, kUpdate, 0, Sent::ImageA,
                    TEXT_UPDATE_COMPLETE, kUpdateTimeoutSeconds, 0,
                    {"DBUS_SYSTEM_BUS_ADDRESS=unixexec:path=/bin/sh,argv0=sh,argv1=-c,argv2=touch%20FOLDER/marker"},
                    [](HostileRun& h) { EXPECT_NE(access((h.folder + "/marker").c_str(), F_OK), 0); }},
        // Identified as family 0 by the dialog, then a family-1 sensor is there when Update is
        // pressed: it must not be switched and given image A.
        // Identified as family 0, then a family-1 board sitting in its boot loader is there
        // when Update is pressed: a boot loader nothing switched is another board.
        HostileCase{"boot_loader_by_update", 0, false, nullptr, {}, 2, Sent::Nothing,
                    "Status : The sensor attached now is not the one this update was chosen "
                    "for; nothing was sent to it.", 30, 0, {}, nullptr,
                    [](HostileRun& h, const std::string& printed) -> const char* {
                        if (printed.find("Current Version : 0140") == std::string::npos) return nullptr;
                        emulated_sensor_stop(h.sensor);
                        SimSensorConfig family1 = QuickSensorConfig(1, 0x0139);
                        family1.startInBootLoader = true;
                        h.sensor = emulated_sensor_start(family1, ScaledSensorOptions());
                        return emulated_sensor_wait_for_product(h.sensor, 0x0094, 5000) ? "u" : "";
                    }},
        // A second board waiting in its boot loader on another port (a jig, a gadget) is
        // never taken for the switched sensor's boot loader: the sensor is updated, the
        // other board is sent nothing.
        HostileCase{"second_board_in_its_boot_loader", 0, false,
                    [](HostileRun& h) {
                        SimSensorConfig other = QuickSensorConfig(1, 0x0139);
                        other.startInBootLoader = true;
                        h.secondBoard = emulated_sensor_start(other, ScaledSensorOptions());
                        ASSERT_NE(h.secondBoard, nullptr);
                    },
                    kUpdate, 0, Sent::ImageA, "Status : " TEXT_UPDATE_COMPLETE, kUpdateTimeoutSeconds, 0, {},
                    [](HostileRun& h) {
                        EXPECT_EQ(emulated_sensor_lock(h.secondBoard)->counters.featureSets, 0u);
                        emulated_sensor_unlock(h.secondBoard);
                        emulated_sensor_stop(h.secondBoard);
                    }},
        // A disk cloned from a family-0 tablet: the record's stale 0090 beside the family-1
        // sensor's note would leave an interrupted update's boot loader without a family, so
        // the sensor is not switched; likewise when its note cannot be written at all.
        HostileCase{"stale_record_beside_the_note", 1, false,
                    [](HostileRun&) { std::ofstream("/var/lib/zorflash/products-met") << "0090\n"; },
                    kUpdate, 10, Sent::Nothing,
                    "To fix it, remove the line 0090 from /var/lib/zorflash/products-met; then start "
                    "the update again.", 20},
        HostileCase{"stale_record_note_not_written", 1, false,
                    [](HostileRun&) {
                        std::ofstream("/var/lib/zorflash/products-met") << "0090\n";
                        ASSERT_EQ(mount("/var/lib/zorflash", "/var/lib/zorflash", nullptr, MS_BIND, nullptr), 0);
                        ASSERT_EQ(mount(nullptr, "/var/lib/zorflash", nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr), 0);
                    },
                    kUpdate, 10, Sent::Nothing, "The record holds: /var/lib/zorflash/products-met: 0090", 20,
                    0, {}, [](HostileRun&) { umount("/var/lib/zorflash"); }},
        HostileCase{"other_family_by_update", 0, false, nullptr, {}, 2, Sent::Nothing,
                    "Status : The sensor attached now is not the one this update was chosen "
                    "for; nothing was sent to it.", 30, 0, {}, nullptr,
                    [](HostileRun& h, const std::string& printed) -> const char* {
                        if (printed.find("Current Version : 0140") == std::string::npos) return nullptr;
                        emulated_sensor_stop(h.sensor);
                        SimSensorConfig family1 = QuickSensorConfig(1, 0x0139);
                        family1.report5Word = 2, family1.report6Word = 1;
                        h.sensor = emulated_sensor_start(family1, ScaledSensorOptions());
                        return emulated_sensor_wait_for_product(h.sensor, 0x00E6, 5000) ? "u" : "";
                    }},
        HostileCase{"fifo_image", 0, false, [](HostileRun& h) { Shell("mkfifo FOLDER/image-a.bin", h); },
                    {"--firmware-dir", "FOLDER", "--update"}, 7, Sent::Nothing,
                    "Firmware file FOLDER/image-a.bin is a FIFO, not a regular file", 20},
        HostileCase{"fifo_image_version", 0, false, [](HostileRun& h) { Shell("mkfifo FOLDER/image-a.bin", h); },
                    {"--firmware-dir", "FOLDER", "--version"}, 0, Sent::Nothing,
                    "Firmware file FOLDER/image-a.bin is a FIFO, not a regular file", 20},
        HostileCase{"folder_image", 0, false, [](HostileRun& h) { Shell("mkdir FOLDER/image-a.bin", h); },
                    {"--firmware-dir", "FOLDER", "--update"}, 7, Sent::Nothing,
                    "Firmware file FOLDER/image-a.bin is a folder, not a regular file", 20},
        HostileCase{"device_image", 0, false, [](HostileRun& h) { Shell("ln -s /dev/zero FOLDER/image-a.bin", h); },
                    {"--firmware-dir", "FOLDER", "--update"}, 7, Sent::Nothing,
                    "Firmware file FOLDER/image-a.bin is a device, not a regular file", 20},
        HostileCase{"sums_match", 0, false,
                    [](HostileRun& h) { Shell("cp DIR/image-?.bin FOLDER && cd FOLDER && sha256sum -b image-?.bin >SHA256SUMS", h); },
                    {"--firmware-dir", "FOLDER", "--update", "--json"}, 0, Sent::ImageA,
                    "\"sha256\": \"SHA_A\"", kUpdateTimeoutSeconds},
        // Right size, wrong content: a download padded with zeros.
        HostileCase{"sums_mismatch", 0, false,
                    [](HostileRun& h) { Shell("cp DIR/image-?.bin FOLDER && cd FOLDER && sha256sum image-?.bin >SHA256SUMS && "
                                              "dd if=/dev/zero of=image-a.bin bs=1024 seek=30 count=5 conv=notrunc status=none", h); },
                    {"--firmware-dir", "FOLDER", "--update"}, 7, Sent::Nothing,
                    "Firmware file FOLDER/image-a.bin does not match FOLDER/SHA256SUMS: its SHA-256 is ", 20},
        HostileCase{"sums_without_its_line", 0, false,
                    [](HostileRun& h) { Shell("cp DIR/image-?.bin FOLDER && cd FOLDER && sha256sum image-b.bin >SHA256SUMS", h); },
                    {"--firmware-dir", "FOLDER", "--update"}, 7, Sent::Nothing,
                    "Firmware file FOLDER/image-a.bin has no line in FOLDER/SHA256SUMS, so it is not used; its SHA-256 is SHA_A.", 20},
        HostileCase{"sums_fifo", 0, false,
                    [](HostileRun& h) { Shell("cp DIR/image-?.bin FOLDER && mkfifo FOLDER/SHA256SUMS", h); },
                    {"--firmware-dir", "FOLDER", "--update"}, 7, Sent::Nothing,
                    "The checksum list FOLDER/SHA256SUMS is a FIFO, not a regular file", 20},
        // Any SHA256SUMS that is not a list this run can read refuses the images.
        HostileCase{"sums_dangling_link", 0, false,
                    [](HostileRun& h) { Shell("cp DIR/image-?.bin FOLDER && ln -s nowhere FOLDER/SHA256SUMS", h); },
                    {"--firmware-dir", "FOLDER", "--update"}, 7, Sent::Nothing,
                    "The checksum list FOLDER/SHA256SUMS is a symbolic link to nothing (dangling), not a regular file", 20},
        HostileCase{"sums_folder", 0, false,
                    [](HostileRun& h) { Shell("cp DIR/image-?.bin FOLDER && mkdir FOLDER/SHA256SUMS", h); },
                    {"--firmware-dir", "FOLDER", "--update"}, 7, Sent::Nothing,
                    "The checksum list FOLDER/SHA256SUMS is a folder, not a regular file", 20},
        HostileCase{"sums_unreadable", 0, false,
                    [](HostileRun& h) {
                        Shell("cp DIR/image-?.bin FOLDER && cd FOLDER && sha256sum image-?.bin >SHA256SUMS && chmod 600 SHA256SUMS", h);
                        LetNobodyAtTheSensor(h);
                        PlantNobodysHome(h.folder + "/home", nullptr);
                    },
                    {"--firmware-dir", "FOLDER", "--update"}, 7, Sent::Nothing,
                    "The checksum list FOLDER/SHA256SUMS cannot be read (Permission denied)", 20, 65534,
                    {"HOME=FOLDER/home"}},
        // --report writes over a regular file or a new name only, and leaves no earlier run's
        // success behind.
        ReportOverSpecialFile("report_over_a_device", "mknod FOLDER/report c 1 3", S_IFCHR,
                              "the report was not written to FOLDER/report: it is a character device; "
                              "only a regular file or a new name is replaced"),
        ReportOverSpecialFile("report_over_a_fifo", "mkfifo FOLDER/report", S_IFIFO, "it is a FIFO"),
        ReportOverSpecialFile("report_over_a_folder", "mkdir FOLDER/report", S_IFDIR, "it is a folder"),
        HostileCase{"report_keeps_owner_and_mode", 0, false,
                    [](HostileRun& h) { Shell("echo old >FOLDER/report.json && chown 65534:65534 FOLDER/report.json && chmod 600 FOLDER/report.json", h); },
                    {"--info", "--report", "FOLDER/report.json"}, 0, Sent::Nothing, "", 20, 0, {},
                    [](HostileRun& h) {
                        struct stat found;
                        ASSERT_EQ(stat((h.folder + "/report.json").c_str(), &found), 0);
                        EXPECT_EQ(found.st_uid, 65534u);
                        EXPECT_EQ(found.st_gid, 65534u);
                        EXPECT_EQ(found.st_mode & 07777, 0600u);
                        EXPECT_EQ(ReportIn(h.folder + "/report.json")["state"], "ended");
                    }},
        HostileCase{"report_of_a_refused_run", 0, false,
                    [](HostileRun& h) {
                        std::ofstream(h.folder + "/report.json") << "{\"exitStatus\": 0}\n";
                        const int fd = open(h.lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
                        ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
                        h.heldFds.push_back(fd);
                    },
                    {"--update", "--report", "FOLDER/report.json"}, 6, Sent::Nothing,
                    "another instance is already running", 20, 0, {},
                    [](HostileRun& h) { EXPECT_EQ(ReportIn(h.folder + "/report.json")["exitStatus"], 6); }},
        // While the dialog waits for a key, the file holds the start object, not the earlier
        // success; the final object has the same run id.
        HostileCase{"report_while_running", 0, false,
                    [](HostileRun& h) { std::ofstream(h.folder + "/report.json") << "{\"exitStatus\": 0}\n"; },
                    {"--report", "FOLDER/report.json"}, 2, Sent::Nothing, "", 30, 0, {},
                    [](HostileRun& h) {
                        const nlohmann::json report = ReportIn(h.folder + "/report.json");
                        EXPECT_EQ(report["state"], "ended");
                        EXPECT_EQ(report["runId"], h.noted);
                    },
                    [](HostileRun& h, const std::string& printed) -> const char* {
                        if (printed.find("Current Version : 0140") == std::string::npos) return nullptr;
                        const nlohmann::json start = ReportIn(h.folder + "/report.json");
                        EXPECT_TRUE(start["exitStatus"].is_null()) << start;
                        EXPECT_EQ(start["state"], "running");
                        h.noted = start.value("runId", "");
                        return "e";
                    }},
        HostileCase{"stale_machine_record_root", 1, true, PlantStaleRecordAndFamilyOne, kUpdate, 9,
                    Sent::Nothing, "family is unknown", 20},
        HostileCase{"stale_machine_record_user", 1, true,
                    [](HostileRun& h) {
                        PlantStaleRecordAndFamilyOne(h);
                        LetNobodyAtTheSensor(h);
                        PlantNobodysHome(h.folder + "/home", nullptr);
                    },
                    kUpdate, 9, Sent::Nothing, "family is unknown", 20, 65534, {"HOME=FOLDER/home"}},
        // A run as root with a user's HOME (sudo -E): the 0090 there is not read.
        HostileCase{"home_of_another_user", 1, true,
                    [](HostileRun& h) { PlantNobodysHome(h.folder + "/home", "0090\n"); },
                    kUpdate, 9, Sent::Nothing, "family is unknown", 20, 0, {"HOME=FOLDER/home"},
                    [](HostileRun& h) {
                        const ProgramRun found = run_program({"/usr/bin/find", h.folder + "/home", "-user", "0"}, {}, 10);
                        EXPECT_EQ(found.out, "");
                    }},
        // ... nor is anything made there when the machine's folder cannot be written.
        HostileCase{"home_of_another_user_machine_read_only", 0, false,
                    [](HostileRun& h) {
                        PlantNobodysHome(h.folder + "/home", nullptr);
                        ASSERT_EQ(mount("/var/lib/zorflash", "/var/lib/zorflash", nullptr, MS_BIND, nullptr), 0);
                        ASSERT_EQ(mount(nullptr, "/var/lib/zorflash", nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr), 0);
                    },
                    {"--info"}, 0, Sent::Nothing, "/var/lib/zorflash cannot be written: Read-only file system",
                    20, 0, {"HOME=FOLDER/home", "XDG_STATE_HOME=FOLDER/home/state"},
                    [](HostileRun& h) {
                        umount("/var/lib/zorflash");
                        const ProgramRun found = run_program({"/usr/bin/find", h.folder + "/home", "-mindepth", "1"}, {}, 10);
                        EXPECT_EQ(found.out, "");
                    }},
        HostileCase{"machine_record_through_link", 1, true,
                    [](HostileRun& h) {
                        std::ofstream(h.folder + "/record") << "00e6\n";
                        ASSERT_EQ(symlink((h.folder + "/record").c_str(), "/var/lib/zorflash/products-met"), 0);
                    },
                    kUpdate, 9, Sent::Nothing,
                    "in /var/lib/zorflash/products-met is ignored: a symbolic link\n", 20},
        HostileCase{"user_record_through_link", 1, true,
                    [](HostileRun& h) {
                        LetNobodyAtTheSensor(h);
                        PlantNobodysHome(h.folder + "/home", nullptr);
                        PlantNobodysHome(h.folder + "/elsewhere", "00e6\n");
                        ASSERT_EQ(symlink((h.folder + "/elsewhere/.local/state/zorflash").c_str(),
                                          (h.folder + "/home/zorflash").c_str()), 0);
                    },
                    kUpdate, 9, Sent::Nothing,
                    "---------- < Module Name : ProductsMet > ---------\nThe record of the sensors met in "
                    "FOLDER/home/zorflash/products-met is ignored: a symbolic link (folder zorflash)",
                    20, 65534, {"HOME=FOLDER/home", "XDG_STATE_HOME=FOLDER/home"}},
        // --family against the record: refused, with where the record is and how to clear it.
        HostileCase{"family_against_the_record", 1, true,
                    [](HostileRun&) { std::ofstream("/var/lib/zorflash/products-met") << "0090\n"; },
                    {"--update", "--family", "1"}, 4, Sent::Nothing,
                    "--family 1 contradicts this machine's record, which knows the sensor as family "
                    "0; if the record is wrong, remove the line 0090 from "
                    "/var/lib/zorflash/products-met.", 20}),
    [](const ::testing::TestParamInfo<HostileCase>& info) { return std::string(info.param.name); });

// Two sensors that appear together start two notes together: each round starts 20 notes of
// both products at one moment (a gate they all wait on), and no line may be lost.
TEST(ZorflashNoteMet, NotesAtOnceKeepEveryLine) {
    for (int round = 0; round < 20; ++round) {
        unlink("/var/lib/zorflash/products-met");
        int gate[2];
        ASSERT_EQ(pipe(gate), 0);
        std::vector<pid_t> notes;
        for (int i = 0; i < 20 && (notes.empty() || notes.back() > 0); ++i) {
            notes.push_back(fork());
            if (notes.back() != 0) continue;
            char byte;
            close(gate[1]);
            while (read(gate[0], &byte, 1) < 0 && errno == EINTR) {}
            // As udev runs it: as root, with no environment (nor this test's preloads).
            const char* const argv[] = {ZORFLASH_NOTE_BINARY, i % 2 ? "00e6" : "0090", nullptr};
            const char* const noEnvironment[] = {nullptr};
            execve(argv[0], const_cast<char* const*>(argv), const_cast<char* const*>(noEnvironment));
            _exit(127);
        }
        close(gate[0]);
        close(gate[1]);
        for (const pid_t pid : notes) {
            int status = -1;
            EXPECT_TRUE(pid > 0 && waitpid(pid, &status, 0) == pid && status == 0) << status;
        }
        std::ifstream record("/var/lib/zorflash/products-met");
        const std::string text((std::istreambuf_iterator<char>(record)), std::istreambuf_iterator<char>());
        ASSERT_EQ(text, "0090\n00e6\n") << "round " << round;
    }
    unlink("/var/lib/zorflash/products-met");
}

}  // namespace
