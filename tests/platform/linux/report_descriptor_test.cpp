// Report descriptors of the shapes real devices have, and what Windows' HidP_GetCaps says
// about each top-level collection of them.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/linux/hid_report_descriptor.h"
#include "platform/linux/hidraw_node.h"

namespace {

struct DescriptorCase {
    const char* name;
    std::vector<uint8_t> descriptor;
    int parses;
    std::vector<HidTopCollection> collections;
};

// The sensor in normal mode, family 0: a Pen collection on the Digitizers page with a pen
// input report (ID 1, 9 data bytes) and feature reports 2 (switch request, 1 byte) and
// 3 (8 bytes). Feature length = 8 + 1.
const std::vector<uint8_t> kPenDigitizer = {
    0x05, 0x0D,        // Usage Page (Digitizers)
    0x09, 0x02,        // Usage (Pen)
    0xA1, 0x01,        // Collection (Application)
    0x85, 0x01,        //   Report ID 1
    0x09, 0x20,        //   Usage (Stylus)
    0xA1, 0x00,        //   Collection (Physical)
    0x09, 0x42,        //     Usage (Tip Switch)
    0x09, 0x44,        //     Usage (Barrel Switch)
    0x15, 0x00, 0x25, 0x01,  // Logical 0..1
    0x75, 0x01, 0x95, 0x02,  // Report Size 1, Count 2
    0x81, 0x02,        //     Input (Data,Var,Abs)
    0x95, 0x06,        //     Report Count 6 (padding)
    0x81, 0x03,        //     Input (Const)
    0x05, 0x01,        //     Usage Page (Generic Desktop)
    0x09, 0x30, 0x09, 0x31,  // Usage X, Y
    0x26, 0xFF, 0x7F,  //     Logical Max 32767
    0x75, 0x10, 0x95, 0x02,  // Report Size 16, Count 2
    0x81, 0x02,        //     Input
    0x05, 0x0D,        //     Usage Page (Digitizers)
    0x09, 0x30,        //     Usage (Tip Pressure)
    0x26, 0xFF, 0x0F,  //     Logical Max 4095
    0x75, 0x10, 0x95, 0x02,  // Report Size 16, Count 2
    0x81, 0x02,        //     Input
    0xC0,              //   End Collection
    0x85, 0x02,        //   Report ID 2
    0x06, 0x00, 0xFF,  //   Usage Page (Vendor 0xFF00)
    0x09, 0x01,        //   Usage 1
    0x75, 0x08, 0x95, 0x01,  // Report Size 8, Count 1
    0xB1, 0x02,        //   Feature
    0x85, 0x03,        //   Report ID 3
    0x09, 0x02,        //   Usage 2
    0x95, 0x08,        //   Report Count 8
    0xB1, 0x02,        //   Feature
    0xC0,              // End Collection
};

// The boot loader: Digitizer collection with feature reports 1 and 2 of 136 data bytes
// (Report Count written as a 2-byte item) and an output report of 64 bytes without ID.
const std::vector<uint8_t> kBootLoader = {
    0x05, 0x0D, 0x09, 0x01, 0xA1, 0x01,  // Digitizers / Digitizer, Application
    0x06, 0x00, 0xFF, 0x09, 0x03,        // Vendor usage for the output report
    0x15, 0x00, 0x26, 0xFF, 0x00,        // Logical 0..255
    0x75, 0x08, 0x95, 0x40,              // 8 bits x 64
    0x91, 0x02,                          // Output (no report ID)
    0x85, 0x01, 0x09, 0x01,              // Report ID 1
    0x96, 0x88, 0x00,                    // Report Count 136
    0xB1, 0x02,                          // Feature
    0x85, 0x02, 0x09, 0x02,              // Report ID 2
    0xB1, 0x02,                          // Feature (still 136)
    0xC0,
};

// A keyboard with media keys: two top-level collections on one node, each with its report
// ID. Keyboard: input 8 bytes + ID, output (LEDs) 1 byte + ID. Consumer: input 2 bytes + ID.
const std::vector<uint8_t> kKeyboardAndConsumer = {
    0x05, 0x01, 0x09, 0x06, 0xA1, 0x01,  // Generic Desktop / Keyboard
    0x85, 0x01,
    0x05, 0x07, 0x19, 0xE0, 0x29, 0xE7, 0x15, 0x00, 0x25, 0x01,
    0x75, 0x01, 0x95, 0x08, 0x81, 0x02,  // modifiers
    0x75, 0x08, 0x95, 0x01, 0x81, 0x01,  // reserved
    0x05, 0x08, 0x19, 0x01, 0x29, 0x05,
    0x75, 0x01, 0x95, 0x05, 0x91, 0x02,  // LEDs
    0x75, 0x03, 0x95, 0x01, 0x91, 0x01,  // LED padding
    0x05, 0x07, 0x19, 0x00, 0x29, 0x65, 0x15, 0x00, 0x25, 0x65,
    0x75, 0x08, 0x95, 0x06, 0x81, 0x00,  // keys
    0xC0,
    0x05, 0x0C, 0x09, 0x01, 0xA1, 0x01,  // Consumer / Consumer Control
    0x85, 0x02,
    0x19, 0x00, 0x2A, 0x3C, 0x02, 0x15, 0x00, 0x26, 0x3C, 0x02,
    0x75, 0x10, 0x95, 0x01, 0x81, 0x00,
    0xC0,
};

// A boot-protocol mouse: no report IDs. Windows still counts the ID byte: 3 + 1.
const std::vector<uint8_t> kPlainMouse = {
    0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x09, 0x01, 0xA1, 0x00,
    0x05, 0x09, 0x19, 0x01, 0x29, 0x03, 0x15, 0x00, 0x25, 0x01,
    0x95, 0x03, 0x75, 0x01, 0x81, 0x02, 0x95, 0x01, 0x75, 0x05, 0x81, 0x01,
    0x05, 0x01, 0x09, 0x30, 0x09, 0x31, 0x15, 0x81, 0x25, 0x7F,
    0x75, 0x08, 0x95, 0x02, 0x81, 0x06,
    0xC0, 0xC0,
};

// Family 1: vendor page 0xFF00 usage 1, written as one 4-byte extended usage (page in the
// high half) and no Usage Page item; feature reports 5 and 6 of 8 bytes, input 63 bytes.
const std::vector<uint8_t> kVendorExtendedUsage = {
    0x0B, 0x01, 0x00, 0x00, 0xFF,  // Usage (0xFF00:0x0001), 4-byte form
    0xA1, 0x01,
    0x85, 0x04, 0x09, 0x10, 0x75, 0x08, 0x95, 0x3F, 0x81, 0x02,
    0x85, 0x05, 0x09, 0x20, 0x95, 0x08, 0xB1, 0x02,
    0x85, 0x06, 0x09, 0x21, 0xB1, 0x02,
    0xC0,
};

// Push/pop: the report size pushed (8) comes back after a pop, so the second input field
// counts 8 bits, not 16. Inputs: 2x16 + 1x8 = 40 bits = 5 bytes + ID.
const std::vector<uint8_t> kPushPop = {
    0x05, 0x0D, 0x09, 0x04, 0xA1, 0x01,  // Digitizers / Touch Screen
    0x85, 0x07, 0x75, 0x08, 0x95, 0x01,
    0xA4,                                // Push
    0x75, 0x10, 0x95, 0x02, 0x81, 0x02,  // 2 x 16 bits
    0xB4,                                // Pop: size 8, count 1
    0x81, 0x02,
    0xC0,
};

// A long item (prefix 0xFE) is skipped whole, and a collection without any report gets
// zero lengths.
const std::vector<uint8_t> kLongItemAndEmpty = {
    0xFE, 0x02, 0x10, 0xAA, 0xBB,        // long item, 2 data bytes
    0x05, 0x01, 0x09, 0x80, 0xA1, 0x01,  // System Control, no reports
    0xC0,
};

// Sizes that add up per report ID: report 9 gets 3 + 5 bytes in two Feature items; report
// 10 only 4. The largest report counts.
const std::vector<uint8_t> kFeatureAcrossItems = {
    0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01,
    0x75, 0x08, 0x85, 0x09, 0x95, 0x03, 0x09, 0x01, 0xB1, 0x02,
    0x85, 0x0A, 0x95, 0x04, 0x09, 0x02, 0xB1, 0x02,
    0x85, 0x09, 0x95, 0x05, 0x09, 0x03, 0xB1, 0x02,
    0xC0,
};

const std::vector<DescriptorCase>& Cases() {
    static const std::vector<DescriptorCase> cases = {
        {"pen_digitizer", kPenDigitizer, 1, {{0x000D, 0x0002, 10, 0, 9}}},
        {"boot_loader", kBootLoader, 1, {{0x000D, 0x0001, 0, 65, 137}}},
        {"keyboard_and_consumer", kKeyboardAndConsumer, 1,
         {{0x0001, 0x0006, 9, 2, 0}, {0x000C, 0x0001, 3, 0, 0}}},
        {"plain_mouse", kPlainMouse, 1, {{0x0001, 0x0002, 4, 0, 0}}},
        {"vendor_extended_usage", kVendorExtendedUsage, 1, {{0xFF00, 0x0001, 64, 0, 9}}},
        {"push_pop", kPushPop, 1, {{0x000D, 0x0004, 6, 0, 0}}},
        {"long_item_and_empty", kLongItemAndEmpty, 1, {{0x0001, 0x0080, 0, 0, 0}}},
        {"feature_across_items", kFeatureAcrossItems, 1, {{0xFF00, 0x0001, 0, 0, 9}}},
        // Malformed: each is refused as a whole.
        {"truncated_item", {0x05, 0x0D, 0x09, 0x02, 0xA1, 0x01, 0x26, 0xFF}, 0, {}},
        {"end_without_collection", {0x05, 0x01, 0x09, 0x02, 0xC0}, 0, {}},
        {"collection_left_open", {0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x75, 0x08}, 0, {}},
        {"input_outside_collection", {0x75, 0x08, 0x95, 0x01, 0x81, 0x02}, 0, {}},
        {"pop_without_push", {0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0xB4, 0xC0}, 0, {}},
        {"report_id_zero", {0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x85, 0x00, 0xC0}, 0, {}},
        {"long_item_cut", {0xFE, 0x05, 0x10, 0x01}, 0, {}},
        {"empty", {}, 1, {}},
    };
    return cases;
}

class ReportDescriptorTest : public ::testing::TestWithParam<size_t> {};

TEST_P(ReportDescriptorTest, TopLevelCollectionsAsWindowsListsThem) {
    const DescriptorCase& c = Cases()[GetParam()];
    HidDescriptorSummary summary;
    summary.collectionCount = 99;
    const int parsed =
        linux_parse_hid_report_descriptor(c.descriptor.data(), c.descriptor.size(), &summary);
    ASSERT_EQ(parsed, c.parses);
    ASSERT_EQ(summary.collectionCount, c.collections.size());
    for (size_t i = 0; i < c.collections.size(); ++i) {
        SCOPED_TRACE(i);
        const HidTopCollection& want = c.collections[i];
        const HidTopCollection& got = summary.collections[i];
        EXPECT_EQ(got.usagePage, want.usagePage);
        EXPECT_EQ(got.usage, want.usage);
        EXPECT_EQ(got.inputReportByteLength, want.inputReportByteLength);
        EXPECT_EQ(got.outputReportByteLength, want.outputReportByteLength);
        EXPECT_EQ(got.featureReportByteLength, want.featureReportByteLength);
    }
}

INSTANTIATE_TEST_SUITE_P(Shapes, ReportDescriptorTest, ::testing::Range<size_t>(0, 16),
                         [](const ::testing::TestParamInfo<size_t>& info) {
                             return std::string(Cases()[info.param].name);
                         });

TEST(ReportDescriptorTest, CaseTableIsCoveredWhole) {
    EXPECT_EQ(Cases().size(), 16u);
}

// Seventeen application collections: the first sixteen are listed, the rest dropped.
TEST(ReportDescriptorTest, CollectionsBeyondCapacityAreNotListed) {
    std::vector<uint8_t> descriptor;
    for (uint8_t i = 1; i <= kMaxTopCollections + 1; ++i) {
        const uint8_t items[] = {0x06, 0x00, 0xFF, 0x09, i, 0xA1, 0x01, 0x85, i,
                                 0x75, 0x08, 0x95, 0x02, 0x09, 0x01, 0xB1, 0x02, 0xC0};
        descriptor.insert(descriptor.end(), items, items + sizeof(items));
    }
    HidDescriptorSummary summary;
    ASSERT_EQ(linux_parse_hid_report_descriptor(descriptor.data(), descriptor.size(), &summary), 1);
    ASSERT_EQ(summary.collectionCount, kMaxTopCollections);
    EXPECT_EQ(summary.collections[kMaxTopCollections - 1].usage, kMaxTopCollections);
    EXPECT_EQ(summary.collections[0].featureReportByteLength, 3);
}

struct PathCase {
    const char* path;
    int parses;
    const char* node;
    uint32_t collection;
};

TEST(HidrawPathTest, ParsesNodeAndCollection) {
    const PathCase cases[] = {
        {"/dev/hidraw3", 1, "/dev/hidraw3", 0},
        {"/dev/hidraw3#0", 1, "/dev/hidraw3", 0},
        {"/dev/hidraw12#2", 1, "/dev/hidraw12", 2},
        {"/dev/hidraw3#15", 1, "/dev/hidraw3", 15},
        {"/dev/hidraw3#16", 0, "", 0},  // beyond the collections a node can list
        {"/dev/hidraw3#", 0, "", 0},
        {"/dev/hidraw3#1a", 0, "", 0},
        {"#1", 0, "", 0},
        {"", 0, "", 0},
    };
    for (const PathCase& c : cases) {
        SCOPED_TRACE(c.path);
        char node[kNodePathCapacity] = "untouched";
        uint32_t collection = 77;
        ASSERT_EQ(linux_hidraw_parse_path(c.path, node, sizeof(node), &collection), c.parses);
        if (c.parses) {
            EXPECT_STREQ(node, c.node);
            EXPECT_EQ(collection, c.collection);
        }
    }
}

TEST(HidrawPathTest, NodeTooLongForBufferIsRefused) {
    char node[8];
    uint32_t collection = 0;
    EXPECT_EQ(linux_hidraw_parse_path("/dev/hidraw3", node, sizeof(node), &collection), 0);
    EXPECT_EQ(linux_hidraw_parse_path("/dev/hi", node, sizeof(node), &collection), 1);
}

TEST(HidrawPathTest, FormatsSuffixOnlyForNodesWithSeveralCollections) {
    char path[kNodePathCapacity];
    ASSERT_EQ(linux_hidraw_format_path("/dev/hidraw4", 0, 1, path, sizeof(path)), 1);
    EXPECT_STREQ(path, "/dev/hidraw4");
    ASSERT_EQ(linux_hidraw_format_path("/dev/hidraw4", 0, 2, path, sizeof(path)), 1);
    EXPECT_STREQ(path, "/dev/hidraw4#0");
    ASSERT_EQ(linux_hidraw_format_path("/dev/hidraw4", 1, 2, path, sizeof(path)), 1);
    EXPECT_STREQ(path, "/dev/hidraw4#1");
    char small[12];
    EXPECT_EQ(linux_hidraw_format_path("/dev/hidraw4", 1, 2, small, sizeof(small)), 0);
    EXPECT_STREQ(small, "");
    // What is formatted parses back to the same node and collection.
    char node[kNodePathCapacity];
    uint32_t collection = 0;
    ASSERT_EQ(linux_hidraw_parse_path(path, node, sizeof(node), &collection), 1);
    EXPECT_STREQ(node, "/dev/hidraw4");
    EXPECT_EQ(collection, 1u);
}

}  // namespace
