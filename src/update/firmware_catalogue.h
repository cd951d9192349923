// The built-in images, the versions they bring and the rule that decides an update.
#pragma once

#include <cstddef>
#include <cstdint>

#include "firmware/firmware_images.h"
#include "firmware_layout.h"
#include "sensor/sensor_info.h"

// One built-in image: `blob` holds the 32-bit little-endian end address followed by the
// flash contents from 0x4000 up to and including the end address.
struct FirmwareImage {
    const uint8_t* blob;
    uint32_t blobSize;
};

uint32_t ImageEndAddress(const FirmwareImage& image);
const uint8_t* ImageBytes(const FirmwareImage& image);
uint32_t ImageByteCount(const FirmwareImage& image);

// The carried image: A for kind 0, B for any other kind. Its blob is null when the program
// was built without it (see CarriedImageForKind).
const FirmwareImage& ImageForKind(uint16_t kind);
const CarriedImage& CarriedImageForKind(uint16_t kind);

// What the image for `kind` must look like (firmware_layout.h): A for kind 0, B for any
// other kind.
const ImageShape& ImageShapeForKind(uint16_t kind);

enum class VersionVerdict { Proceed, UpToDate, Mismatch };

VersionVerdict CheckFirmwareVersion(const SensorInfo& info);

constexpr size_t kVersionTextCapacity = 32;
// The version shown where none was read (the dialog's field, --info, the JSON report, the
// history's summary): FormatCurrentVersion's `unknownText`.
constexpr char kUnknownVersion[] = "????";
void FormatNewVersion(uint16_t kind, char* text, size_t capacity);
void FormatCurrentVersion(const SensorInfo& info, const char* unknownText, char* text,
                          size_t capacity);
