// Helpers shared by the simulated-sensor tests: boot-loader commands built byte by byte.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>

#include "boot_command.h"
#include "platform/sim/sim_sensor_model.h"

using Report = std::array<uint8_t, kSimBootReportLength>;
static_assert(kSimBootReportLength == kBootCommandLength, "the model's boot report is a command");

// A boot-loader command (feature report 1).
inline Report BootCommand(uint8_t opcode, uint8_t sequence, uint32_t address, uint8_t units,
                          const uint8_t* data = nullptr, size_t dataLength = 0) {
    Report r;
    EncodeBootCommand(r.data(), opcode, sequence, address, units, data, dataLength);
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
