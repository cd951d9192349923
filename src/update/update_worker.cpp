// The update worker: one firmware update on a thread of its own, from the version check to
// the one final message in the status line.
//
// Every control change below is a synchronous call that the main thread carries out (ui.h);
// the order of the calls is part of what the user sees and is kept as the dialog expects it.
#include "update/update_worker.h"

#include "flash/flash_protocol.h"
#include "platform/platform.h"
#include "update/firmware_catalogue.h"
#include "update/firmware_source.h"

namespace {

constexpr uint32_t kMaxAttempts = 10;
constexpr uint32_t kRetryPauseMs = 5000;
constexpr uint32_t kResultSuccess = 0;
// The boot loader is of a generation the sequence does not speak; retrying cannot help.
constexpr uint32_t kResultMcuMismatch = 42;

constexpr unsigned kWorkerNoSensor = 0;
constexpr unsigned kWorkerDone = 2;

const char kNoticeText[] =
    "Update firmware takes several minutes.\n"
    "During updating, you should NOT shut down and restart PC.";
const char kConnectingText[] = "Connecting ....               ";
const char kNoConnectionText[] =
    "A connection was not established. Update can not be performed.";
const char kUpToDateText[] = "The current version matches this version. No update is needed.";
const char kMismatchText[] = "Version Mismatch. This update is not appropriate for this system.";
const char kUpdatingText[] = "Now Updating....";
const char kUnknownVersion[] = "????";
// After an update the field is rewritten over its old text, so the unknown text is padded.
const char kUnknownVersionAfterUpdate[] = "????       ";

struct ResultMessage {
    uint32_t result;
    const char* text;
};

// Status-line texts by UpdateResult. 8, 20 and 24 are not produced by the sequence today but
// keep their texts; every value missing here shows kUnlistedResultText.
const ResultMessage kResultMessages[] = {
    {0, "Update complete."},
    {7, "Failed to enter a flash mode."},
    {8, "Failed to enter a flash mode."},
    {10, "Program Error. "},
    {11, "Failed to entr a normal mode."},
    {15, "Verify Error"},
    {17, ""},  // a failed write mark clears the status line
    {20, "File type mismatch."},
    {21, "Failed to erase a firmware."},
    {24, "A writing mark is set."},
    {25, "Failed to send a Feature Report."},
    {40, "Failed to verify a updating mark."},
    {42, "MCU Mismatch. This update is not appropriate for this system."},
};
const char kUnlistedResultText[] = "File type mismatch.";

void ResetProgress(WindowHandle window) {
    ui_send_item_message(window, kIdProgress, kPbmSetPos, 0, 0);
}

// Up to ten runs of the write-and-verify sequence, 5000 ms apart; returns the last result.
uint32_t RunUpdateAttempts(WindowHandle window, const FirmwareImage& image) {
    uint32_t attempts = 0;
    for (;;) {
        ui_set_item_text(window, kIdStatus, kUpdatingText);
        ui_enable_item(window, kIdProgress, 1);
        ui_enable_item(window, kIdUpdate, 0);
        ui_enable_item(window, kIdExit, 0);
        ResetProgress(window);
        const uint32_t result =
            FlashWriteVerify(window, ImageBytes(image), ImageEndAddress(image));
        if (result == kResultSuccess || result == kResultMcuMismatch) {
            return result;
        }
        // The tenth failure is paused after too, before its message is shown.
        plat_sleep(kRetryPauseMs);
        ++attempts;
        if (attempts >= kMaxAttempts) {
            return result;
        }
    }
}

// Reads the version back after a success; a sensor that does not come back leaves the field.
void ShowVersionAfterUpdate(WindowHandle window, SensorInfo* sensor) {
    if (ReadFirmwareVersion(sensor->kind, &sensor->firmwareVersion, &sensor->report6Word,
                            &sensor->report5Word)) {
        char text[kVersionTextCapacity];
        FormatCurrentVersion(*sensor, kUnknownVersionAfterUpdate, text, sizeof text);
        ui_set_item_text(window, kIdCurrentVersion, text);
    }
}

}  // namespace

const char* UpdateResultMessage(uint32_t result) {
    for (const ResultMessage& row : kResultMessages) {
        if (row.result == result) {
            return row.text;
        }
    }
    return kUnlistedResultText;
}

unsigned UpdateWorker(void* parameter) {
    // The request is read once; the main window does not touch it while the worker runs.
    const UpdateRequest* request = static_cast<const UpdateRequest*>(parameter);
    const WindowHandle window = request->window;
    SensorInfo sensor = request->sensor;

    ui_set_item_text(window, kIdNotice, kNoticeText);
    ui_set_item_text(window, kIdStatus, kConnectingText);
    ui_enable_item(window, kIdUpdate, 0);

    if (sensor.kind == kSensorNone) {
        // The notice stays and both buttons come back: the user may plug the sensor in and
        // try again, or leave.
        ui_set_item_text(window, kIdStatus, kNoConnectionText);
        ui_enable_item(window, kIdProgress, 0);
        ui_enable_item(window, kIdUpdate, 1);
        ui_enable_item(window, kIdExit, 1);
        return kWorkerNoSensor;
    }

    char text[kVersionTextCapacity];
    FormatCurrentVersion(sensor, kUnknownVersion, text, sizeof text);
    ui_set_item_text(window, kIdCurrentVersion, text);
    FormatNewVersion(sensor.kind, text, sizeof text);
    ui_set_item_text(window, kIdNewVersion, text);

    const char* message = nullptr;
    ImageChoice choice;
    switch (CheckFirmwareVersion(sensor)) {
    case VersionVerdict::UpToDate:
        message = kUpToDateText;
        break;
    case VersionVerdict::Mismatch:
        message = kMismatchText;
        break;
    case VersionVerdict::Proceed: {
        // The image is settled, and a file read whole, before the sensor is switched: with
        // no image to write, nothing at all is sent to it.
        if (!ChooseImage(sensor.kind, request->firmware, &choice)) {
            message = choice.problem;
            break;
        }
        const uint32_t result = RunUpdateAttempts(window, choice.image);
        if (result == kResultSuccess) {
            // The bar keeps the sequence's last position while the sensor comes back.
            ShowVersionAfterUpdate(window, &sensor);
        }
        ResetProgress(window);
        message = UpdateResultMessage(result);
        break;
    }
    }

    ui_set_item_text(window, kIdStatus, message);
    ui_set_item_text(window, kIdNotice, "");
    ui_enable_item(window, kIdProgress, 0);
    ui_enable_item(window, kIdUpdate, 0);
    ui_enable_item(window, kIdExit, 1);
    return kWorkerDone;
}
