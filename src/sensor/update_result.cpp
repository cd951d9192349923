#include "sensor/update_result.h"

#include <cstddef>

namespace {

struct ResultText {
    UpdateResult result;
    const char* text;
};

// The texts keep their trailing blanks and spellings: they are what users and their
// scripts have always read in the status line.
constexpr ResultText kResultTexts[] = {
    {UpdateResult::Success, "Update complete."},
    {UpdateResult::BootModeTimeout, "Failed to enter a flash mode."},
    {UpdateResult::FlashModeFailed, "Failed to enter a flash mode."},
    {UpdateResult::WriteFailed, "Program Error. "},
    {UpdateResult::ExitFailed, "Failed to entr a normal mode."},
    {UpdateResult::VerifyFailed, "Verify Error"},
    {UpdateResult::MarkFailed, ""},  // a failed write mark clears the status line
    {UpdateResult::FileTypeMismatch, "File type mismatch."},
    {UpdateResult::EraseFailed, "Failed to erase a firmware."},
    {UpdateResult::MarkSet, "A writing mark is set."},
    {UpdateResult::SwitchRequestFailed, "Failed to send a Feature Report."},
    {UpdateResult::MarkCheckFailed, "Failed to verify a updating mark."},
    {UpdateResult::BootLoaderMismatch,
     "MCU Mismatch. This update is not appropriate for this system."},
    {UpdateResult::OtherSensor,
     "The sensor attached now is not the one this update was chosen for; nothing was sent "
     "to it. Start the update again."},
    {UpdateResult::RecordUnsafe,
     "This machine's record of the sensors met would not tell this sensor's family if the "
     "update were interrupted, so it was not switched to its boot loader; nothing was sent "
     "to it."},
};
static_assert(sizeof(kResultTexts) / sizeof(kResultTexts[0]) == 15,
              "every result but NoSensor has its row");

const char kUnlistedResultText[] = "File type mismatch.";

// By StatusText.
const char* const kStatusTexts[] = {
    ("Update firmware takes several minutes.\n"
     "During updating, you should NOT shut down and restart PC."),
    "Connecting ....",
    "A connection was not established. Update can not be performed.",
    "The current version matches this version. No update is needed.",
    "Version Mismatch. This update is not appropriate for this system.",
    "Now Updating....",
    "Erasing....",
    "Program....",
    "Verify....",
    "The update could not start: no thread could be made for it.",
};
static_assert(sizeof(kStatusTexts) / sizeof(kStatusTexts[0]) ==
                  static_cast<size_t>(StatusText::UpdateNotStarted) + 1,
              "every status text has its row");

// By FamilyWayOut.
const char* const kFamilyUnknownFormats[] = {
    "The sensor sits in its boot loader and its family is unknown: finish the update with %s "
    "--update --family N (N is 0 if the sensor was product 0x%04X in normal mode, 1 if it was "
    "0x%04X).",
    "The sensor sits in its boot loader and its family is unknown: choose Family 0 if the "
    "sensor was product 0x%04X in normal mode, Family 1 if it was 0x%04X.",
    "Sensor in its boot loader, family unknown: this computer has no record of it running. "
    "Update it on a computer where it last ran normally, or on Linux with zorflash --update "
    "--family N (N is 0 if it was product 0x%04X, 1 if 0x%04X).",
    "Sensor in its boot loader, family unknown: this computer has met both families of the "
    "sensor, so its record cannot tell which one this is. Update it on a computer where it last "
    "ran normally, or on Linux with zorflash --update --family N (N is 0 if it was product "
    "0x%04X, 1 if 0x%04X).",
};
static_assert(sizeof(kFamilyUnknownFormats) / sizeof(kFamilyUnknownFormats[0]) ==
                  static_cast<size_t>(FamilyWayOut::BothRecorded) + 1,
              "every way out has its wording");

}  // namespace

const char* UpdateResultText(UpdateResult result) {
    for (const ResultText& row : kResultTexts) {
        if (row.result == result) return row.text;
    }
    return kUnlistedResultText;
}

const char* StatusTextFor(StatusText text) { return kStatusTexts[static_cast<size_t>(text)]; }

const char* FamilyUnknownFormat(FamilyWayOut wayOut) {
    return kFamilyUnknownFormats[static_cast<size_t>(wayOut)];
}
