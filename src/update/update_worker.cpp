// The update worker: one firmware update on a thread of its own, from the version check to
// the one final message in the status line.
//
// Every control change below is a synchronous call that the main thread carries out (ui.h);
// the order of the calls is part of what the user sees and is kept as the dialog expects it.
#include "update/update_worker.h"

#include "platform/platform.h"
#include "update/firmware_catalogue.h"
#include "update/firmware_source.h"

namespace {

constexpr uint32_t kMaxAttempts = 10;
constexpr uint32_t kRetryPauseMs = 5000;

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

void ShowStatus(void* window, const char* text) { ui_set_item_text(window, kIdStatus, text); }

void ResetBar(void* window, uint16_t maximum) {
    ui_set_progress_range(window, maximum);
    ui_set_progress_position(window, 0);
}

void StepBar(void* window) { ui_step_progress(window); }

void ResetProgress(WindowHandle window) { ui_set_progress_position(window, 0); }

// Up to ten runs of the write-and-verify sequence, 5000 ms apart; returns the last result.
UpdateResult RunUpdateAttempts(WindowHandle window, const FirmwareImage& image) {
    uint32_t attempts = 0;
    for (;;) {
        ui_set_item_text(window, kIdStatus, kUpdatingText);
        ui_enable_item(window, kIdProgress, true);
        ui_enable_item(window, kIdUpdate, false);
        ui_enable_item(window, kIdExit, false);
        ResetProgress(window);
        const UpdateResult result = RunWriteAndVerify(DialogFlashProgress(window),
                                                      ImageBytes(image), ImageEndAddress(image));
        // A boot loader of a generation the sequence does not speak: retrying cannot help.
        if (result == UpdateResult::Success || result == UpdateResult::BootLoaderMismatch) {
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

FlashProgress DialogFlashProgress(WindowHandle window) {
    return FlashProgress{window, ShowStatus, ResetBar, StepBar};
}

unsigned UpdateWorker(void* parameter) {
    // The request is read once; the main window does not touch it while the worker runs.
    const UpdateRequest* request = static_cast<const UpdateRequest*>(parameter);
    const WindowHandle window = request->window;
    SensorInfo sensor = request->sensor;

    ui_set_item_text(window, kIdNotice, kNoticeText);
    ui_set_item_text(window, kIdStatus, kConnectingText);
    ui_enable_item(window, kIdUpdate, false);

    if (sensor.kind == kSensorNone) {
        // The notice stays and both buttons come back: the user may plug the sensor in and
        // try again, or leave.
        ui_set_item_text(window, kIdStatus, kNoConnectionText);
        ui_enable_item(window, kIdProgress, false);
        ui_enable_item(window, kIdUpdate, true);
        ui_enable_item(window, kIdExit, true);
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
        const UpdateResult result = RunUpdateAttempts(window, choice.image);
        if (result == UpdateResult::Success) {
            // The bar keeps the sequence's last position while the sensor comes back.
            ShowVersionAfterUpdate(window, &sensor);
        }
        ResetProgress(window);
        message = UpdateResultText(result);
        break;
    }
    }

    ui_set_item_text(window, kIdStatus, message);
    ui_set_item_text(window, kIdNotice, "");
    ui_enable_item(window, kIdProgress, false);
    ui_enable_item(window, kIdUpdate, false);
    ui_enable_item(window, kIdExit, true);
    return kWorkerDone;
}
