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
