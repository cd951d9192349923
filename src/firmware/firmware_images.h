// The two images carried by the program, generated into the build.
#pragma once

#include <cstdint>

// End address (4 bytes, little-endian) followed by the image bytes from 0x4000.
extern const uint8_t* const kFirmwareBlobA;
extern const uint32_t kFirmwareBlobASize;
extern const uint8_t* const kFirmwareBlobB;
extern const uint32_t kFirmwareBlobBSize;
