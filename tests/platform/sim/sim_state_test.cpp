// The simulated sensor kept between runs: its text both ways, what is refused, and the file.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/sim/sim_control.h"

namespace {

const char kFamily1Stuck[] =
    "zorflash-sim state 1\nfamily 1\nattached yes\nmode boot loader\nversion 0139\n"
    "report5 0002\nreport6 0001\nimage erased\nmet 046d:c077 f0a5:0094\n";

std::string Format(const SimKeptState& state) {
    char text[kSimStateTextCapacity];
    EXPECT_GT(sim_format_kept_state(state, text, sizeof text), 0u);
    return text;
}

TEST(SimStateTest, TextReadsBackAsTheSameState) {
    SimKeptState state;
    char reason[256] = "";
    ASSERT_TRUE(sim_parse_kept_state(kFamily1Stuck, &state, reason, sizeof reason)) << reason;
    EXPECT_EQ(1, state.family);
    EXPECT_TRUE(state.attached);
    EXPECT_TRUE(state.inBootLoader);
    EXPECT_EQ(0x0139, state.normalVersion);
    EXPECT_FALSE(state.imageValid);
    ASSERT_EQ(2u, state.productsMetCount);
    EXPECT_EQ(0x0094, state.productsMet[1].productId);
    EXPECT_EQ(kFamily1Stuck, Format(state));

    const std::string noRecord =
        "zorflash-sim state 1\nfamily 0\nattached no\nmode normal\nversion 0610\n"
        "report5 0002\nreport6 0001\nimage valid\nmet\n";
    ASSERT_TRUE(sim_parse_kept_state(noRecord.c_str(), &state, reason, sizeof reason)) << reason;
    EXPECT_EQ(0u, state.productsMetCount);
    EXPECT_EQ(noRecord, Format(state));
}

TEST(SimStateTest, ATextThatIsNotAStateIsRefusedWithItsLine) {
    const std::string good = kFamily1Stuck;
    auto replaced = [&](const char* from, const char* to) {
        std::string text = good;
        text.replace(text.find(from), std::string(from).size(), to);
        return text;
    };
    std::string seventeen = "met";
    for (int i = 0; i < 17; ++i) seventeen += " f0a5:0090";
    const struct {
        const char* label;
        std::string text;
        const char* reason;
    } cases[] = {
        {"empty", "", "line 1: not a state"},
        {"another heading", replaced("state 1", "state 2"), "line 1: not a state"},
        {"family 2", replaced("family 1", "family 2"), "line 2: the value of \"family\""},
        {"mode unknown", replaced("boot loader", "asleep"), "line 4: the value of \"mode\""},
        {"version of three digits", replaced("0139", "139"), "line 5: the value of \"version\""},
        {"version not hex", replaced("0139", "01g9"), "line 5: the value of \"version\""},
        {"fields swapped", replaced("report5 0002\nreport6 0001", "report6 0001\nreport5 0002"),
         "line 6: expected the field \"report5\""},
        {"field missing", replaced("image erased\n", ""), "line 8: expected the field \"image\""},
        {"cut short", good.substr(0, good.find("met")), "line 9: missing"},
        {"product cut", replaced("f0a5:0094", "f0a5:094"), "line 9: the value of \"met\""},
        {"seventeen products", replaced("met 046d:c077 f0a5:0094", seventeen.c_str()),
         "line 9: the value of \"met\""},
        {"more after", good + "family 0\n", "line 10: more than a state"},
    };
    for (const auto& c : cases) {
        SimKeptState state;
        char reason[256] = "";
        EXPECT_FALSE(sim_parse_kept_state(c.text.c_str(), &state, reason, sizeof reason)) << c.label;
        EXPECT_EQ(0u, std::string(reason).find(c.reason)) << c.label << ": " << reason;
    }
}

TEST(SimStateTest, AStateGoesOntoACaseOfItsFamilyOnly) {
    SimKeptState state;
    char reason[256] = "";
    ASSERT_TRUE(sim_parse_kept_state(kFamily1Stuck, &state, reason, sizeof reason));
    SimScenario family0;
    EXPECT_FALSE(sim_apply_kept_state(state, &family0, reason, sizeof reason));
    EXPECT_STREQ("it keeps a family-1 sensor, and this case simulates a family-0 one", reason);

    SimScenario family1 = sim_scenario_for_family(1);
    ASSERT_TRUE(sim_apply_kept_state(state, &family1, reason, sizeof reason));
    sim_reset(family1);
    EXPECT_EQ(kSimModeBootLoader, sim_mode());
    const SimKeptState kept = sim_kept_state();
    EXPECT_EQ(kFamily1Stuck, Format(kept));
}

class SimStateFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/sim_state_test.XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(pattern));
        folder = pattern;
        path = folder + "/state";
    }
    void TearDown() override {
        unlink(path.c_str());
        rmdir(folder.c_str());
    }
    std::string folder;
    std::string path;
};

TEST_F(SimStateFileTest, KeptThenRestoredOverTheNamedCase) {
    char reason[512] = "";
    sim_reset(SimScenario());
    EXPECT_TRUE(sim_restore_state_file(path.c_str(), reason, sizeof reason)) << "missing: the case";
    EXPECT_EQ(kSimModeNormal, sim_mode());

    SimScenario stuck;
    stuck.sensor.startInBootLoader = true;
    stuck.sensor.normalVersion = 0x0222;
    stuck.productsMetCount = 1;
    sim_reset(stuck);
    ASSERT_TRUE(sim_keep_state_file(path.c_str(), reason, sizeof reason)) << reason;

    sim_reset(SimScenario());
    ASSERT_TRUE(sim_restore_state_file(path.c_str(), reason, sizeof reason)) << reason;
    EXPECT_EQ(kSimModeBootLoader, sim_mode());
    EXPECT_EQ(0x0222, sim_sensor_version());
    EXPECT_EQ(1u, sim_scenario_now().productsMetCount);
}

TEST_F(SimStateFileTest, WhatIsNotARegularStateFileIsRefused) {
    char reason[512] = "";
    ASSERT_EQ(0, mkfifo(path.c_str(), 0600));
    sim_reset(SimScenario());
    EXPECT_FALSE(sim_restore_state_file(path.c_str(), reason, sizeof reason));
    EXPECT_EQ("the simulated sensor's state " + path + ": not a regular file", reason);
    EXPECT_FALSE(sim_keep_state_file(path.c_str(), reason, sizeof reason));
    EXPECT_NE(std::string::npos, std::string(reason).find("it is a FIFO")) << reason;
    unlink(path.c_str());

    FILE* file = std::fopen(path.c_str(), "w");
    ASSERT_NE(nullptr, file);
    std::fputs("zorflash-sim state 1\nfamily 0\n", file);
    std::fclose(file);
    EXPECT_FALSE(sim_restore_state_file(path.c_str(), reason, sizeof reason));
    EXPECT_EQ("the simulated sensor's state " + path +
                  ": line 3: missing; every field is needed, in order",
              std::string(reason));
}

}  // namespace
