// Writes the placeholder images as image files (image-a.bin, image-b.bin) into a folder, so
// that the Windows edition under test can be built with "real" images: a zorflash.exe
// built without them would, rightly, write nothing to the emulated sensor. Built with the
// build's firmware_layout.h on its include path (cmake -P cmake/firmware_images.cmake makes
// it before any configure).
//   write_placeholder_images FOLDER
#include <cstdio>
#include <string>

#include "firmware/placeholder_image.h"

namespace {

template <typename Blob>
bool Write(const std::string& path, const Blob& blob) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    // The end address in front of the bytes is the program's, not the file's.
    const size_t count = blob.bytes.size() - 4;
    const bool ok = std::fwrite(blob.bytes.data() + 4, 1, count, file) == count;
    return std::fclose(file) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: write_placeholder_images FOLDER\n");
        return 2;
    }
    // The build's placeholders, from its table of images.
    static constexpr auto kImageA = MakePlaceholderBlob<kImageShapeA.endAddress>(kPlaceholderSeedA);
    static constexpr auto kImageB = MakePlaceholderBlob<kImageShapeB.endAddress>(kPlaceholderSeedB);
    const std::string folder = argv[1];
    if (!Write(folder + "/" + kImageShapeA.fileName, kImageA) ||
        !Write(folder + "/" + kImageShapeB.fileName, kImageB)) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
