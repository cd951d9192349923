// The sim platform through the seam functions of hid.h, system.h and records.h and the control header.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/hid.h"
#include "platform/records.h"
#include "platform/sim/sim_control.h"
#include "platform/system.h"
#include "sim_test_support.h"

namespace {

// The environment of this process (the Windows C runtime has no setenv).
void SetEnv(const char* name, const char* value) {
#ifdef _WIN32
    _putenv_s(name, value != nullptr ? value : "");
#else
    if (value != nullptr) {
        setenv(name, value, 1);
    } else {
        unsetenv(name);
    }
#endif
}

struct Listed {
    std::string path;
    int openable;
    HidInterfaceInfo info;
};

// Every listed interface, opened and closed again; an open describes it as the list does.
std::vector<Listed> Scan() {
    std::vector<Listed> out;
    HidInterfaceList* list = plat_hid_list_present();
    char path[kHidPathCapacity];
    HidInterfaceInfo info;
    for (uint32_t i = 0; plat_hid_list_entry(list, i, path, sizeof path, &info) == kHidListFound; ++i) {
        Listed l{path, 0, info};
        HidConnection* h = nullptr;
        HidInterfaceInfo opened{};
        if (plat_succeeded(plat_hid_open(path, &h, &opened))) {
            l.openable = 1;
            EXPECT_EQ(0, std::memcmp(&opened, &info, sizeof info)) << "described as listed";
            plat_hid_close(h);
        }
        out.push_back(l);
    }
    plat_hid_list_release(list);
    return out;
}

// Opens the first interface of `product` (any usage); null when there is none.
HidConnection* OpenProduct(uint16_t product, HidInterfaceInfo* info = nullptr) {
    for (const Listed& l : Scan()) {
        if (l.openable && l.info.vendorId == 0xF0A5 && l.info.productId == product) {
            HidConnection* h = nullptr;
            HidInterfaceInfo opened;
            EXPECT_TRUE(plat_succeeded(
                plat_hid_open(l.path.c_str(), &h, info != nullptr ? info : &opened)));
            return h;
        }
    }
    return nullptr;
}

// The reply's status byte; -1 when the set failed, -2 when the get did, with the failed
// call's result in `failure`.
int Exchange(HidConnection* h, const Report& command, Report* reply,
             PlatResult* failure = nullptr) {
    PlatResult result =
        plat_hid_set_feature(h, command.data(), static_cast<uint32_t>(command.size()));
    int answer = -1;
    if (plat_succeeded(result)) {
        *reply = ReplyRequest();
        result = plat_hid_get_feature(h, reply->data(), static_cast<uint32_t>(reply->size()));
        answer = plat_succeeded(result) ? (*reply)[3] : -2;
    }
    if (failure != nullptr) *failure = result;
    return answer;
}

// Asserts that `result` is a failure of `status` with the system code `code`.
void ExpectFailure(PlatResult result, PlatStatus status, uint32_t code) {
    EXPECT_EQ(static_cast<int>(status), static_cast<int>(result.status));
    EXPECT_EQ(code, result.systemCode);
}

class SimPlatform : public ::testing::Test {
  protected:
    void SetUp() override { sim_reset_default(); }
    void TearDown() override {
        SimCounters c = sim_counters();
        EXPECT_EQ(0u, c.openHandles) << "a handle leaked";
        EXPECT_EQ(c.listCreates, c.listReleases) << "an interface list leaked";
        EXPECT_EQ(0u, c.badCloses);
    }
};

// ---- Enumeration -------------------------------------------------------------------------

TEST_F(SimPlatform, DefaultMachineListsMouseSensorKeyboardInOrder) {
    std::vector<Listed> scan = Scan();
    ASSERT_EQ(3u, scan.size());
    const uint16_t expect[3][4] = {
        {0x046D, 0xC077, 0x0001, 0x0002},
        {0xF0A5, 0x0090, 0x000D, 0x0002},
        {0x045E, 0x07A5, 0x0001, 0x0006},
    };
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(expect[i][0], scan[i].info.vendorId) << i;
        EXPECT_EQ(expect[i][1], scan[i].info.productId) << i;
        EXPECT_EQ(expect[i][2], scan[i].info.usagePage) << i;
        EXPECT_EQ(expect[i][3], scan[i].info.usage) << i;
    }
    EXPECT_EQ(0x0140, scan[1].info.versionNumber);
    EXPECT_EQ(0, scan[1].info.outputReportLength);
    EXPECT_EQ(3u, sim_present_interface_count());
    // Paths are Windows-like, lower case, and unique.
    EXPECT_EQ(0u, scan[1].path.find("\\\\?\\hid#vid_f0a5&pid_0090"));
    EXPECT_NE(scan[0].path, scan[2].path);
    EXPECT_EQ(scan[1].path, Scan()[1].path) << "stable between scans";
}

TEST_F(SimPlatform, ConfiguredOrderWithLookalikesAndExtraCollections) {
    SimScenario s;
    s.others[0] = {0x1234, 0x0090, 0x0100, {0x000D, 0x0002, 10, 0, 2, 1}};  // other vendor
    s.others[1] = {0xF0A5, 0x00E6, 0x0100, {0x000D, 0x0002, 10, 0, 9, 1}};  // wrong usage page
    s.otherCount = 2;
    s.sensorPosition = 5;  // beyond the others: listed last
    s.sensor.extraBefore[0] = {0x0001, 0x0002, 5, 0, 0, 1};
    s.sensor.extraBeforeCount = 1;
    s.sensor.extraAfter[0] = {0x000D, 0x0001, 20, 0, 0, 1};
    s.sensor.extraAfterCount = 1;
    sim_reset(s);
    std::vector<Listed> scan = Scan();
    ASSERT_EQ(5u, scan.size());
    EXPECT_EQ(0x1234, scan[0].info.vendorId);
    EXPECT_EQ(0x00E6, scan[1].info.productId);
    EXPECT_EQ(0x000D, scan[1].info.usagePage);
    const uint16_t sensorUsages[3][2] = {{0x0001, 0x0002}, {0x000D, 0x0002}, {0x000D, 0x0001}};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(0xF0A5, scan[2 + i].info.vendorId);
        EXPECT_EQ(0x0090, scan[2 + i].info.productId);
        EXPECT_EQ(sensorUsages[i][0], scan[2 + i].info.usagePage) << i;
        EXPECT_EQ(sensorUsages[i][1], scan[2 + i].info.usage) << i;
    }
}

TEST_F(SimPlatform, NoSensorAndNoInterfaces) {
    SimScenario s;
    s.sensorAttached = 0;
    s.otherCount = 0;
    sim_reset(s);
    HidInterfaceList* list = plat_hid_list_present();
    ASSERT_NE(nullptr, list);
    char path[kHidPathCapacity];
    HidInterfaceInfo info;
    EXPECT_EQ(kHidListEnd, plat_hid_list_entry(list, 0, path, sizeof path, &info));
    plat_hid_list_release(list);
    EXPECT_EQ(kHidListEnd, plat_hid_list_entry(nullptr, 0, path, sizeof path, &info));
}

TEST_F(SimPlatform, ListingThatFails) {
    SimScenario s;
    s.listFails = 1;
    sim_reset(s);
    EXPECT_EQ(nullptr, plat_hid_list_present());
}

struct UnreadableCase {
    int32_t index;
    uint32_t times;
    int expect[3][3];  // per scan, per index 0..2: the answer of plat_hid_list_entry
};

class UnreadablePath : public SimPlatform, public ::testing::WithParamInterface<UnreadableCase> {};

TEST_P(UnreadablePath, AnswersUnreadableAtTheIndexAsOftenAsConfigured) {
    SimScenario s;
    s.pathUnreadableIndex = GetParam().index;
    s.pathUnreadableTimes = GetParam().times;
    sim_reset(s);
    char path[kHidPathCapacity];
    HidInterfaceInfo info;
    uint32_t failures = 0;
    for (int scan = 0; scan < 3; ++scan) {
        HidInterfaceList* list = plat_hid_list_present();
        for (uint32_t i = 0; i < 3; ++i) {
            int answer = plat_hid_list_entry(list, i, path, sizeof path, &info);
            EXPECT_EQ(GetParam().expect[scan][i], answer) << scan << "/" << i;
            failures += answer == kHidListUnreadable;
        }
        plat_hid_list_release(list);
    }
    EXPECT_EQ(failures, sim_counters().unreadablePaths);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, UnreadablePath,
    ::testing::Values(UnreadableCase{1, kSimEveryTime, {{1, -1, 1}, {1, -1, 1}, {1, -1, 1}}},
                      UnreadableCase{0, 1, {{-1, 1, 1}, {1, 1, 1}, {1, 1, 1}}},
                      UnreadableCase{2, 2, {{1, 1, -1}, {1, 1, -1}, {1, 1, 1}}}));

TEST_F(SimPlatform, PathBufferTooShortIsAnUnreadablePath) {
    HidInterfaceList* list = plat_hid_list_present();
    char path[16];
    HidInterfaceInfo info;
    EXPECT_EQ(kHidListUnreadable, plat_hid_list_entry(list, 0, path, sizeof path, &info));
    plat_hid_list_release(list);
}

// ---- Opening -------------------------------------------------------------------------------

TEST_F(SimPlatform, UnopenableInterfacesFailWithAccessDenied) {
    SimScenario s;
    s.others[0].collection.openable = 0;
    s.sensor.faults.normalUnopenable = 1;
    sim_reset(s);
    std::vector<Listed> scan = Scan();
    ASSERT_EQ(3u, scan.size());
    EXPECT_EQ(0, scan[0].openable);
    EXPECT_EQ(0, scan[1].openable);
    EXPECT_EQ(1, scan[2].openable);
    HidConnection* h = reinterpret_cast<HidConnection*>(uintptr_t{1234});
    HidInterfaceInfo info;
    ExpectFailure(plat_hid_open(scan[1].path.c_str(), &h, &info), PlatStatus::NoAccess, 5);
    EXPECT_EQ(nullptr, h);
    SimCounters c = sim_counters();
    EXPECT_EQ(3u, c.openFailures);
    EXPECT_EQ(1u, c.opens);
    EXPECT_EQ(1u, c.closes);
}

TEST_F(SimPlatform, UnknownPathFailsWithFileNotFound) {
    HidConnection* h = nullptr;
    HidInterfaceInfo info;
    ExpectFailure(plat_hid_open("\\\\?\\hid#vid_f0a5&pid_0090#nothing", &h, &info),
                  PlatStatus::NotFound, 2);
}

TEST_F(SimPlatform, HandlesAreCountedAndADoubleCloseIsSeen) {
    HidConnection* a = OpenProduct(0x0090);
    HidConnection* b = OpenProduct(0x0090);
    ASSERT_NE(nullptr, a);
    ASSERT_NE(nullptr, b);
    EXPECT_NE(a, b);
    EXPECT_EQ(2u, sim_counters().openHandles);
    plat_hid_close(a);
    plat_hid_close(b);
    EXPECT_EQ(0u, sim_counters().openHandles);
    plat_hid_close(a);
    EXPECT_EQ(1u, sim_counters().badCloses);
    // A handle value is not handed out again: closing a stale one after its slot was
    // reused is still a bad close, and the new handle stays open.
    HidConnection* c = OpenProduct(0x0090);
    EXPECT_NE(a, c);
    EXPECT_NE(b, c);
    plat_hid_close(a);
    EXPECT_EQ(2u, sim_counters().badCloses);
    EXPECT_EQ(1u, sim_counters().openHandles);
    plat_hid_close(c);
    sim_reset_default();  // the deliberate bad closes are not a fault of TearDown's
}

TEST_F(SimPlatform, CallsOnAnInvalidHandleFail) {
    const uint8_t request[2] = {0x02, 0x02};
    ExpectFailure(plat_hid_set_feature(nullptr, request, 2), PlatStatus::IoError, 6);
    uint8_t report[9] = {0x05};
    HidConnection* neverOpened = reinterpret_cast<HidConnection*>(uintptr_t{0x104});
    ExpectFailure(plat_hid_get_feature(neverOpened, report, 9), PlatStatus::IoError, 6);
}

TEST_F(SimPlatform, OtherDevicesAnswerNoFeatureReports) {
    std::vector<Listed> scan = Scan();
    HidConnection* h = nullptr;
    ASSERT_TRUE(plat_succeeded(plat_hid_open(scan[0].path.c_str(), &h, &scan[0].info)));
    uint8_t request[9] = {0x05};
    ExpectFailure(plat_hid_get_feature(h, request, 9), PlatStatus::IoError, 87);
    plat_hid_close(h);
    EXPECT_EQ(0u, sim_transcript_size());
}

// ---- Switch to the boot loader in virtual time -----------------------------------------------

TEST_F(SimPlatform, SwitchThenAbsentThenBootLoaderAfterTheDelay) {
    SimScenario s;
    s.sensor.bootAppearDelayMs = 5000;
    sim_reset(s);
    HidConnection* h = OpenProduct(0x0090);
    ASSERT_NE(nullptr, h);
    uint32_t start = plat_tick_count();
    EXPECT_EQ(0x10000u, start);
    const uint8_t request[2] = {0x02, 0x02};
    ASSERT_TRUE(plat_succeeded(plat_hid_set_feature(h, request, 2)));
    EXPECT_EQ(kSimModeAbsent, sim_mode());
    // The open handle belongs to an appearance that is gone.
    uint8_t report[2] = {0x02};
    ExpectFailure(plat_hid_get_feature(h, report, 2), PlatStatus::Gone, 1167);
    ExpectFailure(plat_hid_set_feature(h, request, 2), PlatStatus::Gone, 1167);
    plat_hid_close(h);

    plat_sleep(2000);
    EXPECT_EQ(2000u, plat_tick_count() - start);
    EXPECT_EQ(nullptr, OpenProduct(0x0094));
    plat_sleep(2999);
    EXPECT_EQ(nullptr, OpenProduct(0x0094));
    plat_sleep(1);
    EXPECT_EQ(5000u, plat_tick_count() - start);
    HidInterfaceInfo info;
    HidConnection* boot = OpenProduct(0x0094, &info);
    ASSERT_NE(nullptr, boot);
    EXPECT_EQ(0x0011, info.versionNumber);
    plat_hid_close(boot);
    EXPECT_EQ(kSimModeBootLoader, sim_mode());
    EXPECT_EQ(5000u, sim_now_ms());
    SimCounters c = sim_counters();
    EXPECT_EQ(3u, c.sleeps);
    EXPECT_EQ(5000u, c.sleptMs);
}

TEST_F(SimPlatform, AStalePathDoesNotOpenAfterReEnumeration) {
    SimScenario s;
    s.sensor.startInBootLoader = 1;
    sim_reset(s);
    std::string before = Scan()[1].path;
    HidConnection* h = nullptr;
    HidInterfaceInfo info;
    ASSERT_TRUE(plat_succeeded(plat_hid_open(before.c_str(), &h, &info)));
    // The exit command.
    ASSERT_TRUE(plat_succeeded(plat_hid_set_feature(h, BootCommand(3, 0, 0, 0).data(), 137)));
    plat_hid_close(h);
    plat_sleep(s.sensor.returnDelayMs);
    EXPECT_EQ(kSimModeNormal, sim_mode());
    ExpectFailure(plat_hid_open(before.c_str(), &h, &info), PlatStatus::NotFound, 2);
}

// ---- A whole update through the seam ---------------------------------------------------------

TEST_F(SimPlatform, UpdateThroughTheSeamComesBackWithTheNewVersion) {
    SimScenario s;
    s.sensor.startInBootLoader = 1;
    s.sensor.returnDelayMs = 4000;
    sim_reset(s);
    HidConnection* h = OpenProduct(0x0094);
    ASSERT_NE(nullptr, h);
    Report reply;
    for (uint8_t block = 0; block < 5; ++block) {
        ASSERT_EQ(0, Exchange(h, EraseCommand(block), &reply)) << int(block);
    }
    std::vector<std::array<uint8_t, 128>> image;
    for (uint8_t i = 0; i < 3; ++i) image.push_back(Pattern(static_cast<uint8_t>(0x40 + i)));
    for (uint8_t i = 0; i < 3; ++i) {
        ASSERT_EQ(0, Exchange(h, BootCommand(1, i + 1, 0x4000 + 128 * i, 0x10, image[i].data(), 128), &reply));
    }
    auto mark = MarkData();
    ASSERT_EQ(0, Exchange(h, BootCommand(1, 1, kSimMarkAddress, 1, mark.data(), 128), &reply));
    ASSERT_EQ(0, Exchange(h, BootCommand(1, 2, kSimSecondMarkAddress, 1, mark.data(), 128), &reply));
    for (uint8_t i = 0; i < 3; ++i) {
        ASSERT_EQ(0, Exchange(h, BootCommand(2, i + 1, 0x4000 + 128 * i, 0x10, image[i].data(), 128), &reply));
    }
    ASSERT_EQ(0, Exchange(h, BootCommand(2, 1, kSimMarkAddress, 1, mark.data(), 128), &reply));
    uint64_t exitAt = sim_now_ms();
    ASSERT_TRUE(plat_succeeded(plat_hid_set_feature(h, BootCommand(3, 0, 0, 0).data(), 137)));
    plat_hid_close(h);

    std::vector<uint8_t> flash(3 * 128);
    sim_flash_read(0x4000, flash.data(), static_cast<uint32_t>(flash.size()));
    for (size_t i = 0; i < flash.size(); ++i) ASSERT_EQ(image[i / 128][i % 128], flash[i]) << i;

    plat_sleep(3999);
    EXPECT_EQ(nullptr, OpenProduct(0x0090));
    plat_sleep(1);
    HidInterfaceInfo info;
    HidConnection* normal = OpenProduct(0x0090, &info);
    ASSERT_NE(nullptr, normal);
    EXPECT_EQ(0x0610, info.versionNumber);
    EXPECT_EQ(0x0610, sim_sensor_version());
    plat_hid_close(normal);

    // The transcript: 14 exchanges, the exit, and the two mode changes.
    std::vector<SimTranscriptEntry> t = sim_transcript();
    ASSERT_EQ(14u * 2 + 1 + 2, t.size());
    Report expectFirst = EraseCommand(0);
    EXPECT_EQ(kSimEventSetFeature, t[0].kind);
    EXPECT_EQ(137u, t[0].length);
    EXPECT_TRUE(std::equal(expectFirst.begin(), expectFirst.end(), t[0].data));
    EXPECT_EQ(kSimEventGetFeature, t[1].kind);
    EXPECT_EQ(kSimFromDevice, t[1].direction);
    const uint8_t reply0[4] = {0x02, 0x00, 0x00, 0x00};
    EXPECT_TRUE(std::equal(reply0, reply0 + 4, t[1].data));
    Report markCommand = BootCommand(1, 1, kSimMarkAddress, 1, mark.data(), 128);
    EXPECT_TRUE(std::equal(markCommand.begin(), markCommand.end(), t[16].data));
    EXPECT_EQ(0xF8, t[16].data[3]);
    EXPECT_EQ(0x3F, t[16].data[4]);
    EXPECT_EQ(0x02, t[16].data[5]);
    const SimTranscriptEntry& exit = t[28];
    EXPECT_EQ(0x01, exit.data[0]);
    EXPECT_EQ(0x03, exit.data[1]);
    EXPECT_EQ(exitAt, exit.timeMs);
    EXPECT_EQ(kSimEventModeChange, t[29].kind);
    EXPECT_EQ(kSimModeAbsent, t[29].toMode);
    EXPECT_EQ(exitAt, t[29].timeMs);
    EXPECT_EQ(kSimModeNormal, t[30].toMode);
    EXPECT_EQ(exitAt + 4000, t[30].timeMs);
    EXPECT_EQ(0x0090, t[30].productId);
    for (const SimTranscriptEntry& e : t) EXPECT_EQ(kSimOk, e.outcome);
    EXPECT_EQ(0u, sim_transcript_dropped());
}

TEST_F(SimPlatform, PendingOutputWriteIsCancelledAfterItsWait) {
    SimScenario s;
    s.sensor.startInBootLoader = 1;
    s.sensor.bootLoaderVersion = 12;
    s.sensor.faults.outputWriteHangs = kSimEveryTime;
    sim_reset(s);
    HidConnection* h = OpenProduct(0x0094);
    ASSERT_NE(nullptr, h);
    std::vector<uint8_t> out(65, 0);
    out[1] = 0x03;
    uint32_t start = plat_tick_count();
    ExpectFailure(plat_hid_write_output(h, out.data(), 65, 2000), PlatStatus::TimedOut, 995);
    EXPECT_EQ(2000u, plat_tick_count() - start);
    EXPECT_EQ(kSimModeBootLoader, sim_mode());
    EXPECT_EQ(1u, sim_counters().outputCancels);
    std::vector<SimTranscriptEntry> t = sim_transcript();
    ASSERT_EQ(1u, t.size());
    EXPECT_EQ(kSimEventWriteOutput, t[0].kind);
    EXPECT_EQ(65u, t[0].length);
    EXPECT_EQ(kSimErrIoPending, t[0].outcome);
    plat_hid_close(h);
}

TEST_F(SimPlatform, OutputExitOfAnOldBootLoader) {
    SimScenario s;
    s.sensor.startInBootLoader = 1;
    s.sensor.bootLoaderVersion = 15;
    sim_reset(s);
    HidInterfaceInfo info;
    HidConnection* h = OpenProduct(0x0094, &info);
    ASSERT_EQ(65, info.outputReportLength);
    std::vector<uint8_t> out(info.outputReportLength, 0);
    out[1] = 0x03;
    uint32_t start = plat_tick_count();
    EXPECT_TRUE(
        plat_succeeded(plat_hid_write_output(h, out.data(), info.outputReportLength, 2000)));
    EXPECT_EQ(0u, plat_tick_count() - start);
    EXPECT_EQ(kSimModeAbsent, sim_mode());
    plat_hid_close(h);
}

TEST_F(SimPlatform, DeviceGoneMakesEveryLaterCallFail) {
    SimScenario s;
    s.sensor.startInBootLoader = 1;
    SimFaultRule rule;
    rule.kind = kSimFaultDeviceGone;
    rule.opcode = 1;
    rule.matchAddress = 1;
    rule.address = 0x8000;
    ASSERT_EQ(0, sim_scenario_add_fault(&s, rule));
    sim_reset(s);
    HidConnection* h = OpenProduct(0x0094);
    Report reply;
    auto data = Pattern(3);
    EXPECT_EQ(0, Exchange(h, BootCommand(1, 1, 0x7F80, 0x10, data.data(), 128), &reply));
    PlatResult failure{};
    EXPECT_EQ(-1, Exchange(h, BootCommand(1, 2, 0x8000, 0x10, data.data(), 128), &reply, &failure));
    ExpectFailure(failure, PlatStatus::Gone, 1167);
    ExpectFailure(plat_hid_get_feature(h, reply.data(), 137), PlatStatus::Gone, 1167);
    plat_hid_close(h);
    plat_sleep(1000000);
    EXPECT_EQ(2u, sim_present_interface_count());
    EXPECT_EQ(kSimModeGone, sim_mode());
    EXPECT_EQ(1u, sim_sensor_counters().ruleFired[0]);
}

// ---- USB products met ---------------------------------------------------------------------------

struct MetCase {
    const char* name;
    SimScenario scenario;
    uint16_t vendorId;
    std::vector<uint16_t> asked;
    std::vector<uint8_t> expect;
    const char* record;  // as --info lists it
};

SimScenario WithProductsMet(std::vector<uint16_t> products) {
    SimScenario s;
    sim_scenario_set_products_met(&s, products.data(), static_cast<uint32_t>(products.size()));
    return s;
}

TEST_F(SimPlatform, ProductsMetAnswerFromTheScenario) {
    const MetCase cases[] = {
        {"default", SimScenario(), 0xF0A5, {0x0090, 0x00E6, 0x0094}, {1, 0, 1},
         "046d:c077, f0a5:0090, f0a5:0094"},
        {"another vendor's product", SimScenario(), 0x046D, {0xC077, 0x0090}, {1, 0},
         "046d:c077, f0a5:0090, f0a5:0094"},
        {"family 1", sim_scenario_for_family(1), 0xF0A5, {0x0090, 0x00E6, 0x0094}, {0, 1, 1},
         "046d:c077, f0a5:00e6, f0a5:0094"},
        {"an explicit list", WithProductsMet({0x00E6}), 0xF0A5, {0x0094, 0x00E6}, {0, 1},
         "f0a5:00e6"},
        {"none", WithProductsMet({}), 0xF0A5, {0x0090, 0x00E6, 0x0094}, {0, 0, 0}, "none"},
    };
    for (const MetCase& c : cases) {
        SCOPED_TRACE(c.name);
        sim_reset(c.scenario);
        bool met[8];
        ASSERT_LE(c.asked.size(), 8u);
        // Each entry the other way first: every one must be written.
        for (size_t i = 0; i < c.asked.size(); ++i) met[i] = c.expect[i] == 0;
        plat_usb_products_met(c.vendorId, c.asked.data(), static_cast<uint32_t>(c.asked.size()),
                              met);
        EXPECT_EQ(c.expect, std::vector<uint8_t>(met, met + c.asked.size()));
        EXPECT_EQ(1u, sim_counters().productQueries);
        char text[256];
        plat_describe_products_met(text, sizeof text);
        EXPECT_EQ(std::string("the simulated machine's record: ") + c.record + "\n", text);
        EXPECT_EQ(plat_products_met_clearing(kSensorVendorId, 0x0090, text, sizeof text) > 0,
                  std::strstr(c.record, "f0a5:0090") != nullptr);
    }
}

// ---- Error texts, results per thread, debug output, clock ----------------------------------

struct TextCase {
    uint32_t code;
    const char* text;
};

class ErrorTexts : public ::testing::TestWithParam<TextCase> {};

TEST_P(ErrorTexts, WindowsTextsWithTheirLineEnd) {
    char buffer[1024];
    std::memset(buffer, 'x', sizeof buffer);
    size_t length = plat_error_text(GetParam().code, buffer, sizeof buffer);
    if (GetParam().text == nullptr) {
        EXPECT_EQ(0u, length);
        return;
    }
    EXPECT_EQ(std::strlen(GetParam().text), length);
    EXPECT_STREQ(GetParam().text, buffer);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, ErrorTexts,
    ::testing::Values(TextCase{2, "The system cannot find the file specified.\r\n"},
                      TextCase{5, "Access is denied.\r\n"},
                      TextCase{31, "A device attached to the system is not functioning.\r\n"},
                      TextCase{87, "The parameter is incorrect.\r\n"},
                      TextCase{1167, "The device is not connected.\r\n"},
                      TextCase{0x2A, nullptr},
                      TextCase{0xFFFFFFFF, nullptr}));

TEST(SimErrorText, ShortBufferGivesNoText) {
    char buffer[8];
    EXPECT_EQ(0u, plat_error_text(5, buffer, sizeof buffer));
}

TEST_F(SimPlatform, EachCallAnswersItsOwnResultOnItsOwnThread) {
    HidConnection* h = nullptr;
    HidInterfaceInfo info;
    const PlatResult opened = plat_hid_open("no such path", &h, &info);
    PlatResult seenByOther{};
    std::thread other([&] {
        const uint8_t request[2] = {0x02, 0x02};
        seenByOther = plat_hid_set_feature(nullptr, request, 2);
    });
    other.join();
    ExpectFailure(opened, PlatStatus::NotFound, 2);
    ExpectFailure(seenByOther, PlatStatus::IoError, 6);
}

TEST_F(SimPlatform, DebugLinesAreCapturedInOrder) {
    plat_debug_output("---------- < Module Name : a > ---------\n010");
    plat_debug_output("second");
    EXPECT_EQ((std::vector<std::string>{"---------- < Module Name : a > ---------\n010", "second"}),
              sim_debug_lines());
    EXPECT_EQ(2u, sim_counters().debugLines);
    sim_reset_default();
    EXPECT_TRUE(sim_debug_lines().empty());
}

TEST_F(SimPlatform, TickCountWrapsAt32Bits) {
    SimScenario s;
    s.tickStart = 0xFFFFF000;
    sim_reset(s);
    uint32_t start = plat_tick_count();
    EXPECT_EQ(0xFFFFF000u, start);
    plat_sleep(0x2000);
    EXPECT_EQ(0x1000u, plat_tick_count());
    EXPECT_EQ(0x2000u, plat_tick_count() - start);
    sim_advance_ms(5);
    EXPECT_EQ(0x1005u, plat_tick_count());
}

TEST_F(SimPlatform, RealClockMoves) {
    SimScenario s;
    s.realTime = 1;
    sim_reset(s);
    uint32_t start = plat_tick_count();
    plat_sleep(20);
    EXPECT_GE(plat_tick_count() - start, 20u);
    sim_advance_ms(100000);  // no effect on the real clock
    EXPECT_LT(sim_now_ms(), 100000u);
}

TEST_F(SimPlatform, DeviceDelaysRunOnTheRealClockToo) {
    SimScenario s;
    s.realTime = 1;
    s.sensor.bootAppearDelayMs = 30;
    sim_reset(s);
    HidConnection* h = OpenProduct(0x0090);
    ASSERT_NE(nullptr, h);
    const uint8_t request[2] = {0x02, 0x02};
    ASSERT_TRUE(plat_succeeded(plat_hid_set_feature(h, request, 2)));
    plat_hid_close(h);
    uint64_t switchedAt = sim_transcript()[0].timeMs;
    plat_sleep(40);
    EXPECT_EQ(kSimModeBootLoader, sim_mode());
    std::vector<SimTranscriptEntry> t = sim_transcript();
    ASSERT_EQ(3u, t.size());
    EXPECT_EQ(switchedAt + 30, t[2].timeMs);  // stamped with its due time, not when seen
}

TEST_F(SimPlatform, CommandLatencyOnTheRealClockIsSleptOff) {
    SimScenario s;
    s.realTime = 1;
    s.commandLatencyMs = 1;
    s.sensor.startInBootLoader = 1;
    sim_reset(s);
    HidConnection* h = OpenProduct(0x0094);
    ASSERT_NE(nullptr, h);
    uint64_t start = sim_now_ms();
    Report reply;
    for (int i = 0; i < 50; ++i) ASSERT_EQ(0, Exchange(h, EraseCommand(0), &reply));
    plat_hid_close(h);
    // 100 calls of 1 ms; less than one 20 ms slice may still be owed.
    EXPECT_GE(sim_now_ms() - start, 80u);
}

// ---- Scenarios ----------------------------------------------------------------------------------

TEST(SimScenarios, EveryNameIsKnownAndUnknownNamesAreNot) {
    SimScenario s;
    size_t count = 0;
    for (const char* const* name = sim_scenario_names(); *name != nullptr; ++name, ++count) {
        EXPECT_EQ(1, sim_scenario_by_name(*name, &s)) << *name;
    }
    EXPECT_EQ(12u, count);
    EXPECT_EQ(0, sim_scenario_by_name("family2", &s));
}

struct NamedCase {
    const char* name;
    uint16_t product;
    uint16_t version;
};

class NamedScenario : public SimPlatform, public ::testing::WithParamInterface<NamedCase> {};

TEST_P(NamedScenario, ShowsTheSensorItNames) {
    SimScenario s;
    ASSERT_EQ(1, sim_scenario_by_name(GetParam().name, &s));
    sim_reset(s);
    uint16_t product = 0, version = 0;
    for (const Listed& l : Scan()) {
        if (l.info.vendorId == 0xF0A5) {
            product = l.info.productId;
            version = l.info.versionNumber;
        }
    }
    EXPECT_EQ(GetParam().product, product);
    EXPECT_EQ(GetParam().version, version);
}

INSTANTIATE_TEST_SUITE_P(Names, NamedScenario,
                         ::testing::Values(NamedCase{"family0", 0x0090, 0x0140},
                                           NamedCase{"family1", 0x00E6, 0x0139},
                                           NamedCase{"uptodate", 0x0090, 0x0610},
                                           NamedCase{"mismatch", 0x0090, 0x0200},
                                           NamedCase{"nosensor", 0, 0},
                                           NamedCase{"bootloader", 0x0094, 0x0011},
                                           NamedCase{"old-bootloader", 0x0090, 0x0140}));

TEST_F(SimPlatform, ConfigureFromTheEnvironment) {
    SetEnv("ZORFLASH_SIM", "family1");
    EXPECT_EQ(1, sim_configure_from_environment(0));
    EXPECT_EQ(0x0139, sim_sensor_version());
    SetEnv("ZORFLASH_SIM", "no-such-case");
    EXPECT_EQ(0, sim_configure_from_environment(0));
    EXPECT_EQ(0x0140, sim_sensor_version());
    SetEnv("ZORFLASH_SIM", nullptr);
    EXPECT_EQ(1, sim_configure_from_environment(0));
}

// ---- Threads -------------------------------------------------------------------------------------

TEST_F(SimPlatform, ReadersOnAnotherThreadWhileCommandsRun) {
    SimScenario s;
    s.sensor.startInBootLoader = 1;
    s.commandLatencyMs = 1;
    sim_reset(s);
    std::atomic<bool> done{false};
    std::atomic<uint32_t> reads{0};
    std::thread worker([&] {
        while (reads == 0) std::this_thread::yield();  // the reader is running
        HidConnection* h = OpenProduct(0x0094);
        Report reply;
        for (uint8_t i = 0; i < 200; ++i) Exchange(h, EraseCommand(i % 5), &reply);
        plat_hid_close(h);
        done = true;
    });
    while (!done) {
        SimCounters c = sim_counters();
        EXPECT_LE(c.gets, c.sets);
        EXPECT_LE(sim_transcript_size(), 400u);
        ++reads;
    }
    worker.join();
    EXPECT_EQ(200u, sim_sensor_counters().erases);
    EXPECT_EQ(400u, sim_transcript_size());
    EXPECT_EQ(400u, sim_now_ms());  // 1 ms of latency per set and per get, virtual
}

}  // namespace
