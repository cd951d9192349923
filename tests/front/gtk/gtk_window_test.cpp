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

struct GtkCase {
    const char* name;
    const char* drive;       // the driver's case: update, idle, family; "root": the program
                             // alone, as root, its standard error and exit in the lines
    bool sensor;             // false: no sensor on the bus
    uint16_t family;
    uint16_t version;        // 0: the family's usual one
    bool inBootLoader;       // starts in its boot loader (its family unknown to the machine)
    std::vector<const char*> lines;  // the driver's lines, in this order (others between)
    bool written;            // the flash holds the image afterwards
    bool nodeClosed = false;  // the sensor's node is not open to the window's user: NODE in
                              // the lines stands for it
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
    std::ofstream(dir + "/" + ImageShapeForKind(c.family).fileName, std::ios::binary)
        .write(reinterpret_cast<const char*>(ImageBytes(image)), ImageByteCount(image));

    // Each case starts on a machine that has met no sensor (the folders are this test
    // process's own, from isolate_program_state).
    ASSERT_NE(std::getenv("ZORFLASH_TEST_STATE"), nullptr);
    std::system("rm -rf /var/lib/zorflash/products-met \"$HOME/.local/state/zorflash\"");
    // The window is user 65534's: the nodes and ioctl sockets the emulated sensor makes as it
    // restarts must be open to it from the moment they exist, or its first open of the boot
    // loader may come before OpenNodesToAll has been round.
    const mode_t umaskBefore = umask(0);
    EmulatedSensor* sensor = nullptr;
    if (c.sensor) {
        SimSensorConfig config = sim_sensor_config_for_family(c.family);
        if (c.version != 0) config.normalVersion = c.version;
        config.startInBootLoader = c.inBootLoader ? 1 : 0;
        sensor = emulated_sensor_start(config);
        ASSERT_NE(sensor, nullptr);
    }
    // The family-0 update leaves the picture of the window in the middle of an update.
    const std::string shot =
        c.written && !c.inBootLoader && std::string(c.drive) == "update" ? dir + "/window.png" : "-";
    // The window runs as the seat's user (user 65534 here), never as root: the driver, its
    // X server and session bus with it. The lock file as the package makes it.
    close(open("/run/zorflash/zorflash.lock", O_CREAT | O_WRONLY | O_CLOEXEC, 0644));
    const bool asRoot = std::string(c.drive) == "root";
    std::vector<std::string> argv = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--",
                                     "/usr/bin/env", "-u", "XDG_RUNTIME_DIR", "HOME=" + dir,
                                     "ZORFLASH_TEST_CAPTION=" TEXT_CAPTION,
                                     "/usr/bin/dbus-run-session", "--", "/usr/bin/python3", GTK_DRIVER,
                                     c.drive, shot};
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
        EXPECT_EQ(access(shot.c_str(), R_OK), 0) << "no picture of the update";
        std::system(("cp " + shot + " " + std::string(GTK_SHOT_COPY) + " 2>/dev/null").c_str());
    }
    std::system(("rm -rf " + dir).c_str());
}

INSTANTIATE_TEST_SUITE_P(
    Window, GtkWindowTest,
    ::testing::Values(
        GtkCase{"family0_update", "update", true, 0, 0, false,
                {"Current version: 0140", "New version: 0610", "driver: pressing Update",
                 "Status: " TEXT_UPDATING, "~Status: Erasing....",
                 "driver: close sent True",
                 "Refused: The sensor is being written: the window cannot close until the "
                 "update has ended.",
                 "Status: Program....", "Status: Verify....", "~Current version: 0610",
                 "Status: " TEXT_UPDATE_COMPLETE, "exit: 2"},
                true},
        // A logout, a closed terminal, Ctrl-C while the sensor is written: each is the
        // window's close, refused; the update finishes and the run ends with it.
        GtkCase{"signals_while_written", "signals", true, 0, 0, false,
                {"driver: pressing Update", "~Status: Erasing....", "driver: SIGHUP sent",
                 "Refused: The sensor is being written: the window cannot close until the "
                 "update has ended.",
                 "Status: Program....", "driver: SIGINT sent", "driver: SIGTERM sent",
                 "Status: Verify....", "exit: 2"},
                true},
        GtkCase{"no_sensor", "update", false, 0, 0, false,
                {"Current version: ????", "driver: pressing Update",
                 "Status: " TEXT_NO_CONNECTION,
                 "exit: 0"},
                false},
        GtkCase{"up_to_date", "update", true, 0, 0x0610, false,
                {"Current version: 0610", "driver: pressing Update",
                 "Status: " TEXT_UP_TO_DATE,
                 "exit: 2"},
                false},
        GtkCase{"boot_loader_family_chosen", "family", true, 0, 0, true,
                {"driver: pressing Update",
                 "Status: The sensor sits in its boot loader and its family is unknown: choose "
                 "Family 0 if the sensor was product 0x0090 in normal mode, Family 1 if it was "
                 "0x00E6.",
                 "driver: pressing Family 0 (was product 0x0090)", "Status: Program....", "Status: " TEXT_UPDATE_COMPLETE,
                 "exit: 2"},
                true},
        // Without the udev rule the sensor's node may not be opened: the window says so, with
        // the diagnostic line's own words.
        GtkCase{"no_permission", "permission", true, 0, 0, false,
                {"Current version: ????",
                 "~Sensor access: No permission to open NODE (sensor f0a5:0090): install the "
                 "udev rule 70-zorflash.rules and plug the sensor in again"},
                false, true},
        // As root (sudo, maybe with the user's environment): refused before GTK or GIO loads
        // anything, with the way to run it as the seat's user; the sensor is left alone.
        GtkCase{"refused_as_root", "root", true, 0, 0, false,
                {"zorflash-gtk: the window does not run as root. On a machine with the zorflash "
                 "package installed, its udev rule (/usr/lib/udev/rules.d/70-zorflash.rules) lets "
                 "the user at the seat update the sensor, so the window never needs root; as "
                 "root, use zorflash --update.",
                 "exit: 4"},
                false}),
    [](const ::testing::TestParamInfo<GtkCase>& info) { return std::string(info.param.name); });

}  // namespace
