// Switching the sensor into its boot loader, in virtual time.
#include "core_support.h"
#include "sensor/boot_mode.h"

namespace {

struct BootCase {
    const char* name;
    SimScenario scenario;
    uint32_t result;
    int wasInBootMode;
    uint64_t elapsedMs;
    int switchRequests;
    uint16_t switchable = 0x0090;  // the product the image was chosen for
    // Identified in its boot loader as the update started; else in normal mode.
    bool bootLoaderExpected = false;
};

SimScenario WithRecord(SimScenario s, std::vector<uint16_t> products, bool readOnly) {
    sim_scenario_set_products_met(&s, products.data(), static_cast<uint32_t>(products.size()));
    s.recordReadOnly = readOnly;
    return s;
}

// A second board, in its boot loader, on another port: listed before the sensor.
SimScenario WithSecondBootLoader(SimScenario s) {
    s.others[0] = {0xF0A5, 0x0094, 0x0011, {0x000D, 0x0001, 0, 9, 65, 1}};
    s.sensorPosition = 2;
    return s;
}

SimScenario WithBootLoaderMet(SimScenario s, bool met) {
    std::vector<uint16_t> products = {0x0090};
    if (met) products.push_back(0x0094);
    sim_scenario_set_products_met(&s, products.data(), static_cast<uint32_t>(products.size()));
    return s;
}

SimScenario AppearingAfter(uint32_t delayMs, bool met) {
    SimScenario s = WithBootLoaderMet(sim_scenario_for_family(0), met);
    s.sensor.bootAppearDelayMs = delayMs;
    return s;
}

SimScenario Named(const char* name) {
    SimScenario s;
    EXPECT_EQ(sim_scenario_by_name(name, &s), 1) << name;
    return s;
}

std::vector<BootCase> Cases() {
    SimScenario refused = sim_scenario_for_family(0);
    refused.sensor.faults.switchRefused = 1;
    SimScenario never = WithBootLoaderMet(sim_scenario_for_family(0), true);
    never.sensor.faults.bootLoaderNeverAppears = 1;
    SimScenario wrapping = AppearingAfter(7000, true);
    wrapping.tickStart = 0xFFFFFFFFu - 3000;
    SimScenario neverWrapping = never;
    neverWrapping.tickStart = 0xFFFFFFFFu - 50000;
    return {
        {"already in the boot loader", BootLoaderScenario(), 0, 1, 0, 0, 0x0090, true},
        {"already in the boot loader, never met",
         WithBootLoaderMet(BootLoaderScenario(), false), 0, 1, 0, 0, 0x0090, true},
        // Identified in normal mode, a boot loader there now: another board, left alone.
        {"boot loader where a normal-mode sensor was identified", BootLoaderScenario(), 43, 1, 0, 0},
        // The record would not tell the family of the boot loader the switch leaves.
        {"note of 00e6 not kept over a stale 0090",
         WithRecord(sim_scenario_for_family(1), {0x0090}, true), 44, 0, 0, 0, 0x00E6},
        {"stale 0090 beside the noted 00e6", WithRecord(sim_scenario_for_family(1), {0x0090}, false),
         44, 0, 0, 0, 0x00E6},
        {"nothing noted, read-only record", WithRecord(sim_scenario_for_family(0), {}, true), 44, 0, 0, 0},
        {"already noted, read-only record", WithRecord(sim_scenario_for_family(0), {0x0090, 0x0094}, true),
         0, 0, 3000, 1},
        // A boot loader on another port is never taken for the switched sensor's.
        {"second board's boot loader elsewhere", WithSecondBootLoader(AppearingAfter(0, true)), 0, 0, 2000, 1},
        {"only a second board's boot loader appears",
         WithSecondBootLoader(never), 7, 0, 102000, 1},
        {"no sensor", Named("nosensor"), 6, 1, 0, 0},
        {"switch request refused", refused, 25, 0, 0, 1},
        {"boot loader 5 s into the polling, met before", AppearingAfter(7000, true), 0, 0, 7000, 1},
        {"boot loader 5 s into the polling, never met", AppearingAfter(7000, false), 0, 0,
         27000, 1},
        {"boot loader at once", AppearingAfter(0, true), 0, 0, 2000, 1},
        {"boot loader after 2.5 s", AppearingAfter(2500, true), 0, 0, 3000, 1},
        {"boot loader never appears", never, 7, 0, 102000, 1},
        {"tick counter wraps while polling", wrapping, 0, 0, 7000, 1},
        {"tick counter wraps, boot loader never appears", neverWrapping, 7, 0, 102000, 1},
        {"family 1 attached, family 0 chosen", sim_scenario_for_family(1), 43, 0, 0, 0},
        {"family 0 attached, family 1 chosen", sim_scenario_for_family(0), 43, 0, 0, 0, 0x00E6},
        {"boot loader attached, family 1 chosen", BootLoaderScenario(), 0, 1, 0, 0, 0x00E6, true},
    };
}

TEST(EnterBootMode, ResultsFlagsAndTiming) {
    for (const BootCase& c : Cases()) {
        SCOPED_TRACE(c.name);
        ResetAll(c.scenario);
        HidDevice device = ClosedHidDevice();
        bool wasInBootMode = c.wasInBootMode == 0;  // the other way: it must be written
        UpdateTarget target = {c.switchable, "usb-sim-1", c.bootLoaderExpected};
        EXPECT_EQ(static_cast<uint32_t>(EnterBootMode(&device, &target, &wasInBootMode)), c.result);
        EXPECT_EQ(wasInBootMode, c.wasInBootMode != 0);
        EXPECT_EQ(sim_now_ms(), c.elapsedMs);
        int switchRequests = 0;
        for (const SimTranscriptEntry& e : OfKind(kSimEventSetFeature)) {
            switchRequests += e.data[0] == 2 && e.data[1] == 2 && e.length == 2;
        }
        EXPECT_EQ(switchRequests, c.switchRequests);
        if (c.result == 0) {
            EXPECT_NE(device.connection, nullptr);
            EXPECT_EQ(device.info.productId, 0x0094);
            EXPECT_EQ(device.info.usagePage, 0x000D);
            EXPECT_EQ(device.info.usage, 0x0001);
            EXPECT_EQ(sim_counters().openHandles, 1u) << "only the boot loader's record is open";
            char port[kHidPortCapacity];
            ASSERT_TRUE(plat_hid_port(device.connection, port, sizeof port));
            EXPECT_STREQ(port, "usb-sim-1") << "the switched sensor's own port";
            CloseHidDevice(&device);
        } else {
            EXPECT_EQ(device.connection, nullptr) << "failures leave nothing open";
        }
        ExpectNothingOpen();
        EXPECT_TRUE(sim_debug_lines().empty()) << "boot-mode entry logs nothing itself";
    }
}

TEST(EnterBootMode, SwitchRequestIsReport2Value2OfLength2) {
    ResetAll(AppearingAfter(3000, true));
    HidDevice device = ClosedHidDevice();
    bool was = false;
    UpdateTarget target = {0x0090, "usb-sim-1", false};
    ASSERT_EQ(EnterBootMode(&device, &target, &was), UpdateResult::Success);
    CloseHidDevice(&device);
    const auto sets = OfKind(kSimEventSetFeature);
    ASSERT_EQ(sets.size(), 1u);
    EXPECT_EQ(sets[0].length, 2u);
    EXPECT_EQ(sets[0].data[0], 0x02);
    EXPECT_EQ(sets[0].data[1], 0x02);
    EXPECT_EQ(sets[0].productId, 0x0090);
    EXPECT_EQ(sim_mode(), kSimModeBootLoader);
}

}  // namespace
