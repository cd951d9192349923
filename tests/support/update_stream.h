// The report stream that the protocol fixes for an update, and its comparison with what
// the emulated sensor's model recorded.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "boot_command.h"
#include "platform/sim/sim_sensor_model.h"
#include "update/firmware_catalogue.h"

// One report as the host sent or received it, compared with what the protocol fixes.
struct Report {
    SimEventKind kind;
    uint32_t length;
    std::vector<uint8_t> bytes;  // sets: every byte; gets: ID, echoed opcode and sequence, status
};

inline std::vector<uint8_t> Command(uint8_t opcode, uint8_t sequence, uint32_t address, uint8_t length,
                             const uint8_t* data) {
    std::vector<uint8_t> c(kBootCommandLength);
    EncodeBootCommand(c.data(), opcode, sequence, address, length, data, data != nullptr ? 128 : 0);
    return c;
}

// An acknowledged command: its set, then the get of a reply that echoes it with status 0.
inline void Exchange(std::vector<Report>* stream, const std::vector<uint8_t>& command) {
    stream->push_back({kSimEventSetFeature, 137, command});
    stream->push_back({kSimEventGetFeature, 137, {0x02, command[1], command[2], 0x00}});
}

inline void WordReads(std::vector<Report>* stream) {
    stream->push_back({kSimEventGetFeature, 9, {0x05}});
    stream->push_back({kSimEventGetFeature, 9, {0x06}});
}

// The boot-loader part of one complete update with `image` from the erase on; when
// `refusedAddress` is set, the write pass stops at that block, refused.
inline void BootLoaderPass(std::vector<Report>* stream, const FirmwareImage& image,
                    uint32_t refusedAddress = 0) {
    for (uint8_t i = 0; i < 5; ++i) Exchange(stream, Command(0x00, i, i, 0, nullptr));
    const uint8_t* bytes = ImageBytes(image);
    const uint32_t end = ImageEndAddress(image);
    uint8_t sequence = 0;
    for (uint32_t a = 0x4000; a < end; a += 128) {
        ++sequence;
        std::vector<uint8_t> command = Command(0x01, sequence, a, 0x10, bytes + (a - 0x4000));
        if (a == refusedAddress) {
            stream->push_back({kSimEventSetFeature, 137, command});
            stream->push_back({kSimEventGetFeature, 137, {0x02, 0x01, sequence, 0x01}});
            return;
        }
        Exchange(stream, command);
    }
    uint8_t mark[128];
    std::memset(mark, 0xFF, sizeof mark);
    mark[0] = 0x00;
    Exchange(stream, Command(0x01, 1, 0x23FF8, 0x01, mark));
    Exchange(stream, Command(0x01, 2, 0x1FBF0, 0x01, mark));
    sequence = 0;
    for (uint32_t a = 0x4000; a < end; a += 128) {
        ++sequence;
        Exchange(stream, Command(0x02, sequence, a, 0x10, bytes + (a - 0x4000)));
    }
    Exchange(stream, Command(0x02, 1, 0x23FF8, 0x01, mark));
    stream->push_back({kSimEventSetFeature, 137, Command(0x03, 0, 0, 0, nullptr)});
}

// Milliseconds from the boot loader's appearance to the first erase command; 0 without one.
inline uint64_t BootLoaderToErase(const std::vector<SimTranscriptEntry>& transcript) {
    uint64_t appeared = 0;
    for (const SimTranscriptEntry& e : transcript) {
        if (e.kind == kSimEventModeChange && e.toMode == kSimModeBootLoader) appeared = e.timeMs;
        if (e.kind == kSimEventSetFeature && e.data[0] == 0x01 && e.data[1] == 0x00) {
            return e.timeMs - appeared;
        }
    }
    return 0;
}

inline void ExpectStream(const std::vector<SimTranscriptEntry>& transcript,
                  const std::vector<Report>& expected) {
    std::vector<const SimTranscriptEntry*> reports;
    for (const SimTranscriptEntry& e : transcript) {
        if (e.kind != kSimEventModeChange) reports.push_back(&e);
    }
    ASSERT_EQ(reports.size(), expected.size()) << "number of reports the sensor saw";
    for (size_t i = 0; i < expected.size(); ++i) {
        const SimTranscriptEntry& got = *reports[i];
        const Report& want = expected[i];
        ASSERT_EQ(got.kind, want.kind) << "report " << i;
        ASSERT_EQ(got.length, want.length) << "report " << i;
        ASSERT_EQ(got.outcome, kSimOk) << "report " << i;
        for (size_t b = 0; b < want.bytes.size(); ++b) {
            ASSERT_EQ(got.data[b], want.bytes[b]) << "report " << i << " byte " << b;
        }
    }
}

