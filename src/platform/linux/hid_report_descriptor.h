// What Windows' HidP_GetCaps tells about a HID interface, computed from the raw report
// descriptor that Linux exposes. Pure code: no system calls.
#pragma once

#include <cstddef>
#include <cstdint>

// One top-level collection, as Windows lists it: a node of its own with this usage and the
// largest report of each kind that belongs to it. Lengths include the report-ID byte in
// front of the data; Windows counts that byte also when the device uses no report IDs (it
// is then 0), so a collection with any report of a kind has a length of at least 2.
struct HidTopCollection {
    uint16_t usagePage;
    uint16_t usage;
    uint16_t inputReportByteLength;
    uint16_t outputReportByteLength;
    uint16_t featureReportByteLength;
};

// Nodes rarely carry more than a handful of collections (a keyboard with media keys has
// two or three); further ones are not listed.
constexpr uint32_t kMaxTopCollections = 16;

struct HidDescriptorSummary {
    uint32_t collectionCount;  // top-level collections listed in `collections`
    HidTopCollection collections[kMaxTopCollections];
};

// Parses a report descriptor. Returns true and fills `summary` when the descriptor is well
// formed (every item complete, collections balanced, push/pop balanced, no main item
// outside a collection), else 0 with `summary->collectionCount` 0.
bool linux_parse_hid_report_descriptor(const uint8_t* descriptor, size_t length,
                                       HidDescriptorSummary* summary);
