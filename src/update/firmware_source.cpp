#include "update/firmware_source.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "platform/system.h"

namespace {

// What the platform found at a path that was not a regular file, in a sentence's words.
const char* KindWords(PlatFileKind kind) {
    switch (kind) {
    case kFileFifo: return "a FIFO";
    case kFileDevice: return "a device";
    case kFileFolder: return "a folder";
    case kFileDanglingLink: return "a symbolic link to nothing (dangling)";
    default: break;
    }
    return "a socket or another special file";
}

bool JoinPath(const char* directory, const char* name, char* path, size_t capacity) {
    const size_t length = std::strlen(directory);
    const char* separator = length > 0 && directory[length - 1] == '/' ? "" : "/";
    const int written = std::snprintf(path, capacity, "%s%s%s", directory, separator, name);
    return written >= 0 && static_cast<size_t>(written) < capacity;
}

// Reads the whole image file into `blob` behind the end address. A file of another size than
// the image's is refused before a byte of it is used: a short image would leave the rest of
// the flash erased, a long one was made for another sensor.
bool ReadImageFile(const ImageShape& shape, uint8_t* blob, ImageChoice* choice) {
    const uint32_t expected = shape.byteCount;
    PlatFileRead read;
    plat_read_regular_file(choice->path, blob + 4, expected, &read);
    const unsigned long long size = read.kind == kFileRegular ? read.length : read.size;
    switch (read.kind) {
    case kFileRegular:
        if (read.length == expected) {
            for (unsigned i = 0; i < 4; ++i) {
                blob[i] = static_cast<uint8_t>(shape.endAddress >> (8 * i));
            }
            return true;
        }
        [[fallthrough]];
    case kFileTooLarge:
        std::snprintf(choice->problem, sizeof choice->problem,
                      "Firmware file %s holds %llu bytes; image %c must hold exactly %u bytes.",
                      choice->path, size, shape.letter, expected);
        return false;
    case kFileMissing:
        std::snprintf(choice->problem, sizeof choice->problem,
                      "No firmware file %s: put the vendor's image %c there (exactly %u bytes) "
                      "or name its folder with --firmware-dir.",
                      choice->path, shape.letter, expected);
        return false;
    case kFileUnreadable:
        std::snprintf(choice->problem, sizeof choice->problem,
                      "Firmware file %s cannot be read (%s); image %c must be a readable file "
                      "of exactly %u bytes.",
                      choice->path, read.reason, shape.letter, expected);
        return false;
    default:
        break;
    }
    std::snprintf(choice->problem, sizeof choice->problem,
                  "Firmware file %s is %s, not a regular file; image %c must be a regular file "
                  "of exactly %u bytes.",
                  choice->path, KindWords(read.kind), shape.letter, expected);
    return false;
}

bool IsHexDigit(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

// The sum a line of `list` gives for `fileName`, in sha256sum's format ("<64 hex>  name" or
// "<64 hex> *name", "./name" too); the first line that names it, else null. Lines of any
// other form are skipped, as sha256sum --check skips them.
const char* SumListedFor(const char* list, size_t length, const char* fileName, size_t* lineEnd) {
    const size_t nameLength = std::strlen(fileName);
    for (size_t start = *lineEnd; start < length; start = *lineEnd) {
        const char* newline = static_cast<const char*>(std::memchr(list + start, '\n', length - start));
        *lineEnd = newline != nullptr ? static_cast<size_t>(newline - list) + 1 : length;
        size_t end = newline != nullptr ? static_cast<size_t>(newline - list) : length;
        if (end > start && list[end - 1] == '\r') --end;  // a list edited on Windows
        const char* line = list + start;
        const size_t lineLength = end - start;
        if (lineLength < 66 || line[64] != ' ' || (line[65] != ' ' && line[65] != '*')) continue;
        bool hex = true;
        for (size_t i = 0; i < 64; ++i) hex = hex && IsHexDigit(line[i]);
        const char* name = line + 66;
        size_t nameLeft = lineLength - 66;
        if (nameLeft >= 2 && name[0] == '.' && name[1] == '/') name += 2, nameLeft -= 2;
        if (hex && nameLeft == nameLength && std::memcmp(name, fileName, nameLength) == 0) {
            return line;
        }
    }
    return nullptr;
}

// With a SHA256SUMS in the image's folder, the image must match every line that names it,
// and at least one must. No entry of that name at all: nothing to check. Anything else of
// that name that cannot be read whole as a regular file (a link to nothing or to a folder, a
// folder, a FIFO, a device, a list this user may not read or one too large) refuses the image:
// the list was meant to vouch for it.
bool CheckListedSum(const char* directory, const ImageShape& shape, FirmwareSource* source,
                    ImageChoice* choice) {
    char listPath[kFirmwarePathCapacity];
    if (!JoinPath(directory, kChecksumListName, listPath, sizeof listPath)) {
        std::snprintf(choice->problem, sizeof choice->problem,
                      "The firmware folder's name is too long; give a shorter one with "
                      "--firmware-dir.");
        return false;
    }
    PlatFileRead read;
    plat_read_regular_file(listPath, source->checksums, sizeof source->checksums, &read);
    switch (read.kind) {
    case kFileMissing:
        return true;
    case kFileRegular:
        break;
    case kFileTooLarge:
        std::snprintf(choice->problem, sizeof choice->problem,
                      "The checksum list %s holds %llu bytes, more than the %u it may; firmware "
                      "file %s is not used unchecked.",
                      listPath, static_cast<unsigned long long>(read.size),
                      static_cast<unsigned>(kChecksumListCapacity), choice->path);
        return false;
    case kFileUnreadable:
        std::snprintf(choice->problem, sizeof choice->problem,
                      "The checksum list %s cannot be read (%s); firmware file %s is not used "
                      "unchecked.",
                      listPath, read.reason, choice->path);
        return false;
    default:
        std::snprintf(choice->problem, sizeof choice->problem,
                      "The checksum list %s is %s, not a regular file; firmware file %s is not "
                      "used unchecked.",
                      listPath, KindWords(read.kind), choice->path);
        return false;
    }
    const char* list = reinterpret_cast<const char*>(source->checksums);
    size_t next = 0;
    const char* listed = SumListedFor(list, read.length, shape.fileName, &next);
    if (listed == nullptr) {
        std::snprintf(choice->problem, sizeof choice->problem,
                      "Firmware file %s has no line in %s, so it is not used; its SHA-256 is %s.",
                      choice->path, listPath, choice->sha256);
        return false;
    }
    for (; listed != nullptr; listed = SumListedFor(list, read.length, shape.fileName, &next)) {
        bool same = true;
        for (size_t i = 0; i < 64; ++i) {
            same = same && std::tolower(static_cast<unsigned char>(listed[i])) == choice->sha256[i];
        }
        if (!same) {
            std::snprintf(choice->problem, sizeof choice->problem,
                          "Firmware file %s does not match %s: its SHA-256 is %s, the list says "
                          "%.64s.",
                          choice->path, listPath, choice->sha256, listed);
            return false;
        }
    }
    return true;
}

bool TakeFile(const char* directory, const ImageShape& shape, FirmwareSource* source,
              ImageChoice* choice) {
    choice->origin = ImageOriginKind::FileProblem;
    if (!JoinPath(directory, shape.fileName, choice->path, sizeof choice->path)) {
        std::snprintf(choice->problem, sizeof choice->problem,
                      "The firmware folder's name is too long; give a shorter one with "
                      "--firmware-dir.");
        return false;
    }
    if (!ReadImageFile(shape, source->loaded, choice)) return false;
    const uint32_t expected = shape.byteCount;
    Sha256Hex(source->loaded + 4, expected, choice->sha256);
    if (!CheckListedSum(directory, shape, source, choice)) return false;
    choice->origin = ImageOriginKind::File;
    choice->image = FirmwareImage{source->loaded, 4 + expected};
    return true;
}

}  // namespace

bool ChooseImage(uint16_t kind, FirmwareSource* source, ImageChoice* choice) {
    choice->origin = ImageOriginKind::NotCarried;
    choice->image = FirmwareImage{nullptr, 0};
    choice->path[0] = '\0';
    choice->problem[0] = '\0';
    choice->sha256[0] = '\0';
    const ImageShape& shape = ImageShapeForKind(kind);

    bool usable = false;
    if (source != nullptr && source->directory != nullptr) {
        usable = TakeFile(source->directory, shape, source, choice);
    } else if (CarriedImageForKind(kind).origin != CarriedOrigin::None) {
        choice->origin = ImageOriginKind::Carried;
        choice->image = ImageForKind(kind);
        Sha256Hex(ImageBytes(choice->image), ImageByteCount(choice->image), choice->sha256);
        usable = true;
    } else if (source != nullptr && source->fallbackDirectory != nullptr) {
        usable = TakeFile(source->fallbackDirectory, shape, source, choice);
    } else {
        std::snprintf(choice->problem, sizeof choice->problem,
                      "This program was built without firmware image %c, so it cannot update "
                      "this sensor; build it with ZORFLASH_IMAGE_%c naming the vendor's image "
                      "file.",
                      shape.letter, shape.letter);
    }
    // A file that failed its check keeps its sum out of the choice: nothing will be written.
    if (!usable && choice->origin != ImageOriginKind::Carried) choice->sha256[0] = '\0';
    return usable;
}
