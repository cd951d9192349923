// Finding the sensor's interfaces.
#include <functional>

#include "core_support.h"

namespace {

constexpr SimCollection kPen = {0x000D, 0x0002, 10, 0, 137, 1};
constexpr SimCollection kMouse = {0x0001, 0x0002, 5, 0, 0, 1};
constexpr SimCollection kVendorPage = {0xFF00, 0x0001, 0, 0, 9, 1};

struct Found {
    int result;
    uint16_t productId;
    uint16_t usagePage;
    uint16_t usage;
};

struct FinderCase {
    const char* name;
    std::function<void(SimScenario*)> setUp;
    Found bySensorTable;
    uint16_t productAsked;  // for FindHidDeviceById with vendor 0xF0A5
    Found byId;
};

// Runs one finder and reads back what it left open; a miss must leave the record closed.
Found RunFinder(const std::function<int(HidDevice*)>& find) {
    HidDevice device = ClosedHidDevice();
    Found found{find(&device), 0, 0, 0};
    if (found.result) {
        found.productId = device.info.productId;
        found.usagePage = device.info.usagePage;
        found.usage = device.info.usage;
    } else {
        EXPECT_EQ(device.connection, nullptr);
        EXPECT_EQ(device.info.vendorId, 0) << "a miss leaves no description behind";
    }
    CloseHidDevice(&device);
    return found;
}

Found RunSensorFinder() { return RunFinder(FindSensorDevice); }

Found RunIdFinder(uint16_t vendor, uint16_t product) {
    return RunFinder([=](HidDevice* d) { return FindHidDeviceById(d, vendor, product); });
}

void NoSensor(SimScenario* s) { sim_scenario_by_name("nosensor", s); }

const FinderCase kFinderCases[] = {
    {"nothing on the machine",
     [](SimScenario* s) { NoSensor(s); s->otherCount = 0; },
     {0, 0, 0, 0}, 0x0090, {0, 0, 0, 0}},
    {"other devices only", NoSensor, {0, 0, 0, 0}, 0x0090, {0, 0, 0, 0}},
    {"family 0 with a mouse collection before the pen",
     [](SimScenario* s) {
         s->sensor.extraBefore[0] = kMouse;
         s->sensor.extraBeforeCount = 1;
     },
     {1, 0x0090, 0x000D, 0x0002}, 0x0090, {1, 0x0090, 0x0001, 0x0002}},
    {"family 1 with a pen collection before the vendor page",
     [](SimScenario* s) {
         *s = sim_scenario_for_family(1);
         s->sensor.extraBefore[0] = kPen;
         s->sensor.extraBeforeCount = 1;
     },
     {1, 0x00E6, 0xFF00, 0x0001}, 0x00E6, {1, 0x00E6, 0xFF00, 0x0001}},
    {"product 0x00E6 on the digitizer page only",
     [](SimScenario* s) {
         NoSensor(s);
         s->others[s->otherCount++] = {0xF0A5, 0x00E6, 0x0139, kPen};
     },
     {0, 0, 0, 0}, 0x00E6, {0, 0, 0, 0}},
    {"another vendor's product 0x0090 with a pen",
     [](SimScenario* s) {
         NoSensor(s);
         s->others[s->otherCount++] = {0x1234, 0x0090, 0x0140, kPen};
     },
     {0, 0, 0, 0}, 0x0090, {0, 0, 0, 0}},
    {"an interface that cannot be opened is skipped",
     [](SimScenario* s) {
         SimCollection locked = kPen;
         locked.openable = 0;
         s->others[0] = {0xF0A5, 0x0090, 0x0140, locked};
         s->sensorPosition = 2;
     },
     {1, 0x0090, 0x000D, 0x0002}, 0x0090, {1, 0x0090, 0x000D, 0x0002}},
    {"a path that cannot be read ends the scan before the sensor",
     [](SimScenario* s) { s->pathUnreadableIndex = 0; },
     {0, 0, 0, 0}, 0x0090, {0, 0, 0, 0}},
    {"a path that cannot be read after the sensor does not matter",
     [](SimScenario* s) { s->pathUnreadableIndex = 2; },
     {1, 0x0090, 0x000D, 0x0002}, 0x0090, {1, 0x0090, 0x000D, 0x0002}},
    {"the interface list cannot be made",
     [](SimScenario* s) { s->listFails = 1; },
     {0, 0, 0, 0}, 0x0090, {0, 0, 0, 0}},
    {"boot loader: any interface of product 0x0094",
     [](SimScenario* s) { *s = BootLoaderScenario(); },
     {1, 0x0094, 0x000D, 0x0001}, 0x0094, {1, 0x0094, 0x000D, 0x0001}},
    {"asking for the other family finds nothing",
     [](SimScenario*) {},
     {1, 0x0090, 0x000D, 0x0002}, 0x00E6, {0, 0, 0, 0}},
};

TEST(Finders, ByTableAndById) {
    for (const FinderCase& c : kFinderCases) {
        SCOPED_TRACE(c.name);
        SimScenario scenario = sim_scenario_for_family(0);
        c.setUp(&scenario);
        ResetAll(scenario);
        const Found byTable = RunSensorFinder();
        EXPECT_EQ(byTable.result, c.bySensorTable.result);
        EXPECT_EQ(byTable.productId, c.bySensorTable.productId);
        EXPECT_EQ(byTable.usagePage, c.bySensorTable.usagePage);
        EXPECT_EQ(byTable.usage, c.bySensorTable.usage);
        const Found byId = RunIdFinder(0xF0A5, c.productAsked);
        EXPECT_EQ(byId.result, c.byId.result);
        EXPECT_EQ(byId.productId, c.byId.productId);
        EXPECT_EQ(byId.usagePage, c.byId.usagePage);
        EXPECT_EQ(byId.usage, c.byId.usage);
        ExpectNothingOpen();
    }
}

TEST(Finders, ScanOpensOnlyTheInterfaceItReturns) {
    ResetAll(sim_scenario_for_family(0));
    HidDevice device = ClosedHidDevice();
    ASSERT_EQ(FindSensorDevice(&device), 1);
    const SimCounters c = sim_counters();
    EXPECT_EQ(c.opens, 1u) << "the mouse before the sensor is judged by its listed description";
    EXPECT_EQ(c.openHandles, 1u) << "only the returned record stays open";
    CloseHidDevice(&device);
    CloseHidDevice(&device);  // a second close does nothing
    ExpectNothingOpen();
    EXPECT_EQ(sim_counters().closes, 1u);
}

TEST(Finders, ComparesVendorAndProductAsUnsigned) {
    ResetAll(sim_scenario_for_family(0));
    EXPECT_EQ(RunIdFinder(0xF0A5, 0x0090).result, 1);
    EXPECT_EQ(RunIdFinder(0x00A5, 0x0090).result, 0);
    EXPECT_EQ(RunIdFinder(0xF0A5, 0x8090).result, 0);
}

}  // namespace
