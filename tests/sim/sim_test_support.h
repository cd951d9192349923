// Helpers shared by the simulated-sensor tests: boot-loader commands built byte by byte.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>

#include "platform/sim/sim_sensor_model.h"

using Report = std::array<uint8_t, kSimBootReportLength>;

// A boot-loader command (feature report 1): id, opcode, sequence, LE address, length in
// 8-byte units, 128 data bytes, spare.
inline Report BootCommand(uint8_t opcode, uint8_t sequence, uint32_t address, uint8_t units,
                          const uint8_t* data = nullptr, size_t dataLength = 0) {
    Report r{};
    r[0] = 0x01;
    r[1] = opcode;
    r[2] = sequence;
    r[3] = static_cast<uint8_t>(address);
    r[4] = static_cast<uint8_t>(address >> 8);
    r[5] = static_cast<uint8_t>(address >> 16);
    r[6] = static_cast<uint8_t>(address >> 24);
    r[7] = units;
    if (data != nullptr) std::memcpy(r.data() + 8, data, dataLength);
    return r;
}

inline Report EraseCommand(uint8_t block) { return BootCommand(0, block, block, 0); }

inline Report ReplyRequest() {
    Report r{};
    r[0] = 0x02;
    return r;
}

// 128 bytes that differ from their neighbours, seeded per test.
inline std::array<uint8_t, 128> Pattern(uint8_t seed) {
    std::array<uint8_t, 128> p{};
    for (size_t i = 0; i < p.size(); ++i) p[i] = static_cast<uint8_t>(seed + i * 13);
    return p;
}

// The write mark as the update sends it: 00 followed by 0xFF.
inline std::array<uint8_t, 128> MarkData() {
    std::array<uint8_t, 128> p;
    p.fill(0xFF);
    p[0] = 0x00;
    return p;
}
