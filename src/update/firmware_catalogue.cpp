#include "update/firmware_catalogue.h"

#include <cstdio>

#include "firmware/firmware_images.h"

namespace {

const FirmwareImage kImageA = {kCarriedImageA.blob, kCarriedImageA.blobSize};
const FirmwareImage kImageB = {kCarriedImageB.blob, kCarriedImageB.blobSize};

// What each image brings; constants of the catalogue, not read from the images.
constexpr uint16_t kNewVersionA = 0x0610;
constexpr uint16_t kNewVersionB = 0x0139;
constexpr uint16_t kNewReport5WordB = 6;

// Family-0 policy by firmware version, in ascending ranges (0xFFFF, "not read", is
// handled before the table).
struct VersionRange {
    uint16_t first;
    uint16_t last;
    VersionVerdict verdict;
};
constexpr VersionRange kFamily0Policy[] = {
    {0x0000, 0x013F, VersionVerdict::Mismatch},
    {0x0140, 0x014F, VersionVerdict::Proceed},
    {0x0150, 0x060F, VersionVerdict::Mismatch},
    {0x0610, 0x0610, VersionVerdict::UpToDate},
    // Newer test builds of the same line take the released image, lower as its number is.
    {0x0611, 0x0619, VersionVerdict::Proceed},
    {0x061A, 0xFFFE, VersionVerdict::Mismatch},
};

}  // namespace

uint32_t ImageEndAddress(const FirmwareImage& image) {
    return static_cast<uint32_t>(image.blob[0]) | static_cast<uint32_t>(image.blob[1]) << 8 |
           static_cast<uint32_t>(image.blob[2]) << 16 | static_cast<uint32_t>(image.blob[3]) << 24;
}

const uint8_t* ImageBytes(const FirmwareImage& image) { return image.blob + 4; }

uint32_t ImageByteCount(const FirmwareImage& image) { return ImageEndAddress(image) + 1 - kFlashStartAddress; }

const FirmwareImage& ImageForKind(uint16_t kind) { return kind == kSensorFamily0 ? kImageA : kImageB; }

const CarriedImage& CarriedImageForKind(uint16_t kind) {
    return kind == kSensorFamily0 ? kCarriedImageA : kCarriedImageB;
}

// The build's table of images names each image's family by the sensor's kinds.
static_assert(kImageShapeA.family == kSensorFamily0 && kImageShapeB.family == kSensorFamily1,
              "image A is family 0's, image B family 1's");

const ImageShape& ImageShapeForKind(uint16_t kind) {
    return kind == kSensorFamily0 ? kImageShapeA : kImageShapeB;
}

VersionVerdict CheckFirmwareVersion(const SensorInfo& info) {
    if (info.firmwareVersion == kValueNotRead) return VersionVerdict::Proceed;
    if (info.kind == kSensorFamily0) {
        for (const VersionRange& range : kFamily0Policy) {
            if (info.firmwareVersion >= range.first && info.firmwareVersion <= range.last) {
                return range.verdict;
            }
        }
        return VersionVerdict::Mismatch;
    }
    // Family 1: only version 0x0139 is served; report word 5 tells the panel variant
    // (6 is the carried one, 2 the one it replaces) and word 6 must read 1.
    if (info.firmwareVersion != kNewVersionB) return VersionVerdict::Mismatch;
    if (info.report5Word != 6 && info.report5Word != 2) return VersionVerdict::Mismatch;
    if (info.report6Word != 1) return VersionVerdict::Mismatch;
    return info.report5Word == kNewReport5WordB ? VersionVerdict::UpToDate : VersionVerdict::Proceed;
}

void FormatNewVersion(uint16_t kind, char* text, size_t capacity) {
    if (kind == kSensorFamily0) {
        std::snprintf(text, capacity, "%04X", kNewVersionA);
    } else {
        std::snprintf(text, capacity, "%04X P%04X", kNewVersionB, kNewReport5WordB);
    }
}

void FormatCurrentVersion(const SensorInfo& info, const char* unknownText, char* text,
                          size_t capacity) {
    if (info.kind == kSensorNone || info.firmwareVersion == kValueNotRead) {
        std::snprintf(text, capacity, "%s", unknownText);
    } else if (info.kind == kSensorFamily0) {
        std::snprintf(text, capacity, "%04X", info.firmwareVersion);
    } else {
        std::snprintf(text, capacity, "%04X P%04X", info.firmwareVersion, info.report5Word);
    }
}
