// The boot loader's command as the host sends it (feature report 1), encoded byte by byte
// the way the tests expect to see it on the wire: report ID 1, opcode, sequence, the address
// little-endian, the length in 8-byte units, 128 data bytes, one spare byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

constexpr size_t kBootCommandLength = 137;
constexpr size_t kBootCommandDataOffset = 8;

// Writes the command into `out` (kBootCommandLength bytes); `dataLength` bytes of `data`, at
// most 128, go to the data field and the rest stays zero.
inline void EncodeBootCommand(uint8_t* out, uint8_t opcode, uint8_t sequence, uint32_t address,
                              uint8_t units, const uint8_t* data = nullptr, size_t dataLength = 0) {
    std::memset(out, 0, kBootCommandLength);
    out[0] = 0x01;
    out[1] = opcode;
    out[2] = sequence;
    out[3] = static_cast<uint8_t>(address);
    out[4] = static_cast<uint8_t>(address >> 8);
    out[5] = static_cast<uint8_t>(address >> 16);
    out[6] = static_cast<uint8_t>(address >> 24);
    out[7] = units;
    if (data != nullptr) std::memcpy(out + kBootCommandDataOffset, data, dataLength);
}
