// Report descriptor walk by the item rules of HID 1.11, section 6.2.2: short items of
// 0, 1, 2 or 4 data bytes, long items skipped, global state with push/pop, local state
// cleared by every main item. Only what HidP_GetCaps reports is gathered.
#include "platform/linux/hid_report_descriptor.h"

#include <cstring>

namespace {

enum ItemType : uint8_t { kItemMain = 0, kItemGlobal = 1, kItemLocal = 2 };

enum MainTag : uint8_t {
    kMainInput = 0x8,
    kMainOutput = 0x9,
    kMainCollection = 0xA,
    kMainFeature = 0xB,
    kMainEndCollection = 0xC,
};

enum GlobalTag : uint8_t {
    kGlobalUsagePage = 0x0,
    kGlobalReportSize = 0x7,
    kGlobalReportId = 0x8,
    kGlobalReportCount = 0x9,
    kGlobalPush = 0xA,
    kGlobalPop = 0xB,
};

enum LocalTag : uint8_t { kLocalUsage = 0x0, kLocalUsageMinimum = 0x1 };

constexpr uint8_t kLongItemPrefix = 0xFE;
constexpr uint32_t kPushDepth = 8;  // deeper stacks do not occur in real descriptors

// Input, Output, Feature.
enum ReportKind { kInput = 0, kOutput = 1, kFeature = 2, kReportKinds = 3 };

struct GlobalState {
    uint32_t usagePage;
    uint32_t reportSize;   // bits per field
    uint32_t reportCount;  // fields
    uint32_t reportId;     // 0 until a Report ID item
};

struct ParserState {
    GlobalState global;
    GlobalState stack[kPushDepth];
    uint32_t stackDepth;
    // First usage of the local state (extended: page in the high 16 bits when it came with
    // a 4-byte item), 0 when none was given since the last main item.
    uint32_t firstUsage;
    bool haveUsage;
    uint32_t collectionDepth;
    // Bits per report ID and kind, for the top-level collection being read. Report IDs do
    // not cross top-level collections, so one table is reused for each.
    uint32_t bits[kReportKinds][256];
};

uint32_t ItemValue(const uint8_t* data, uint32_t size) {
    uint32_t value = 0;
    for (uint32_t i = 0; i < size; ++i) value |= static_cast<uint32_t>(data[i]) << (8 * i);
    return value;
}

uint16_t ReportLength(const ParserState& state, ReportKind kind) {
    uint32_t largest = 0;
    for (uint32_t id = 0; id < 256; ++id) {
        if (state.bits[kind][id] > largest) largest = state.bits[kind][id];
    }
    if (largest == 0) return 0;
    // Data bytes plus the report-ID byte that Windows always puts in front.
    const uint32_t length = (largest + 7) / 8 + 1;
    return static_cast<uint16_t>(length > 0xFFFF ? 0xFFFF : length);
}

}  // namespace

bool linux_parse_hid_report_descriptor(const uint8_t* descriptor, size_t length,
                                       HidDescriptorSummary* summary) {
    std::memset(summary, 0, sizeof(*summary));
    if (descriptor == nullptr && length != 0) return false;

    static_assert(sizeof(ParserState) < 4096, "parser state stays on the stack");
    ParserState state;
    std::memset(&state, 0, sizeof(state));
    HidTopCollection current = {};
    bool listCurrent = false;

    size_t pos = 0;
    while (pos < length) {
        const uint8_t prefix = descriptor[pos];
        if (prefix == kLongItemPrefix) {
            // Long item: prefix, data size, tag, data. No standard long items exist.
            if (pos + 2 >= length) return false;
            const size_t dataSize = descriptor[pos + 1];
            if (pos + 3 + dataSize > length) return false;
            pos += 3 + dataSize;
            continue;
        }
        const uint32_t sizeCode = prefix & 0x3;
        const uint32_t size = sizeCode == 3 ? 4 : sizeCode;
        const uint8_t type = (prefix >> 2) & 0x3;
        const uint8_t tag = prefix >> 4;
        if (pos + 1 + size > length) {
            std::memset(summary, 0, sizeof(*summary));
            return false;
        }
        const uint32_t value = ItemValue(descriptor + pos + 1, size);
        pos += 1 + size;

        if (type == kItemGlobal) {
            switch (tag) {
            case kGlobalUsagePage: state.global.usagePage = value; break;
            case kGlobalReportSize: state.global.reportSize = value; break;
            case kGlobalReportCount: state.global.reportCount = value; break;
            case kGlobalReportId:
                if (value == 0 || value > 255) {
                    std::memset(summary, 0, sizeof(*summary));
                    return false;
                }
                state.global.reportId = value;
                break;
            case kGlobalPush:
                if (state.stackDepth == kPushDepth) {
                    std::memset(summary, 0, sizeof(*summary));
                    return false;
                }
                state.stack[state.stackDepth++] = state.global;
                break;
            case kGlobalPop:
                if (state.stackDepth == 0) {
                    std::memset(summary, 0, sizeof(*summary));
                    return false;
                }
                state.global = state.stack[--state.stackDepth];
                break;
            default: break;  // logical/physical ranges, units: not part of the caps we need
            }
            continue;
        }
        if (type == kItemLocal) {
            if ((tag == kLocalUsage || tag == kLocalUsageMinimum) && !state.haveUsage) {
                // A 4-byte usage carries its own page in the high half (extended usage).
                state.firstUsage = size == 4 ? value : (state.global.usagePage << 16) | value;
                state.haveUsage = true;
            }
            continue;
        }
        if (type != kItemMain) continue;  // reserved item type: skipped

        switch (tag) {
        case kMainCollection:
            if (state.collectionDepth == 0) {
                current = {};
                current.usagePage = static_cast<uint16_t>(state.firstUsage >> 16);
                current.usage = static_cast<uint16_t>(state.firstUsage);
                listCurrent = summary->collectionCount < kMaxTopCollections;
                std::memset(state.bits, 0, sizeof(state.bits));
            }
            ++state.collectionDepth;
            break;
        case kMainEndCollection:
            if (state.collectionDepth == 0) {
                std::memset(summary, 0, sizeof(*summary));
                return false;
            }
            --state.collectionDepth;
            if (state.collectionDepth == 0 && listCurrent) {
                current.inputReportByteLength = ReportLength(state, kInput);
                current.outputReportByteLength = ReportLength(state, kOutput);
                current.featureReportByteLength = ReportLength(state, kFeature);
                summary->collections[summary->collectionCount++] = current;
            }
            break;
        case kMainInput:
        case kMainOutput:
        case kMainFeature: {
            if (state.collectionDepth == 0) {
                std::memset(summary, 0, sizeof(*summary));
                return false;
            }
            const ReportKind kind =
                tag == kMainInput ? kInput : (tag == kMainOutput ? kOutput : kFeature);
            const uint64_t add =
                static_cast<uint64_t>(state.global.reportSize) * state.global.reportCount;
            uint64_t total = state.bits[kind][state.global.reportId] + add;
            if (total > 0xFFFFFFFFu) total = 0xFFFFFFFFu;
            state.bits[kind][state.global.reportId] = static_cast<uint32_t>(total);
            break;
        }
        default: break;
        }
        // Every main item ends the local state.
        state.firstUsage = 0;
        state.haveUsage = false;
    }

    if (state.collectionDepth != 0) {
        std::memset(summary, 0, sizeof(*summary));
        return false;
    }
    return true;
}
