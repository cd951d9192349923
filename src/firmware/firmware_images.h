// The two images carried by the program, generated into the build.
#pragma once

#include <cstdint>

// Where a carried image's bytes came from; decided when the program was built.
enum class CarriedOrigin : uint8_t {
    None,         // the program was built without this image: it has nothing to write
    Placeholder,  // made-up bytes of the right size: simulated editions and tests only
    BuildFile,    // the real image file given to the build (ZORFLASH_IMAGE_A / _B)
};

struct CarriedImage {
    // End address (4 bytes, little-endian) followed by the image bytes from 0x4000; null
    // when the origin is None.
    const uint8_t* blob;
    uint32_t blobSize;
    CarriedOrigin origin;
    const char* buildPath;  // the file of a BuildFile image, else ""
};

extern const CarriedImage kCarriedImageA;
extern const CarriedImage kCarriedImageB;
