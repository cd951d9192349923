// zorflash-gtk against the emulated sensor, driven through the accessibility bus as a screen
// reader user would (gtk_drive.py, on an X server and a session bus of its own). Real time:
// an update takes about ten seconds, the window's start a few more.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "emulated_sensor.h"
#include "expected_texts.h"
#include "run_program.h"
#include "update/firmware_catalogue.h"

namespace {

// How much faster than the real clock the window (under the time-scale preload) and the
// emulated sensor run: ten attempts' waits cost seconds, not minutes.
constexpr uint32_t kTimeScale = 10;

struct GtkCase {
    const char* name;
    const char* drive;       // the driver's case (gtk_drive.py); "root": the program alone,
                             // as root, its standard error and exit in the lines
    bool sensor;             // false: no sensor on the bus
    uint16_t family;
    uint16_t version;        // 0: the family's usual one
    bool inBootLoader;       // starts in its boot loader
    std::vector<const char*> lines;  // the driver's lines, in this order (others between)
    bool written;            // the flash holds the image afterwards
    bool nodeClosed = false;  // the sensor's node is not open to the window's user: NODE in
                              // the lines stands for it
    uint32_t refusals = 0;    // writes of block 0x8000 the boot loader refuses
    const char* record = nullptr;  // the machine's record of the sensors met; null: none
    bool imageInstalled = true;    // the firmware folder holds the family's image
    const char* shot = nullptr;    // a picture of the verdict for docs/: its name
    const char* screen = "800x600";
    bool scale2 = false;           // GDK_SCALE=2
    uint32_t timeScale = kTimeScale;  // 1: the window's waits take real time
    const char* language = "";     // LANGUAGE for the window and the driver: "" English
};

std::ostream& operator<<(std::ostream& out, const GtkCase& c) { return out << c.name; }

class GtkWindowTest : public ::testing::TestWithParam<GtkCase> {};

// Lets user 65534 at the emulated sensor's nodes as the udev rule lets the seat's user: the
// testbed readable, each node and umockdev's socket for it open to all. Asked again while
// the window runs, for the node the sensor gets in its boot loader.
void OpenNodesToAll() {
    const std::string root = std::getenv("UMOCKDEV_DIR");
    chmod(root.c_str(), 0755);
    std::error_code ignored;
    for (const auto& node : std::filesystem::directory_iterator(root + "/dev", ignored)) {
        const std::string name = node.path().filename();
        if (name.rfind("hidraw", 0) != 0) continue;
        chmod(node.path().c_str(), 0666);  // through the link, to the node umockdev made
        chmod((root + "/ioctl/dev/" + name).c_str(), 0777);
    }
}

TEST_P(GtkWindowTest, DrivenThroughTheAccessibilityBus) {
    const GtkCase& c = GetParam();
    ASSERT_TRUE(emulated_testbed_ready());
    const std::string dir = test_temp_folder() + "/gtk";
    ASSERT_EQ(std::system(("mkdir -p " + dir + " && chown 65534:65534 " + dir).c_str()), 0);
    const FirmwareImage& image = ImageForKind(c.family);
    if (c.imageInstalled) {
        std::ofstream(dir + "/" + ImageShapeForKind(c.family).fileName, std::ios::binary)
            .write(reinterpret_cast<const char*>(ImageBytes(image)), ImageByteCount(image));
    }

    // Each case starts on a machine that has met no sensor (the folders are this test
    // process's own, from isolate_program_state).
    ASSERT_NE(std::getenv("ZORFLASH_TEST_STATE"), nullptr);
    std::system("rm -rf /var/lib/zorflash/products-met \"$HOME/.local/state/zorflash\"");
    if (c.record != nullptr) std::ofstream("/var/lib/zorflash/products-met") << c.record;
    // The window is user 65534's: the nodes and ioctl sockets the emulated sensor makes as it
    // restarts must be open to it from the moment they exist, or its first open of the boot
    // loader may come before OpenNodesToAll has been round.
    const mode_t umaskBefore = umask(0);
    EmulatedSensor* sensor = nullptr;
    if (c.sensor) {
        SimSensorConfig config = sim_sensor_config_for_family(c.family);
        if (c.version != 0) config.normalVersion = c.version;
        config.startInBootLoader = c.inBootLoader ? 1 : 0;
        // The boot loader refuses the write of block 0x8000 this many times.
        config.faults.rules[0].kind = c.refusals > 0 ? kSimFaultRefuse : kSimFaultNone;
        config.faults.rules[0].opcode = 1;
        config.faults.rules[0].matchAddress = true;
        config.faults.rules[0].address = 0x8000;
        config.faults.rules[0].times = c.refusals;
        EmulatedSensorOptions options;
        options.timeScale = kTimeScale;
        sensor = emulated_sensor_start(config, options);
        ASSERT_NE(sensor, nullptr);
    }
    // The family-0 update leaves the picture of the window in the middle of an update; a
    // verdict's case its picture for docs/.
    const bool updatePicture = c.written && !c.inBootLoader && std::string(c.drive) == "update" &&
                               c.family == 0 && c.refusals == 0;
    const std::string shot = updatePicture || c.shot != nullptr ? dir + "/window.png" : "-";
    // The window's clock runs kTimeScale times faster; the preload says on `mark` that it
    // loaded into the window (and into nothing else: the driver and its X server keep time).
    int mark[2];
    ASSERT_EQ(pipe2(mark, O_CLOEXEC | O_NONBLOCK), 0);
    fcntl(mark[1], F_SETFD, 0);
    // The window runs as the seat's user (user 65534 here), never as root: the driver, its
    // X server and session bus with it. The lock file as the package makes it.
    close(open("/run/zorflash/zorflash.lock", O_CREAT | O_WRONLY | O_CLOEXEC, 0644));
    const bool asRoot = std::string(c.drive) == "root";
    // umockdev's preload stays in front of the clock's.
    const char* umockdevPreload = std::getenv("LD_PRELOAD");
    const std::string preloads = umockdevPreload != nullptr ? std::string(umockdevPreload) + " " : "";
    std::vector<std::string> argv = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--",
                                     "/usr/bin/env", "-u", "XDG_RUNTIME_DIR", "-u", "LC_ALL", "-u", "LC_MESSAGES",
                                     "HOME=" + dir, "LANG=C.UTF-8", std::string("LANGUAGE=") + c.language,
                                     "ZORFLASH_LOCALE_DIR=" ZORFLASH_LOCALE_BUILD_DIR,
                                     "ZORFLASH_TEST_CAPTION=Pen Firmware",
                                     std::string("ZORFLASH_TEST_SCREEN=") + c.screen,
                                     c.scale2 ? "GDK_SCALE=2" : "GDK_SCALE=1",
                                     "ZORFLASH_TEST_TIME_SCALE=" + std::to_string(c.timeScale),
                                     "ZORFLASH_TEST_TIME_SCALE_MARK_FD=" + std::to_string(mark[1]),
                                     "/usr/bin/dbus-run-session", "--", "/usr/bin/python3", GTK_DRIVER,
                                     c.drive, shot, "/usr/bin/env",
                                     "LD_PRELOAD=" + preloads + ZORFLASH_TIME_SCALE_PRELOAD};
    if (asRoot) argv.clear();
    argv.insert(argv.end(), {ZORFLASH_GTK_BINARY, "--firmware-dir", dir});
    OpenNodesToAll();
    std::string node;
    if (c.nodeClosed) {
        // As without the udev rule: the node is root's alone, its ioctl socket still open.
        char name[64];
        emulated_sensor_node(sensor, name, sizeof name);
        node = name;
        chmod((std::string(std::getenv("UMOCKDEV_DIR")) + node).c_str(), 0600);
    }
    ProgramRun run = run_program(argv, {}, 240, [&c] {
        if (!c.nodeClosed) OpenNodesToAll();
        return false;
    });
    umask(umaskBefore);
    close(mark[1]);
    char said[4096] = "";
    const ssize_t saidLength = read(mark[0], said, sizeof said - 1);
    said[saidLength > 0 ? saidLength : 0] = '\0';
    close(mark[0]);
    if (!asRoot) {
        EXPECT_NE(std::string(said).find(std::to_string(c.timeScale) + " " ZORFLASH_GTK_BINARY),
                  std::string::npos)
            << "the time-scale preload is not in effect in the window: " << said;
    }
    if (asRoot) run.out = "\n" + run.err + "exit: " + std::to_string(run.exitCode) + "\n";
    unlink("/run/zorflash/zorflash.lock");
    // The lines in order; one marked "~" may come anywhere after the line before it: the
    // driver sees two labels that change together (the status and the version, or the
    // status and its own close) in either order.
    size_t at = 0;
    for (const char* text : c.lines) {
        const bool unordered = text[0] == '~';
        if (unordered) ++text;
        std::string line = text;
        const size_t placeholder = line.find("NODE");
        if (placeholder != std::string::npos) line.replace(placeholder, 4, node);
        const size_t found = run.out.find("\n" + line, at);
        EXPECT_NE(found, std::string::npos) << "no line " << line << " after " << at << " in\n"
                                            << run.out << run.err;
        if (found != std::string::npos && !unordered) at = found + 1;
    }
    if (sensor != nullptr) {
        EXPECT_EQ(emulated_sensor_flash_holds(sensor, ImageBytes(image), ImageByteCount(image)),
                  c.written);
        emulated_sensor_stop(sensor);
    }
    if (shot != "-") {
        EXPECT_EQ(access(shot.c_str(), R_OK), 0) << "no picture of the window";
        const std::string copy = std::string(GTK_SHOT_FOLDER) + "/" +
                                 (c.shot != nullptr ? c.shot : "zorflash-gtk-update.png");
        std::system(("cp " + shot + " " + copy + " 2>/dev/null").c_str());
    }
    std::system(("rm -rf " + dir).c_str());
}

INSTANTIATE_TEST_SUITE_P(
    Window, GtkWindowTest,
    ::testing::Values(
        GtkCase{"family0_update", "update", true, 0, 0, false,
                {"reader: heading Update available",
                 "reader: 0140 Installed version (labelled by Installed version)",
                 "reader: 0610 New version (labelled by New version)", "reader: button Update",
                 "driver: pressing Update", "~Headline: Updating the pen firmware",
                 "driver: close sent True",
                 "Refused: The sensor is being written: the window cannot close until the "
                 "update has ended.",
                 "~Status: Verify....", "~Status: " TEXT_UPDATE_COMPLETE,
                 "~Headline: The pen firmware is up to date",
                 "reader: heading The pen firmware is up to date",
                 "reader: 0610 Installed version (labelled by Installed version)",
                 "reader: button none", "exit: 2"},
                true},
        // A logout, a closed terminal, Ctrl-C while the sensor is written: each is the
        // window's close, refused; the update finishes and the run ends with it.
        GtkCase{"signals_while_written", "signals", true, 0, 0, false,
                {"driver: pressing Update", "driver: SIGHUP sent",
                 "~Refused: The sensor is being written: the window cannot close until the "
                 "update has ended.",
                 "driver: SIGINT sent", "driver: SIGTERM sent", "~Status: Verify....", "exit: 2"},
                true},
        // Ten refused writes end the update; the window says the pen will not work until
        // it finishes, and Retry finishes it.
        GtkCase{"failed_then_retry", "retry", true, 0, 0, false,
                {"driver: pressing Update", "Stage: Writing the new firmware · attempt 2 of 10",
                 "Stage: Writing the new firmware · attempt 10 of 10",
                 "reader: heading The update did not finish", "reader: button Retry",
                 "driver: pressing Retry", "~Status: " TEXT_UPDATE_COMPLETE,
                 "reader: heading The pen firmware is up to date", "exit: 2"},
                true, false, 10},
        // An interrupted update, its family on record: one tap finishes it.
        GtkCase{"interrupted_recovered", "update", true, 0, 0, true,
                {"reader: heading The last update did not finish", "reader: button Finish Update",
                 "driver: pressing Finish Update", "~Status: " TEXT_UPDATE_COMPLETE,
                 "reader: heading The pen firmware is up to date", "exit: 2"},
                true, false, 0, "0090\n"},
        // Nothing tells the family: the model is asked in a question of its own, whose
        // write is refused until a model is picked.
        GtkCase{"family_unknown_chosen", "family", true, 0, 0, true,
                {"reader: heading The last update did not finish",
                 "reader: button Choose Sensor Model…", "driver: pressing Choose Sensor Model…",
                 "driver: Write Firmware enabled before a pick: False",
                 "driver: picking Model 0 (USB product 0090)", "driver: pressing Write Firmware",
                 "Status: Program....", "~Status: " TEXT_UPDATE_COMPLETE,
                 "reader: heading The pen firmware is up to date", "exit: 2"},
                true, false, 0, nullptr, true, "zorflash-gtk-family-unknown.png"},
        // Each verdict before a tap, on the narrow screens a tablet has.
        GtkCase{"verdict_update_available", "look", true, 1, 0, false,
                {"reader: heading Update available", "reader: button Update",
                 "driver: window fits True", "exit: 2"},
                false, false, 0, nullptr, true, "zorflash-gtk-update-available.png", "360x720"},
        GtkCase{"verdict_up_to_date", "look", true, 0, 0x0610, false,
                {"reader: heading The pen firmware is up to date", "reader: 0610 Installed version (labelled by Installed version)",
                 "reader: button none", "driver: window fits True", "exit: 2"},
                false, false, 0, nullptr, true, "zorflash-gtk-up-to-date.png", "1080x1920", true},
        GtkCase{"verdict_does_not_fit", "look", true, 0, 0x0200, false,
                {"reader: heading This update does not fit this pen sensor", "reader: button none",
                 "driver: window fits True", "exit: 2"},
                false, false, 0, nullptr, true, "zorflash-gtk-does-not-fit.png", "360x720"},
        GtkCase{"verdict_no_sensor", "look", false, 0, 0, false,
                {"reader: heading No pen sensor found", "reader: button none",
                 "driver: window fits True", "exit: 0"},
                false, false, 0, nullptr, true, "zorflash-gtk-no-sensor.png", "1080x1920", true},
        GtkCase{"verdict_no_firmware", "look", true, 1, 0, false,
                {"reader: heading No firmware installed", "reader: button none",
                 "driver: window fits True", "exit: 2"},
                false, false, 0, nullptr, false, "zorflash-gtk-no-firmware.png", "360x720"},
        // The sensor is looked for off the window's loop: a tap while it looks (three
        // queries a second apart, in real time here) is answered, and the run ends.
        GtkCase{"tap_while_looking", "tap-at-once", false, 0, 0, false,
                {"driver: headline when tapped: Looking for the pen sensor…", "driver: pressing Close",
                 "exit: 0"},
                false, false, 0, nullptr, true, nullptr, "800x600", false, 1},
        GtkCase{"verdict_interrupted", "look", true, 1, 0, true,
                {"reader: heading The last update did not finish", "reader: button Finish Update",
                 "driver: window fits True", "exit: 2"},
                false, false, 0, "00e6\n", true, "zorflash-gtk-interrupted.png", "360x720"},
        // Without the package's udev rule the sensor's node may not be opened: the window
        // says so in plain words, the diagnostic line under them. In real time: a node whose
        // mode changed less than two seconds ago (on the wall clock, which the preload does
        // not speed up) is not named yet, as udev may still be applying its rule, and the
        // look's third query, two seconds after the first, is the one that names it.
        GtkCase{"no_permission", "look", true, 0, 0, false,
                {"Status: No permission to open NODE (sensor f0a5:0090): install the "
                 "udev rule 70-zorflash.rules and plug the sensor in again",
                 "reader: heading The pen sensor cannot be opened", "reader: button none", "exit: 0"},
                false, true, 0, nullptr, true, nullptr, "800x600", false, 1},
        // As root (sudo, maybe with the user's environment): refused before GTK or GIO loads
        // anything, with the way to run it as the seat's user; the sensor is left alone.
        GtkCase{"refused_as_root", "root", true, 0, 0, false,
                {"zorflash-gtk: the window does not run as root. The zorflash package lets the "
                 "user at the tablet update the pen sensor, so start the window as that user; as "
                 "root, use zorflash --update.",
                 "exit: 4"},
                false},
        // Right to left (GTK's Hebrew; the window's own texts have no Hebrew): each version's
        // caption stays before its value, now on its right.
        GtkCase{"right_to_left", "look", true, 0, 0, false,
                {"reader: heading Update available", "reader: button Update", "driver: window fits True",
                 "driver: captions lead True (right to left)", "exit: 2"},
                false, false, 0, nullptr, true, "zorflash-gtk-rtl.png", "360x720", false, kTimeScale, "he"},
        // In German, on a narrow screen: what a screen reader reads, the run in words and
        // the refused close, in the window's translation; the status lines stay the program's.
        GtkCase{"german_update", "update", true, 0, 0, false,
                {"reader: heading Update verfügbar",
                 "reader: 0140 Installierte Version (labelled by Installierte Version)",
                 "reader: 0610 Neue Version (labelled by Neue Version)", "reader: button Aktualisieren",
                 "driver: pressing Aktualisieren", "~Headline: Update läuft",
                 "driver: close sent True", "~Stage: Neue Firmware wird geschrieben",
                 "Refused: Der Sensor wird gerade beschrieben: Das Fenster lässt sich erst nach dem "
                 "Update schließen.",
                 "~Status: " TEXT_UPDATE_COMPLETE,
                 "~Headline: Die Pen-Firmware ist aktuell", "reader: heading Die Pen-Firmware ist aktuell",
                 "reader: button none", "exit: 2"},
                true, false, 0, nullptr, true, "zorflash-gtk-de.png", "360x720", false, kTimeScale, "de"}),
    [](const ::testing::TestParamInfo<GtkCase>& info) { return std::string(info.param.name); });

}  // namespace
