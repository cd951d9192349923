// SHA-256 of an image, so that a user can compare what the program writes with the sums
// the vendor publishes.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t kSha256HexCapacity = 65;  // 64 hex digits and the terminator

// Writes the digest of `bytes` as 64 lower-case hex digits and a terminator.
void Sha256Hex(const uint8_t* bytes, size_t count, char hex[kSha256HexCapacity]);
