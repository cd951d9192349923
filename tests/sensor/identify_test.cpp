// Telling the sensor family and reading its version values.
#include <functional>

#include "core_support.h"
#include "sensor/sensor_info.h"

namespace {

struct IdentifyCase {
    const char* name;
    std::function<void(SimScenario*)> setUp;
    int result;
    SensorInfo expected;
};

SimScenario Family1(uint16_t version, uint16_t r5, uint16_t r6) {
    SimScenario s = sim_scenario_for_family(1);
    s.sensor.normalVersion = version;
    s.sensor.report5Word = r5;
    s.sensor.report6Word = r6;
    return s;
}

void ProductsMet(SimScenario* s, std::vector<uint16_t> products) {
    sim_scenario_set_products_met(s, products.data(), static_cast<uint32_t>(products.size()));
}

const IdentifyCase kCases[] = {
    {"no sensor", [](SimScenario* s) { sim_scenario_by_name("nosensor", s); }, 0,
     {2, 0xFFFF, 0xFFFF, 0xFFFF}},
    {"family 0", [](SimScenario*) {}, 1, {0, 0x0140, 0xFFFF, 0xFFFF}},
    {"family 0 up to date", [](SimScenario* s) { s->sensor.normalVersion = 0x0610; }, 1,
     {0, 0x0610, 0xFFFF, 0xFFFF}},
    {"family 1, report 5 word 6", [](SimScenario* s) { *s = Family1(0x0139, 0x0006, 1); }, 1,
     {1, 0x0139, 0x0006, 0x0001}},
    {"family 1, report 5 word 0x0180", [](SimScenario* s) { *s = Family1(0x0139, 0x0180, 1); }, 1,
     {1, 0x0139, 0x0180, 0x0001}},
    {"family 1 whose report 6 fails",
     [](SimScenario* s) {
         *s = Family1(0x0139, 2, 1);
         s->sensor.faults.failReport6 = 1;
     },
     0, {1, 0x0139, 0x0002, 0xFFFF}},
    {"family 1 whose report 5 fails",
     [](SimScenario* s) {
         *s = Family1(0x0139, 2, 1);
         s->sensor.faults.failReport5 = 1;
     },
     1, {1, 0x0139, 0xFFFF, 0x0001}},
    {"boot loader, only family 1 met before",
     [](SimScenario* s) {
         *s = BootLoaderScenario();
         ProductsMet(s, {0x00E6, 0x0094});
     },
     1, {1, 0xFFFF, 0xFFFF, 0xFFFF}},
    {"boot loader, only family 0 met before",
     [](SimScenario* s) {
         *s = BootLoaderScenario();
         ProductsMet(s, {0x0090});
     },
     1, {0, 0xFFFF, 0xFFFF, 0xFFFF}},
    {"boot loader, both families met before",
     [](SimScenario* s) {
         *s = BootLoaderScenario();
         ProductsMet(s, {0x0090, 0x00E6});
     },
     1, {2, 0xFFFF, 0xFFFF, 0xFFFF}},
    {"boot loader, nothing met before",
     [](SimScenario* s) {
         *s = BootLoaderScenario();
         ProductsMet(s, {});
     },
     1, {2, 0xFFFF, 0xFFFF, 0xFFFF}},
};

TEST(IdentifySensor, KindVersionAndReportWords) {
    for (const IdentifyCase& c : kCases) {
        SCOPED_TRACE(c.name);
        SimScenario scenario = sim_scenario_for_family(0);
        c.setUp(&scenario);
        ResetAll(scenario);
        SensorInfo info{9, 9, 9, 9};
        EXPECT_EQ(IdentifySensor(&info), c.result);
        EXPECT_EQ(info.kind, c.expected.kind);
        EXPECT_EQ(info.firmwareVersion, c.expected.firmwareVersion);
        EXPECT_EQ(info.report5Word, c.expected.report5Word);
        EXPECT_EQ(info.report6Word, c.expected.report6Word);
        ExpectNothingOpen();
        EXPECT_TRUE(sim_debug_lines().empty()) << "identification logs nothing";
        EXPECT_EQ(sim_now_ms(), 0u) << "identification has no waits of its own";
        EXPECT_TRUE(BootCommands().empty());
    }
}

TEST(IdentifySensor, ReadsReports5Then6WithLength9) {
    ResetAll(Family1(0x0139, 2, 1));
    SensorInfo info{};
    ASSERT_EQ(IdentifySensor(&info), 1);
    const auto gets = OfKind(kSimEventGetFeature);
    ASSERT_EQ(gets.size(), 2u);
    EXPECT_EQ(gets[0].data[0], 5);
    EXPECT_EQ(gets[0].length, 9u);
    EXPECT_EQ(gets[1].data[0], 6);
    EXPECT_EQ(gets[1].length, 9u);
    EXPECT_TRUE(OfKind(kSimEventSetFeature).empty()) << "identification never sends a report";
}

TEST(ReadFirmwareVersion, Family0ReadsOnlyTheVersion) {
    SimScenario scenario = sim_scenario_for_family(0);
    scenario.sensor.normalVersion = 0x0610;
    ResetAll(scenario);
    uint16_t version = 1;
    uint16_t r6 = 0x1111;
    uint16_t r5 = 0x2222;
    EXPECT_EQ(ReadFirmwareVersion(0, "usb-sim-1", &version, &r6, &r5), 1);
    EXPECT_EQ(version, 0x0610);
    EXPECT_EQ(r6, 0x1111) << "the caller's report words stay untouched";
    EXPECT_EQ(r5, 0x2222);
    EXPECT_EQ(sim_now_ms(), 1000u) << "the first attempt comes after one second";
    EXPECT_TRUE(OfKind(kSimEventGetFeature).empty());
    ExpectNothingOpen();
}

TEST(ReadFirmwareVersion, Family1ReadsBothWords) {
    ResetAll(Family1(0x0139, 6, 1));
    uint16_t version = 0;
    uint16_t r6 = 0;
    uint16_t r5 = 0;
    EXPECT_EQ(ReadFirmwareVersion(1, "usb-sim-1", &version, &r6, &r5), 1);
    EXPECT_EQ(version, 0x0139);
    EXPECT_EQ(r5, 6);
    EXPECT_EQ(r6, 1);
    ExpectNothingOpen();
}

TEST(ReadFirmwareVersion, AFailedWordReadKeepsTheCallersValue) {
    SimScenario scenario = Family1(0x0139, 6, 1);
    scenario.sensor.faults.failReport5 = 1;
    ResetAll(scenario);
    uint16_t version = 0;
    uint16_t r6 = 0xAAAA;
    uint16_t r5 = 0xBBBB;
    EXPECT_EQ(ReadFirmwareVersion(1, "usb-sim-1", &version, &r6, &r5), 1);
    EXPECT_EQ(r5, 0xBBBB);
    EXPECT_EQ(r6, 1);
}

TEST(ReadFirmwareVersion, AbsentSensorGivesUpAfterSixtyAttempts) {
    SimScenario scenario;
    sim_scenario_by_name("nosensor", &scenario);
    ResetAll(scenario);
    uint16_t version = 0x1234;
    uint16_t r6 = 0x5678;
    uint16_t r5 = 0x9ABC;
    EXPECT_EQ(ReadFirmwareVersion(1, "usb-sim-1", &version, &r6, &r5), 0);
    EXPECT_EQ(version, 0x1234);
    EXPECT_EQ(sim_now_ms(), 60000u);
    EXPECT_EQ(sim_counters().listCreates, 60u) << "sixty scans";
    const auto lines = sim_debug_lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], DiagLine("Module Name : GetFWVersion", "Failed to open ORVELL USB sensor"));
}

TEST(ReadFirmwareVersion, LooksForTheFamilyOfTheKindGiven) {
    // Kind 2 (or any kind but 0) looks for product 0x00E6: a family-0 sensor is not it.
    ResetAll(sim_scenario_for_family(0));
    uint16_t version = 0;
    uint16_t r6 = 0;
    uint16_t r5 = 0;
    EXPECT_EQ(ReadFirmwareVersion(2, "usb-sim-1", &version, &r6, &r5), 0);
    EXPECT_EQ(ReadFirmwareVersion(0, "usb-sim-1", &version, &r6, &r5), 1);
    EXPECT_EQ(version, 0x0140);
}

}  // namespace
