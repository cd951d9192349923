#include "sensor/update_result.h"

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

}  // namespace

const char* UpdateResultText(UpdateResult result) {
    for (const ResultText& row : kResultTexts) {
        if (row.result == result) return row.text;
    }
    return kUnlistedResultText;
}
