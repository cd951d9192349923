// Deterministic stand-in images of the right size, made by the compiler, for builds that
// are not given the real image files. Their bytes look like code (pseudo-random) with
// erased stretches (0xFF blocks) as real images have, so every kind of block is exercised.
#pragma once

#include <array>
#include <cstdint>

#include "firmware_layout.h"

template <uint32_t EndAddress>
struct PlaceholderBlob {
    static constexpr uint32_t kByteCount = EndAddress + 1 - kFlashStartAddress;
    std::array<uint8_t, 4 + kByteCount> bytes{};
};

template <uint32_t EndAddress>
constexpr PlaceholderBlob<EndAddress> MakePlaceholderBlob(uint32_t seed) {
    PlaceholderBlob<EndAddress> blob{};
    blob.bytes[0] = static_cast<uint8_t>(EndAddress);
    blob.bytes[1] = static_cast<uint8_t>(EndAddress >> 8);
    blob.bytes[2] = static_cast<uint8_t>(EndAddress >> 16);
    blob.bytes[3] = static_cast<uint8_t>(EndAddress >> 24);
    uint32_t state = seed;
    const uint32_t blocks = PlaceholderBlob<EndAddress>::kByteCount / kFlashBlockSize;
    for (uint32_t i = 0; i < PlaceholderBlob<EndAddress>::kByteCount; ++i) {
        const uint32_t block = i / kFlashBlockSize;
        const bool erased = (block % 37 == 5) || block + 2 >= blocks;
        state = state * 1664525u + 1013904223u;
        blob.bytes[4 + i] = erased ? 0xFF : static_cast<uint8_t>(state >> 24);
    }
    return blob;
}
