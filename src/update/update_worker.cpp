// The update worker: one firmware update on a thread of its own, from the version check to
// the one final message in the status line.
//
// Every control change below is a synchronous call that the main thread carries out (ui.h);
// the order of the calls is part of what the user sees and is kept as the dialog expects it.
#include "update/update_worker.h"

#include <cstdio>

#include "platform/platform.h"
#include "platform/sensor_ids.h"
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

// The normal-mode product that runs the family whose image is written: the only sensor the
// sequence may switch to its boot loader. Taken from the family the image was chosen by
// rather than from the product seen at identification, which a sensor found in its boot
// loader does not have.
uint16_t ProductForImage(uint16_t kind) {
    return kind == kSensorFamily0 ? kProductFamily0 : kProductFamily1;
}

// Up to ten runs of the write-and-verify sequence, 5000 ms apart; returns the last result
// and counts the runs.
UpdateResult RunUpdateAttempts(WindowHandle window, const FirmwareImage& image, uint16_t kind,
                               uint32_t* attempts) {
    for (;;) {
        ui_set_item_text(window, kIdStatus, kUpdatingText);
        ui_enable_item(window, kIdProgress, true);
        ui_enable_item(window, kIdUpdate, false);
        ui_enable_item(window, kIdExit, false);
        ResetProgress(window);
        const UpdateResult result =
            RunWriteAndVerify(DialogFlashProgress(window), ImageBytes(image),
                              ImageEndAddress(image), ProductForImage(kind));
        // Another sensor than the one identified was left alone before anything was sent:
        // that is no attempt, and the next one would find the same sensor.
        if (result == UpdateResult::OtherSensor) return result;
        ++*attempts;
        // A boot loader of a generation the sequence does not speak: retrying cannot help.
        if (result == UpdateResult::Success || result == UpdateResult::BootLoaderMismatch) {
            return result;
        }
        // The tenth failure is paused after too, before its message is shown.
        plat_sleep(kRetryPauseMs);
        if (*attempts >= kMaxAttempts) {
            return result;
        }
    }
}

// Reads the version back after a success; a sensor that does not come back leaves the field.
bool ShowVersionAfterUpdate(WindowHandle window, SensorInfo* sensor) {
    if (!ReadFirmwareVersion(sensor->kind, &sensor->firmwareVersion, &sensor->report6Word,
                             &sensor->report5Word)) {
        return false;
    }
    char text[kVersionTextCapacity];
    FormatCurrentVersion(*sensor, kUnknownVersionAfterUpdate, text, sizeof text);
    ui_set_item_text(window, kIdCurrentVersion, text);
    return true;
}

// Runs the update and says how it ended; `outcome->status` is left for the caller to show.
void RunUpdate(const UpdateRequest* request, UpdateOutcome* outcome) {
    const WindowHandle window = request->window;
    SensorInfo& sensor = outcome->after;
    if (sensor.kind == kSensorNone) {
        const bool familyUnknown =
            sensor.productId == kProductBootLoader && request->familyUnknownText != nullptr;
        outcome->end = familyUnknown ? UpdateEnd::FamilyUnknown : UpdateEnd::NoSensor;
        outcome->status = familyUnknown ? request->familyUnknownText : kNoConnectionText;
        return;
    }

    char text[kVersionTextCapacity];
    FormatCurrentVersion(sensor, kUnknownVersion, text, sizeof text);
    ui_set_item_text(window, kIdCurrentVersion, text);
    FormatNewVersion(sensor.kind, text, sizeof text);
    ui_set_item_text(window, kIdNewVersion, text);

    switch (CheckFirmwareVersion(sensor)) {
    case VersionVerdict::UpToDate:
        outcome->end = UpdateEnd::UpToDate;
        outcome->status = kUpToDateText;
        return;
    case VersionVerdict::Mismatch:
        outcome->end = UpdateEnd::Mismatch;
        outcome->status = kMismatchText;
        return;
    case VersionVerdict::Proceed:
        break;
    }
    // The image is settled, and a file read whole, before the sensor is switched: with no
    // image to write, nothing at all is sent to it.
    ImageChoice choice;
    if (!ChooseImage(sensor.kind, request->firmware, &choice)) {
        std::snprintf(outcome->problem, sizeof outcome->problem, "%s", choice.problem);
        outcome->end = UpdateEnd::NoImage;
        outcome->status = outcome->problem;
        return;
    }
    outcome->result = RunUpdateAttempts(window, choice.image, sensor.kind, &outcome->attempts);
    if (outcome->attempts > 0) {
        std::snprintf(outcome->sha256, sizeof outcome->sha256, "%s", choice.sha256);
    }
    outcome->end = UpdateEnd::Failed;
    if (outcome->result == UpdateResult::Success) {
        // The bar keeps the sequence's last position while the sensor comes back.
        outcome->end = ShowVersionAfterUpdate(window, &sensor) ? UpdateEnd::Updated
                                                                : UpdateEnd::NotBack;
    }
    ResetProgress(window);
    outcome->status = UpdateResultText(outcome->result);
}

// Leaves the update in the system's history when anything was sent to the sensor.
void RecordHistory(const UpdateOutcome& outcome) {
    if (outcome.attempts == 0) return;
    char before[kVersionTextCapacity];
    char after[kVersionTextCapacity];
    FormatCurrentVersion(outcome.before, kUnknownVersion, before, sizeof before);
    FormatCurrentVersion(outcome.after, kUnknownVersion, after, sizeof after);
    const UpdateRecord record = {before, after, static_cast<uint32_t>(outcome.result),
                                 outcome.status, outcome.attempts, outcome.elapsedMs,
                                 outcome.sha256};
    plat_record_update(&record);
}

}  // namespace

FlashProgress DialogFlashProgress(WindowHandle window) {
    return FlashProgress{window, ShowStatus, ResetBar, StepBar};
}

unsigned UpdateWorker(void* parameter) {
    // The request is read once; the main window does not touch it while the worker runs.
    // Only its outcome is written, as the last step.
    UpdateRequest* request = static_cast<UpdateRequest*>(parameter);
    const WindowHandle window = request->window;
    const uint32_t start = plat_tick_count();

    ui_set_item_text(window, kIdNotice, kNoticeText);
    ui_set_item_text(window, kIdStatus, kConnectingText);
    ui_enable_item(window, kIdUpdate, false);

    UpdateOutcome& outcome = request->outcome;
    outcome.end = UpdateEnd::NotRun;
    outcome.result = UpdateResult::Success;
    outcome.attempts = 0;
    outcome.before = request->sensor;
    outcome.after = request->sensor;
    outcome.problem[0] = '\0';
    outcome.sha256[0] = '\0';
    RunUpdate(request, &outcome);
    outcome.elapsedMs = plat_tick_count() - start;
    RecordHistory(outcome);

    ui_set_item_text(window, kIdStatus, outcome.status);
    if (outcome.end == UpdateEnd::NoSensor || outcome.end == UpdateEnd::FamilyUnknown) {
        // The notice stays and both buttons come back: the user may plug the sensor in and
        // try again, or leave.
        ui_enable_item(window, kIdProgress, false);
        ui_enable_item(window, kIdUpdate, true);
        ui_enable_item(window, kIdExit, true);
        return kWorkerNoSensor;
    }
    ui_set_item_text(window, kIdNotice, "");
    ui_enable_item(window, kIdProgress, false);
    ui_enable_item(window, kIdUpdate, false);
    ui_enable_item(window, kIdExit, true);
    return kWorkerDone;
}
