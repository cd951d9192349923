// Who the sensor is on the USB bus: the identities the core looks for and a platform may
// need to recognise (to name a sensor it cannot open, for instance). Defined here once.
#pragma once

#include <cstdint>

constexpr uint16_t kSensorVendorId = 0xF0A5;
constexpr uint16_t kProductFamily0 = 0x0090;     // normal mode, family 0 (image A)
constexpr uint16_t kProductFamily1 = 0x00E6;     // normal mode, family 1 (image B)
constexpr uint16_t kProductBootLoader = 0x0094;  // boot loader of either family

// Top-level collections that carry the sensor's reports.
constexpr uint16_t kUsagePageDigitizer = 0x000D;
constexpr uint16_t kUsageDigitizer = 0x0001;     // the boot loader's collection
constexpr uint16_t kUsagePen = 0x0002;           // family 0's collection
constexpr uint16_t kUsagePageVendor = 0xFF00;    // family 1's collection: vendor page 0xFF00,
constexpr uint16_t kUsageVendorReports = 0x0001; // usage 1

inline bool IsSensorProduct(uint16_t vendorId, uint16_t productId) {
    return vendorId == kSensorVendorId &&
           (productId == kProductFamily0 || productId == kProductFamily1 ||
            productId == kProductBootLoader);
}

// A text that is built at run time formats a product from the constants above ("0x%04X");
// one that must stay a literal (a help text, a table of record lines) is held to them by a
// static_assert beside it, reading the numbers back out of it with these.

// The value of one hex digit (either case); -1 for any other character.
constexpr int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The number written in hex digits (either case) at the start of `text`.
constexpr uint32_t HexNumberAt(const char* text) {
    uint32_t value = 0;
    for (; HexDigitValue(*text) >= 0; ++text) {
        value = value * 16 + static_cast<uint32_t>(HexDigitValue(*text));
    }
    return value;
}

// The number after the `n`th "0x" of `text` (counted from 0); 0 when there is none.
constexpr uint32_t ProductNumberInText(const char* text, unsigned n) {
    for (; *text != '\0'; ++text) {
        if (text[0] != '0' || text[1] != 'x') continue;
        if (n == 0) return HexNumberAt(text + 2);
        --n;
    }
    return 0;
}
