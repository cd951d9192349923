// Which bytes an update writes: a file from the firmware folder the user named, else the
// image the program carries, else a file from the system's firmware folder. The choice is
// made, and a file read whole, before anything is sent to the sensor; the same bytes are
// then written and verified by every attempt.
//
// Only regular files are read. A folder that holds a SHA256SUMS file (as sha256sum writes
// it) vouches for its images: an image whose SHA-256 differs from its line, or that has
// none, is not used. Any other entry of that name (a link to nothing, a folder, a FIFO, a
// list that cannot be read) refuses every image: only no entry at all means no list.
#pragma once

#include <cstddef>
#include <cstdint>

#include "firmware/sha256.h"
#include "update/firmware_catalogue.h"

constexpr uint32_t kLargestImageBlobSize = 4 + kLargestImageByteCount;  // end address and image
constexpr size_t kFirmwarePathCapacity = 1024;
// Two paths (an image and its folder's SHA256SUMS) and two sums fit in one sentence.
constexpr size_t kImageProblemCapacity = 2 * kFirmwarePathCapacity + 384;
// A SHA256SUMS file is read whole; one of more bytes is refused, never half read.
constexpr size_t kChecksumListCapacity = 16384;
constexpr char kChecksumListName[] = "SHA256SUMS";

// Where the program may look for image files, and room for one image read from a file.
// Owned by the program's entry; the update worker writes `loaded` while it runs.
struct FirmwareSource {
    const char* directory;          // --firmware-dir: files from here only; null when not given
    const char* fallbackDirectory;  // for a family whose image is not carried; null: none
    uint8_t loaded[kLargestImageBlobSize];
    uint8_t checksums[kChecksumListCapacity];  // the folder's SHA256SUMS while it is checked
};

enum class ImageOriginKind {
    Carried,      // built into the program (a real file, or a simulated edition's placeholder)
    File,         // read from `path`
    NotCarried,   // built without it, and no folder to look in
    FileProblem,  // the file at `path` is missing, not a regular file, unreadable, of the
                  // wrong size, or does not match its folder's SHA256SUMS
};

struct ImageChoice {
    ImageOriginKind origin;
    FirmwareImage image;                   // the bytes to write, for Carried and File
    char path[kFirmwarePathCapacity];      // the file read or tried, else ""
    char problem[kImageProblemCapacity];   // one sentence for the status line, else ""
    // SHA-256 of the bytes to write, as sha256sum gives it for the image file (the end
    // address in front of them is not part of it); "" when there is no image.
    char sha256[kSha256HexCapacity];
};

// Decides the image for a sensor of `kind` and reads its file when it comes from one.
// `source` may be null: carried images only. True when `choice->image` can be written.
bool ChooseImage(uint16_t kind, FirmwareSource* source, ImageChoice* choice);
