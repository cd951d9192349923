// The built-in images, the version texts and the rule that decides an update.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "update/firmware_catalogue.h"
#include "update/firmware_source.h"

namespace {

SensorInfo Info(uint16_t kind, uint16_t version, uint16_t r5 = 0xFFFF, uint16_t r6 = 0xFFFF) {
    return SensorInfo{kind, version, r5, r6};
}

const char* Name(VersionVerdict v) {
    switch (v) {
    case VersionVerdict::Proceed: return "Proceed";
    case VersionVerdict::UpToDate: return "UpToDate";
    case VersionVerdict::Mismatch: return "Mismatch";
    }
    return "?";
}

struct PolicyCase {
    SensorInfo info;
    VersionVerdict expected;
};

TEST(VersionPolicy, Family0ByVersionAlone) {
    const PolicyCase cases[] = {
        {Info(0, 0x0000), VersionVerdict::Mismatch},
        {Info(0, 0x013F), VersionVerdict::Mismatch},
        {Info(0, 0x0140), VersionVerdict::Proceed},
        {Info(0, 0x014F), VersionVerdict::Proceed},
        {Info(0, 0x0150), VersionVerdict::Mismatch},
        {Info(0, 0x060F), VersionVerdict::Mismatch},
        {Info(0, 0x0610), VersionVerdict::UpToDate},
        {Info(0, 0x0611), VersionVerdict::Proceed},
        {Info(0, 0x0619), VersionVerdict::Proceed},
        {Info(0, 0x061A), VersionVerdict::Mismatch},
        {Info(0, 0xFFFE), VersionVerdict::Mismatch},
        {Info(0, 0xFFFF), VersionVerdict::Proceed},
        // The report words play no part for family 0.
        {Info(0, 0x0610, 2, 1), VersionVerdict::UpToDate},
        {Info(0, 0x0610, 0, 0), VersionVerdict::UpToDate},
        {Info(0, 0x0140, 6, 7), VersionVerdict::Proceed},
    };
    for (const PolicyCase& c : cases) {
        EXPECT_STREQ(Name(CheckFirmwareVersion(c.info)), Name(c.expected))
            << std::hex << "version 0x" << c.info.firmwareVersion << " r5 " << c.info.report5Word
            << " r6 " << c.info.report6Word;
    }
}

TEST(VersionPolicy, Family1ByVersionAndReportWords) {
    const PolicyCase cases[] = {
        {Info(1, 0x0139, 2, 1), VersionVerdict::Proceed},
        {Info(1, 0x0139, 6, 1), VersionVerdict::UpToDate},
        {Info(1, 0x0139, 6, 0xFFFF), VersionVerdict::Mismatch},
        {Info(1, 0x0139, 2, 0), VersionVerdict::Mismatch},
        {Info(1, 0x0139, 0xFFFF, 1), VersionVerdict::Mismatch},
        {Info(1, 0x0139, 5, 1), VersionVerdict::Mismatch},
        {Info(1, 0x0138, 2, 1), VersionVerdict::Mismatch},
        {Info(1, 0x013A, 6, 1), VersionVerdict::Mismatch},
        {Info(1, 0x0610, 2, 1), VersionVerdict::Mismatch},
        {Info(1, 0xFFFF, 0xFFFF, 0xFFFF), VersionVerdict::Proceed},
        {Info(1, 0xFFFF, 9, 9), VersionVerdict::Proceed},
    };
    for (const PolicyCase& c : cases) {
        EXPECT_STREQ(Name(CheckFirmwareVersion(c.info)), Name(c.expected))
            << std::hex << "version 0x" << c.info.firmwareVersion << " r5 " << c.info.report5Word
            << " r6 " << c.info.report6Word;
    }
}

TEST(VersionText, CurrentVersionByKind) {
    struct Case {
        SensorInfo info;
        const char* unknown;
        const char* expected;
    } cases[] = {
        {Info(0, 0x0140), "????", "0140"},
        {Info(0, 0x0610, 2, 1), "????", "0610"},
        {Info(0, 0x000A), "????", "000A"},
        {Info(1, 0x0139, 2, 1), "????", "0139 P0002"},
        {Info(1, 0x0139, 0x0180, 1), "????", "0139 P0180"},
        {Info(1, 0x0139, 0xFFFF, 1), "????", "0139 PFFFF"},
        {Info(0, 0xFFFF), "????", "????"},
        {Info(1, 0xFFFF, 6, 1), "????", "????"},
        {Info(2, 0x0140), "????", "????"},
        {Info(0, 0xFFFF), "----", "----"},  // the caller's text for an unknown version
    };
    for (const Case& c : cases) {
        char text[kVersionTextCapacity];
        FormatCurrentVersion(c.info, c.unknown, text, sizeof(text));
        EXPECT_STREQ(text, c.expected);
    }
}

TEST(VersionText, NewVersionByKind) {
    char text[kVersionTextCapacity];
    FormatNewVersion(0, text, sizeof(text));
    EXPECT_STREQ(text, "0610");
    FormatNewVersion(1, text, sizeof(text));
    EXPECT_STREQ(text, "0139 P0006");
}

TEST(VersionText, NeverWritesPastTheBuffer) {
    char text[8];
    std::memset(text, 'x', sizeof(text));
    FormatCurrentVersion(Info(1, 0x0139, 2, 1), "????", text, 5);
    EXPECT_STREQ(text, "0139");
    EXPECT_EQ(text[5], 'x');
}

TEST(Images, LayoutAndKinds) {
    const FirmwareImage& a = ImageForKind(0);
    const FirmwareImage& b = ImageForKind(1);
    EXPECT_EQ(ImageEndAddress(a), 0xCDFFu);
    EXPECT_EQ(ImageByteCount(a), 36352u);
    EXPECT_EQ(a.blobSize, 36352u + 4);
    EXPECT_EQ(ImageEndAddress(b), 0x133FFu);
    EXPECT_EQ(ImageByteCount(b), 62464u);
    EXPECT_EQ(b.blobSize, 62464u + 4);
    // The end address leads the blob, little-endian, and the bytes follow it directly.
    EXPECT_EQ(a.blob[0], 0xFF);
    EXPECT_EQ(a.blob[1], 0xCD);
    EXPECT_EQ(a.blob[2], 0x00);
    EXPECT_EQ(a.blob[3], 0x00);
    EXPECT_EQ(ImageBytes(b), b.blob + 4);
    EXPECT_EQ(&ImageForKind(2), &b) << "any kind but 0 takes image B";
    EXPECT_NE(std::memcmp(ImageBytes(a), ImageBytes(b), 1024), 0) << "the two images differ";
    EXPECT_EQ(ImageByteCount(a) % 128, 0u);
    EXPECT_EQ(ImageByteCount(b) % 128, 0u);
}

TEST(Images, ChooseImageBySource) {
    static FirmwareSource source;
    const struct {
        const char* name;
        uint16_t kind;
        const char* directory;
        const char* fallback;
        bool usable;
        ImageOriginKind origin;
    } rows[] = {
        {"carried A", 0, nullptr, nullptr, true, ImageOriginKind::Carried},
        {"carried B", 1, nullptr, nullptr, true, ImageOriginKind::Carried},
        // A carried image goes before the system's folder.
        {"carried before fallback", 0, nullptr, "/nonexistent-zorflash", true,
         ImageOriginKind::Carried},
        // A named folder goes before the carried image, and its file must be there.
        {"named folder without file", 1, "/nonexistent-zorflash", nullptr, false,
         ImageOriginKind::FileProblem},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        source.directory = row.directory;
        source.fallbackDirectory = row.fallback;
        static ImageChoice choice;
        EXPECT_EQ(ChooseImage(row.kind, &source, &choice), row.usable);
        EXPECT_EQ(choice.origin, row.origin);
        const FirmwareImage& carried = ImageForKind(row.kind);
        EXPECT_EQ(choice.image.blob == carried.blob, row.origin == ImageOriginKind::Carried);
        EXPECT_EQ(std::strlen(choice.sha256), row.usable ? 64u : 0u);
        EXPECT_EQ(choice.problem[0] == '\0', row.usable) << choice.problem;
        if (row.directory != nullptr) {
            EXPECT_EQ(std::string(choice.path).rfind(std::string(row.directory) + "/", 0), 0u);
        }
    }
}

}  // namespace
