#include "update/firmware_source.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

enum class FileRead { Ok, Missing, Unreadable, WrongSize };

// Reads the whole file into `blob` behind the end address. A file of another size than the
// image's is refused before a byte of it is kept: a short image would leave the rest of the
// flash erased, a long one was made for another sensor.
FileRead ReadImageFile(const char* path, const ImageShape& shape, uint8_t* blob, long* size,
                       int* error) {
    const uint32_t expected = ShapeByteCount(shape);
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        *error = errno;
        return errno == ENOENT || errno == ENOTDIR ? FileRead::Missing : FileRead::Unreadable;
    }
    FileRead result = FileRead::Ok;
    *size = -1;
    if (std::fseek(file, 0, SEEK_END) != 0 || (*size = std::ftell(file)) < 0 ||
        std::fseek(file, 0, SEEK_SET) != 0) {
        *error = errno;
        result = FileRead::Unreadable;
    } else if (*size != static_cast<long>(expected)) {
        result = FileRead::WrongSize;
    } else {
        // One byte more is asked for than the image holds: a file that grew since its size
        // was taken is refused too.
        errno = 0;
        const size_t got = std::fread(blob + 4, 1, expected, file);
        uint8_t extra;
        if (got != expected || std::ferror(file)) {
            *error = errno != 0 ? errno : EIO;
            result = got < expected && !std::ferror(file) ? FileRead::WrongSize : FileRead::Unreadable;
            *size = static_cast<long>(got);
        } else if (std::fread(&extra, 1, 1, file) != 0) {
            result = FileRead::WrongSize;
        }
    }
    std::fclose(file);
    if (result == FileRead::Ok) {
        for (unsigned i = 0; i < 4; ++i) blob[i] = static_cast<uint8_t>(shape.endAddress >> (8 * i));
    }
    return result;
}

bool TakeFile(const char* directory, const ImageShape& shape, FirmwareSource* source,
              ImageChoice* choice) {
    const size_t length = std::strlen(directory);
    const char* separator = length > 0 && directory[length - 1] == '/' ? "" : "/";
    const int written = std::snprintf(choice->path, sizeof choice->path, "%s%s%s", directory,
                                      separator, shape.fileName);
    const uint32_t expected = ShapeByteCount(shape);
    if (written < 0 || static_cast<size_t>(written) >= sizeof choice->path) {
        choice->origin = ImageOriginKind::FileProblem;
        std::snprintf(choice->problem, sizeof choice->problem,
                      "The firmware folder's name is too long; give a shorter one with "
                      "--firmware-dir.");
        return false;
    }
    long size = 0;
    int error = 0;
    const FileRead read = ReadImageFile(choice->path, shape, source->loaded, &size, &error);
    if (read == FileRead::Ok) {
        choice->origin = ImageOriginKind::File;
        choice->image = FirmwareImage{source->loaded, 4 + expected};
        return true;
    }
    choice->origin = ImageOriginKind::FileProblem;
    switch (read) {
    case FileRead::Missing:
        std::snprintf(choice->problem, sizeof choice->problem,
                      "No firmware file %s: put the vendor's image %c there (exactly %u bytes) "
                      "or name its folder with --firmware-dir.",
                      choice->path, shape.letter, expected);
        break;
    case FileRead::WrongSize:
        std::snprintf(choice->problem, sizeof choice->problem,
                      "Firmware file %s holds %ld bytes; image %c must hold exactly %u bytes.",
                      choice->path, size, shape.letter, expected);
        break;
    default:
        std::snprintf(choice->problem, sizeof choice->problem,
                      "Firmware file %s cannot be read (%s); image %c must be a readable file "
                      "of exactly %u bytes.",
                      choice->path, std::strerror(error), shape.letter, expected);
        break;
    }
    return false;
}

}  // namespace

bool ChooseImage(uint16_t kind, FirmwareSource* source, ImageChoice* choice) {
    choice->origin = ImageOriginKind::NotCarried;
    choice->image = FirmwareImage{nullptr, 0};
    choice->path[0] = '\0';
    choice->problem[0] = '\0';
    const ImageShape& shape = ImageShapeForKind(kind);

    if (source != nullptr && source->directory != nullptr) {
        return TakeFile(source->directory, shape, source, choice);
    }
    const CarriedImage& carried = CarriedImageForKind(kind);
    if (carried.origin != CarriedOrigin::None) {
        choice->origin = ImageOriginKind::Carried;
        choice->image = ImageForKind(kind);
        return true;
    }
    if (source != nullptr && source->fallbackDirectory != nullptr) {
        return TakeFile(source->fallbackDirectory, shape, source, choice);
    }
    std::snprintf(choice->problem, sizeof choice->problem,
                  "This program was built without firmware image %c, so it cannot update this "
                  "sensor; build it with ZORFLASH_IMAGE_%c naming the vendor's image file.",
                  shape.letter, shape.letter);
    return false;
}
