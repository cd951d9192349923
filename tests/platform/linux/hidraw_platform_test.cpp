// The Linux platform layer against the emulated sensor: real libudev enumeration of the
// mocked sysfs tree, real open() and ioctl() on the mocked /dev/hidraw nodes. Real time:
// the sensor's delays are kept short here.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "emulated_sensor.h"
#include "flash/flash_protocol.h"
#include "platform/hid.h"
#include "platform/linux/hidraw_node.h"
#include "platform/records.h"
#include "platform/system.h"
#include "run_program.h"
#include "sensor/diag_log.h"
#include "sensor/hid_device.h"
#include "sensor/sensor_info.h"

namespace {

// Every interface path of one scan, with the description listed for it.
std::vector<std::string> ListPaths(std::vector<HidInterfaceInfo>* infos = nullptr) {
    std::vector<std::string> paths;
    HidInterfaceList* list = plat_hid_list_present();
    char path[kHidPathCapacity];
    HidInterfaceInfo info;
    for (uint32_t i = 0; plat_hid_list_entry(list, i, path, sizeof path, &info) == kHidListFound; ++i) {
        paths.push_back(path);
        if (infos != nullptr) infos->push_back(info);
    }
    plat_hid_list_release(list);
    return paths;
}

PlatResult OpenAndRead(const std::string& path, HidInterfaceInfo* out) {
    HidConnection* connection = nullptr;
    const PlatResult opened = plat_hid_open(path.c_str(), &connection, out);
    plat_hid_close(connection);
    return opened;
}

// The top-level collection an interface path names, as the node's report descriptor has it.
HidTopCollection CollectionOf(const std::string& path) {
    char node[kNodePathCapacity];
    uint32_t collection = 0;
    HidrawNodeInfo nodeInfo;
    if (!linux_hidraw_parse_path(path.c_str(), node, sizeof node, &collection) ||
        !linux_hidraw_read_node_info(node, &nodeInfo) ||
        collection >= nodeInfo.descriptor.collectionCount) {
        ADD_FAILURE() << "no collection at " << path;
        return HidTopCollection{};
    }
    return nodeInfo.descriptor.collections[collection];
}

// Asserts that `result` is a failure of `status` with the errno value `code`.
void ExpectFailure(PlatResult result, PlatStatus status, int code) {
    EXPECT_EQ(static_cast<int>(result.status), static_cast<int>(status));
    EXPECT_EQ(result.systemCode, static_cast<uint32_t>(code));
}

// Sensor configs with short real-time delays.
SimSensorConfig QuickConfig(uint16_t family) {
    SimSensorConfig config = sim_sensor_config_for_family(family);
    config.bootAppearDelayMs = 50;
    config.returnDelayMs = 50;
    config.bootLoaderVersion = 0x0011;
    return config;
}

// Captures what the process writes to standard error (the diagnostic sink here).
struct StderrCapture {
    int saved = -1;
    char path[64] = "/tmp/zorflash-stderr-XXXXXX";
    int fd = -1;
};

void BeginCapture(StderrCapture* c) {
    fflush(stderr);
    c->fd = mkstemp(c->path);
    c->saved = dup(STDERR_FILENO);
    dup2(c->fd, STDERR_FILENO);
}

std::string EndCapture(StderrCapture* c) {
    fflush(stderr);
    dup2(c->saved, STDERR_FILENO);
    close(c->saved);
    std::string text;
    char buffer[4096];
    lseek(c->fd, 0, SEEK_SET);
    ssize_t n;
    while ((n = read(c->fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
    close(c->fd);
    unlink(c->path);
    return text;
}

class HidrawPlatformTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(emulated_testbed_ready()) << "umockdev testbed not available";
        linux_set_diag_sink(kDiagSinkStderr);
    }
    void TearDown() override {
        emulated_sensor_stop(sensor);
        emulated_extra_devices_clear();
    }
    void Start(const SimSensorConfig& config, const EmulatedSensorOptions& options = {}) {
        sensor = emulated_sensor_start(config, options);
        ASSERT_NE(sensor, nullptr);
        const uint16_t product = config.startInBootLoader ? kProductBootLoader
                                 : config.family == 0      ? kProductFamily0
                                                           : kProductFamily1;
        ASSERT_EQ(emulated_sensor_wait_for_product(sensor, product, 2000), 1);
    }
    std::string Node() {
        char node[32];
        emulated_sensor_node(sensor, node, sizeof node);
        return node;
    }
    EmulatedSensor* sensor = nullptr;
};

// A keyboard with media keys of another vendor: two top-level collections on one node.
const uint8_t kKeyboardDescriptor[] = {
    0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0x85, 0x01, 0x05, 0x07, 0x19, 0xE0, 0x29, 0xE7,
    0x15, 0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x08, 0x81, 0x02, 0x75, 0x08, 0x95, 0x07,
    0x81, 0x01, 0xC0,
    0x05, 0x0C, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x02, 0x19, 0x00, 0x2A, 0x3C, 0x02,
    0x75, 0x10, 0x95, 0x01, 0x81, 0x00, 0xC0,
};

TEST_F(HidrawPlatformTest, ListsEveryTopLevelCollectionWithItsCapsAndAttributes) {
    ASSERT_EQ(emulated_extra_device_add(0x046D, 0xC31C, 0x6400, kKeyboardDescriptor,
                                        sizeof kKeyboardDescriptor), 1);
    SimSensorConfig config = QuickConfig(0);
    config.normalVersion = 0x0140;
    config.extraBefore[0] = {0x0001, 0x0002, 8, 0, 0, 1};  // a mouse collection first
    config.extraBeforeCount = 1;
    config.extraAfter[0] = {0xFF00, 0x0005, 0, 0, 17, 1};
    config.extraAfterCount = 1;
    Start(config);

    std::vector<HidInterfaceInfo> listed;
    const std::vector<std::string> paths = ListPaths(&listed);
    ASSERT_EQ(paths.size(), 5u);
    // The keyboard's node sorts first (lower sysfs path), then the sensor's node with its
    // three collections, each listed once with its index.
    const std::string node = Node();
    EXPECT_EQ(paths[2], node + "#0");
    EXPECT_EQ(paths[3], node + "#1");
    EXPECT_EQ(paths[4], node + "#2");
    EXPECT_EQ(paths[0].substr(paths[0].size() - 2), "#0");
    EXPECT_EQ(paths[1].substr(paths[1].size() - 2), "#1");

    struct Expect {
        uint16_t vendor, product, version, usagePage, usage, input, output, feature;
    };
    const Expect expected[5] = {
        {0x046D, 0xC31C, 0x6400, 0x0001, 0x0006, 9, 0, 0},
        {0x046D, 0xC31C, 0x6400, 0x000C, 0x0001, 3, 0, 0},
        {0xF0A5, 0x0090, 0x0140, 0x0001, 0x0002, 8, 0, 0},
        {0xF0A5, 0x0090, 0x0140, 0x000D, 0x0002, 10, 0, 2},
        {0xF0A5, 0x0090, 0x0140, 0xFF00, 0x0005, 0, 0, 17},
    };
    for (size_t i = 0; i < 5; ++i) {
        SCOPED_TRACE(paths[i]);
        HidInterfaceInfo o;
        const PlatResult opened = OpenAndRead(paths[i], &o);
        ASSERT_TRUE(plat_succeeded(opened)) << "system code " << opened.systemCode;
        EXPECT_EQ(std::memcmp(&o, &listed[i], sizeof o), 0) << "described as listed";
        EXPECT_EQ(o.vendorId, expected[i].vendor);
        EXPECT_EQ(o.productId, expected[i].product);
        EXPECT_EQ(o.versionNumber, expected[i].version);
        EXPECT_EQ(o.usagePage, expected[i].usagePage);
        EXPECT_EQ(o.usage, expected[i].usage);
        EXPECT_EQ(o.outputReportLength, expected[i].output);
        const HidTopCollection top = CollectionOf(paths[i]);
        EXPECT_EQ(top.inputReportByteLength, expected[i].input);
        EXPECT_EQ(top.featureReportByteLength, expected[i].feature);
    }

    // The core's finders over this platform: the match table wants the Pen collection, the
    // search by ID takes the first collection of the product.
    HidDevice device = ClosedHidDevice();
    ASSERT_EQ(FindSensorDevice(&device), 1);
    EXPECT_EQ(device.info.usagePage, 0x000D);
    EXPECT_EQ(device.info.usage, 0x0002);
    CloseHidDevice(&device);
    ASSERT_EQ(FindHidDeviceById(&device, 0xF0A5, 0x0090), 1);
    EXPECT_EQ(device.info.usagePage, 0x0001);
    CloseHidDevice(&device);
    EXPECT_EQ(device.connection, nullptr);
}

TEST_F(HidrawPlatformTest, OpenRefusesPathsThatNameNoCollection) {
    Start(QuickConfig(0));
    HidConnection* connection = nullptr;
    HidInterfaceInfo info;
    // One collection only.
    ExpectFailure(plat_hid_open((Node() + "#1").c_str(), &connection, &info),
                  PlatStatus::NotFound, ENODEV);
    EXPECT_EQ(connection, nullptr);
    ExpectFailure(plat_hid_open("/dev/hidraw999", &connection, &info), PlatStatus::NotFound,
                  ENOENT);
    EXPECT_FALSE(plat_succeeded(plat_hid_open("/dev/hidraw0#x", &connection, &info)));
    ASSERT_TRUE(plat_succeeded(plat_hid_open(Node().c_str(), &connection, &info)));
    plat_hid_close(connection);
}

TEST_F(HidrawPlatformTest, IdentifiesFamilyOneWithItsReportWords) {
    SimSensorConfig config = QuickConfig(1);
    config.normalVersion = 0x0139;
    config.report5Word = 0x0180;
    config.report6Word = 0x0001;
    Start(config);
    SensorInfo info;
    EXPECT_EQ(IdentifySensor(&info), 1);
    EXPECT_EQ(info.kind, kSensorFamily1);
    EXPECT_EQ(info.firmwareVersion, 0x0139);
    EXPECT_EQ(info.report5Word, 0x0180);
    EXPECT_EQ(info.report6Word, 0x0001);
    // The reads reached the model as 9-byte gets of reports 5 and 6, in this order.
    SimSensor* model = emulated_sensor_lock(sensor);
    std::vector<uint8_t> ids;
    for (const SimTranscriptEntry& e : model->transcript) {
        if (e.kind == kSimEventGetFeature) {
            EXPECT_EQ(e.length, 9u);
            ids.push_back(e.data[0]);
        }
        EXPECT_NE(e.kind, kSimEventSetFeature) << "identification sends nothing";
    }
    emulated_sensor_unlock(sensor);
    EXPECT_EQ(ids, (std::vector<uint8_t>{5, 6}));
}

TEST_F(HidrawPlatformTest, SwitchRequestReEnumeratesUnderANewNodeName) {
    Start(QuickConfig(0));
    const std::string normalNode = Node();
    HidDevice device = ClosedHidDevice();
    ASSERT_EQ(FindSensorDevice(&device), 1);
    const uint8_t request[2] = {0x02, 0x02};
    ASSERT_TRUE(plat_succeeded(plat_hid_set_feature(device.connection, request, 2)));
    ASSERT_EQ(emulated_sensor_wait_for_product(sensor, kProductBootLoader, 2000), 1);
    EXPECT_NE(Node(), normalNode);
    // The handle of the vanished node fails as on an unplugged device.
    uint8_t reply[kFlashReportLength] = {2};
    const PlatResult got = plat_hid_get_feature(device.connection, reply, sizeof reply);
    ExpectFailure(got, PlatStatus::Gone, ENODEV);
    char text[256];
    ASSERT_GT(plat_error_text(got.systemCode, text, sizeof text), 0u);
    EXPECT_STREQ(text, "No such device\n");
    CloseHidDevice(&device);

    // The boot loader: found by ID, its version from bcdDevice, its reports 137 bytes.
    ASSERT_EQ(FindHidDeviceById(&device, kSensorVendorId, kProductBootLoader), 1);
    EXPECT_EQ(device.info.versionNumber, 0x0011);
    EXPECT_EQ(device.info.usagePage, 0x000D);
    EXPECT_EQ(device.info.usage, 0x0001);
    EXPECT_EQ(CollectionOf(Node()).featureReportByteLength, 137);
    EXPECT_EQ(device.info.outputReportLength, kSimDefaultBootOutputLength);

    // One acknowledged write command through the ioctls.
    FlashCommand command;
    std::memset(&command, 0, sizeof command);
    command.reportId = 1;
    command.opcode = kFlashOpWrite;
    command.sequence = 1;
    command.address[1] = 0x40;  // 0x4000
    command.length = 0x10;
    for (int i = 0; i < 128; ++i) command.data[i] = static_cast<uint8_t>(i);
    // The flash holds old firmware: erase block 0 first so the program takes.
    FlashCommand erase;
    std::memset(&erase, 0, sizeof erase);
    erase.reportId = 1;
    FlashReply answer;
    ASSERT_EQ(ExchangeCommand(&device, &erase, 0, "Module Name : test", &answer), ExchangeResult::Replied);
    ASSERT_EQ(ExchangeCommand(&device, &command, 0, "Module Name : test", &answer), ExchangeResult::Replied);
    EXPECT_TRUE(IsAcknowledged(&command, &answer));
    CloseHidDevice(&device);
    SimSensor* model = emulated_sensor_lock(sensor);
    uint8_t flash[128];
    sim_sensor_read_flash(model, 0x4000, flash, sizeof flash);
    emulated_sensor_unlock(sensor);
    EXPECT_EQ(std::memcmp(flash, command.data, 128), 0);
}

TEST_F(HidrawPlatformTest, OutputReportExitOfAnOldBootLoaderBringsTheSensorBack) {
    SimSensorConfig config = QuickConfig(0);
    config.startInBootLoader = 1;
    config.bootLoaderVersion = 12;
    config.flashContent = kSimFlashOldFirmware;  // marked valid: it comes back in normal mode
    Start(config);
    HidDevice device = ClosedHidDevice();
    ASSERT_EQ(FindHidDeviceById(&device, kSensorVendorId, kProductBootLoader), 1);
    EXPECT_TRUE(ExitFlashMode(&device));
    CloseHidDevice(&device);
    ASSERT_EQ(emulated_sensor_wait_for_product(sensor, kProductFamily0, 2000), 1);
    SimSensor* model = emulated_sensor_lock(sensor);
    EXPECT_EQ(model->counters.exits, 1u);
    bool sawWrite = false;
    for (const SimTranscriptEntry& e : model->transcript) {
        if (e.kind != kSimEventWriteOutput) continue;
        sawWrite = true;
        EXPECT_EQ(e.length, kSimDefaultBootOutputLength);
        EXPECT_EQ(e.data[0], 0x00);
        EXPECT_EQ(e.data[1], 0x03);
    }
    emulated_sensor_unlock(sensor);
    EXPECT_TRUE(sawWrite);
}

TEST_F(HidrawPlatformTest, OutputReportThatStaysPendingFailsAfterTheBound) {
    SimSensorConfig config = QuickConfig(0);
    config.startInBootLoader = 1;
    config.bootLoaderVersion = 12;
    config.faults.outputWriteHangs = kSimEveryTime;
    Start(config);
    HidDevice device = ClosedHidDevice();
    ASSERT_EQ(FindHidDeviceById(&device, kSensorVendorId, kProductBootLoader), 1);
    uint8_t report[kSimDefaultBootOutputLength] = {0x00, 0x03};
    const auto started = std::chrono::steady_clock::now();
    const PlatResult written =
        plat_hid_write_output(device.connection, report, sizeof report, 300);
    const auto waited = std::chrono::steady_clock::now() - started;
    ExpectFailure(written, PlatStatus::TimedOut, ETIMEDOUT);
    // The bound is kept: not returned before it, and not held long after it.
    EXPECT_GE(waited, std::chrono::milliseconds(300));
    EXPECT_LT(waited, std::chrono::milliseconds(3000));
    CloseHidDevice(&device);
    SimSensor* model = emulated_sensor_lock(sensor);
    EXPECT_EQ(model->counters.outputHangs, 1u);
    EXPECT_EQ(model->counters.exits, 0u);
    emulated_sensor_unlock(sensor);
}

// With no record of the sensors met (the test process's own, see isolate_program_state),
// only the boot loader counts as met: Linux installs no driver for it.
TEST_F(HidrawPlatformTest, OnlyTheBootLoaderCountsAsMetWithoutARecord) {
    unlink("/var/lib/zorflash/products-met");
    unlink((std::string(std::getenv("HOME")) + "/.local/state/zorflash/products-met").c_str());
    const uint16_t products[3] = {kProductFamily0, kProductFamily1, kProductBootLoader};
    bool met[3] = {true, true, false};  // each the other way: every entry must be written
    plat_usb_products_met(kSensorVendorId, products, 3, met);
    EXPECT_EQ(std::vector<uint8_t>(met, met + 3), (std::vector<uint8_t>{0, 0, 1}));
}

TEST_F(HidrawPlatformTest, DiagnosticLinesEndTheirLineOnStandardError) {
    StderrCapture capture;
    BeginCapture(&capture);
    plat_debug_output("---------- < Module Name : flash_write > ---------\n050:Not ACK");
    plat_debug_output("---------- < Module Name : flash_write > ---------\n010No such device\n");
    const std::string text = EndCapture(&capture);
    EXPECT_EQ(text,
              "---------- < Module Name : flash_write > ---------\n050:Not ACK\n"
              "---------- < Module Name : flash_write > ---------\n010No such device\n");
}

// A user without access to the sensor's node (no udev rule installed): the open fails with
// EACCES, the find goes on and finds nothing, and one diagnostic line, once per node, names
// the node and the rule. The test runs itself again as user "nobody" for the opens (root
// opens everything); the emulated node is a pseudo-terminal that only root may open.
TEST_F(HidrawPlatformTest, SensorNodeWithoutPermissionIsNamedOnceWithTheRule) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to run a part as another user";
    Start(QuickConfig(0));
    const char* root = std::getenv("UMOCKDEV_DIR");
    ASSERT_NE(root, nullptr);
    ASSERT_EQ(chmod(root, 0755), 0);  // sysfs readable by everyone, as on a real machine
    // The node as udev leaves it without our rule: root's alone. (umockdev's node is a link
    // to a pseudo-terminal; the mode of that is what open() checks.)
    const std::string link = std::string(root) + Node();
    char target[256];
    const ssize_t t = readlink(link.c_str(), target, sizeof target - 1);
    ASSERT_GT(t, 0) << link;
    target[t] = '\0';
    ASSERT_EQ(chmod(target, 0600), 0) << target;
    // umockdev's ioctl socket for the node must stay reachable, or its preload gives up
    // before the open is even tried.
    ASSERT_EQ(chmod((std::string(root) + "/ioctl" + Node()).c_str(), 0777), 0);
    const auto changed = std::chrono::steady_clock::now();  // the chmod above: the node's ctime
    char self[512];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    ASSERT_GT(n, 0);
    self[n] = '\0';
    const std::vector<std::string> child = {self, "--gtest_filter=PermissionChild.*"};
    const std::vector<std::string> env = {"ZORFLASH_PERMISSION_NODE=" + Node()};

    // Just changed, as when udev is still applying its rule to a new node: not named yet.
    ProgramRun run = run_program(child, env, 60);
    EXPECT_EQ(run.exitCode, 0) << run.out;
    ASSERT_LT(std::chrono::steady_clock::now() - changed, std::chrono::milliseconds(2000))
        << "the machine was too slow to see a node that just changed";
    EXPECT_EQ(run.err, "");

    // Still not openable once the node has settled: named, once.
    std::this_thread::sleep_until(changed + std::chrono::milliseconds(2200));
    run = run_program(child, env, 60);
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_EQ(run.err, "---------- < Module Name : OpenHidDevice > ---------\n"
                       "No permission to open " + Node() + " (sensor f0a5:0090): install the udev "
                       "rule 70-zorflash.rules and plug the sensor in again\n");
}

// The part of the test above that runs as "nobody"; does nothing in a normal run.
TEST(PermissionChild, OpensAsAnotherUser) {
    const char* node = std::getenv("ZORFLASH_PERMISSION_NODE");
    if (node == nullptr) GTEST_SKIP() << "only run by SensorNodeWithoutPermissionIsNamedOnceWithTheRule";
    ASSERT_EQ(setgid(65534), 0);
    ASSERT_EQ(setuid(65534), 0);
    linux_set_diag_sink(kDiagSinkStderr);
    static DiagnosticLog log = {nullptr, nullptr};
    StartDiagnosticLog(&log);
    HidConnection* connection = nullptr;
    HidInterfaceInfo info;
    ExpectFailure(plat_hid_open(node, &connection, &info), PlatStatus::NoAccess, EACCES);
    HidDevice device = ClosedHidDevice();
    EXPECT_EQ(FindSensorDevice(&device), 0);  // skipped like any node it cannot open
    EXPECT_EQ(FindHidDeviceById(&device, kSensorVendorId, kProductFamily0), 0);
    EXPECT_EQ(device.connection, nullptr);
}

TEST(LinuxSystemTest, ErrorTextsAndTicks) {
    char text[256];
    EXPECT_EQ(plat_error_text(EPIPE, text, sizeof text), std::strlen("Broken pipe\n"));
    EXPECT_STREQ(text, "Broken pipe\n");
    EXPECT_EQ(plat_error_text(4242, text, sizeof text), 0u);  // no text: the log's fallback
    EXPECT_EQ(plat_error_text(EPIPE, text, 5), 0u);           // does not fit: none
    const uint32_t before = plat_tick_count();
    plat_sleep(30);
    const uint32_t elapsed = plat_tick_count() - before;
    EXPECT_GE(elapsed, 30u);
    EXPECT_LT(elapsed, 2000u);
}

}  // namespace
