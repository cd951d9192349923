// The update worker: one firmware update on a thread of its own, from the version check to
// the one final message in the status line.
//
// Every change below is a synchronous call of the view (view.h); the order of the calls is
// part of what the user sees and is kept as the dialog expects it.
#include "update/update_worker.h"

#include <cstdio>
#include <cstring>

#include "platform/records.h"
#include "platform/sensor_ids.h"
#include "platform/system.h"
#include "sensor/diag_log.h"
#include "sensor/hid_device.h"
#include "sensor/update_result.h"
#include "update/firmware_catalogue.h"
#include "update/firmware_source.h"

namespace {

constexpr uint32_t kMaxAttempts = 10;
constexpr uint32_t kRetryPauseMs = 5000;

constexpr unsigned kWorkerNoSensor = 0;
constexpr unsigned kWorkerDone = 2;

const char* const kNoticeText = StatusTextFor(StatusText::Notice);
const char* const kConnectingText = StatusTextFor(StatusText::Connecting);
const char* const kNoConnectionText = StatusTextFor(StatusText::NoConnection);
const char* const kUpToDateText = StatusTextFor(StatusText::UpToDate);
const char* const kMismatchText = StatusTextFor(StatusText::VersionMismatch);
const char* const kUpdatingText = StatusTextFor(StatusText::Updating);
// The history's one-line summary of an update.
constexpr size_t kSummaryCapacity = 384;
// What the record of the products met holds, and how to clear a line of it.
constexpr size_t kRecordTextCapacity = 1024;

void ShowStatus(void* bar, const char* text) {
    view_show_text(static_cast<ViewBar*>(bar)->view, ViewText::Status, text);
}

void ResetBar(void* context, uint16_t maximum) {
    ViewBar* bar = static_cast<ViewBar*>(context);
    bar->done = 0;
    bar->total = maximum > 0 ? maximum : 1;
    view_show_progress(bar->view, 0, bar->total, true);
}

// One block done; past the end the bar stays full.
void StepBar(void* context) {
    ViewBar* bar = static_cast<ViewBar*>(context);
    if (bar->done < bar->total) ++bar->done;
    view_show_progress(bar->view, bar->done, bar->total, false);
}

void ShowStage(void* context, RunStage stage) {
    ViewBar* bar = static_cast<ViewBar*>(context);
    bar->state.stage = stage;
    bar->state.done = bar->done;
    bar->state.total = bar->total;
    view_show_state(bar->view, bar->state);
}


void ResetProgress(ViewBar* bar) {
    bar->done = 0;
    view_show_progress(bar->view, 0, bar->total, false);
}

// The normal-mode product that runs the family whose image is written: the only sensor the
// sequence may switch to its boot loader. Taken from the family the image was chosen by
// rather than from the product seen at identification, which a sensor found in its boot
// loader does not have.
uint16_t ProductForImage(uint16_t kind) {
    return kind == kSensorFamily0 ? kProductFamily0 : kProductFamily1;
}

// How the sensor found as the update starts compares with the one the update was chosen for.
// Gone: nothing is there now; the attempts look for it at its port, where it may come back
// as it was.
enum class TargetCheck { Confirmed, Gone, Other, FamilyUnknown };

// Finds the sensor again now, from what the bus tells (nothing is sent): the answer the
// update was chosen on may be minutes old, and the board may have been swapped since. The
// image's family is established here, for the device that will be written: a normal-mode
// sensor by its own product, as it answered then and answers now at the same port; a boot
// loader by the record as it reads now, or by the family the user named where the record
// tells none. The target is the chosen sensor's port and mode in every case.
TargetCheck EstablishTarget(const UpdateRequest& request, UpdateTarget* target) {
    const SensorInfo& chosen = request.sensor;
    target->normalProduct = ProductForImage(chosen.kind);
    std::snprintf(target->port, sizeof target->port, "%s", chosen.port);
    target->bootLoaderExpected = chosen.productId == kProductBootLoader;
    SensorInfo now;
    LocateSensor(&now);
    if (now.productId == 0) return TargetCheck::Gone;
    if (now.productId != chosen.productId || now.port[0] == '\0' ||
        std::strcmp(now.port, chosen.port) != 0) {
        return TargetCheck::Other;
    }
    if (chosen.productId == kProductBootLoader) {
        // Beside another board of the sensor's, neither the record nor a family the user
        // named says which of the two boot loaders it speaks of.
        if (SensorDeviceElsewhere(now.port)) return TargetCheck::Other;
        const bool recordTells = now.kind != kSensorNone;
        if (recordTells ? now.kind != chosen.kind : !request.familyGiven) {
            return TargetCheck::FamilyUnknown;
        }
    } else if (now.kind != chosen.kind || now.firmwareVersion != chosen.firmwareVersion) {
        return TargetCheck::Other;
    }
    return TargetCheck::Confirmed;
}

// The status line of a refused switch: what the record holds and how to make it tell.
void DescribeUnsafeRecord(uint16_t normalProduct, char* text, size_t capacity) {
    char records[kRecordTextCapacity];
    plat_describe_products_met(records, sizeof records);
    // One line per place, joined for the status line.
    for (char* feed = std::strchr(records, '\n'); feed != nullptr; feed = std::strchr(feed, '\n')) {
        *feed = feed[1] == '\0' ? '\0' : ';';
    }
    const uint16_t other = normalProduct == kProductFamily0 ? kProductFamily1 : kProductFamily0;
    char clearing[kRecordTextCapacity];
    const size_t cleared =
        plat_products_met_clearing(kSensorVendorId, other, clearing, sizeof clearing);
    char noting[160];
    std::snprintf(noting, sizeof noting,
                  "make sure product %04x can be noted (a record that can be written, or a run "
                  "as root)", normalProduct);
    std::snprintf(text, capacity,
                  "%s The record holds: %s. To fix it, %s; then start the update again.",
                  UpdateResultText(UpdateResult::RecordUnsafe), records,
                  cleared > 0 ? clearing : noting);
}

// Up to ten runs of the write-and-verify sequence, 5000 ms apart; returns the last result
// and counts the runs.
UpdateResult RunUpdateAttempts(ViewBar* bar, const FirmwareImage& image, UpdateTarget* target,
                               uint32_t* attempts) {
    View* const view = bar->view;
    for (;;) {
        view_show_text(view, ViewText::Status, kUpdatingText);
        view_enable_progress(view, true);
        view_enable_button(view, ViewButton::Update, false);
        view_enable_button(view, ViewButton::Exit, false);
        ResetProgress(bar);
        bar->state.attempt = *attempts + 1;
        bar->state.attemptLimit = kMaxAttempts;
        const UpdateResult result =
            RunWriteAndVerify(ViewFlashProgress(bar), ImageBytes(image),
                              ImageEndAddress(image), target);
        // Another sensor than the one identified, or one whose switch the record could not
        // have told, was left alone before anything was sent: that is no attempt, and the
        // next one would find the same.
        if (result == UpdateResult::OtherSensor || result == UpdateResult::RecordUnsafe) {
            return result;
        }
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
bool ShowVersionAfterUpdate(View* view, SensorInfo* sensor) {
    if (!ReadFirmwareVersion(sensor->kind, sensor->port, &sensor->firmwareVersion,
                             &sensor->report6Word, &sensor->report5Word)) {
        return false;
    }
    char text[kVersionTextCapacity];
    FormatCurrentVersion(*sensor, kUnknownVersion, text, sizeof text);
    view_show_text(view, ViewText::CurrentVersion, text);
    return true;
}

// Runs the update and says how it ended; `outcome->status` is left for the caller to show.
void RunUpdate(UpdateRequest* request, UpdateOutcome* outcome) {
    View* const view = request->view;
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
    view_show_text(view, ViewText::CurrentVersion, text);
    FormatNewVersion(sensor.kind, text, sizeof text);
    view_show_text(view, ViewText::NewVersion, text);

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
    UpdateTarget target = {};
    switch (EstablishTarget(*request, &target)) {
    case TargetCheck::Confirmed:
    case TargetCheck::Gone:
        break;
    case TargetCheck::FamilyUnknown:
        outcome->end = UpdateEnd::FamilyUnknown;
        outcome->status =
            request->familyUnknownText != nullptr ? request->familyUnknownText : kNoConnectionText;
        return;
    case TargetCheck::Other:
        LogDiagnostic(0, kOtherSensorDiagnostic, "Module Name : FlashWriteVerify", false);
        outcome->end = UpdateEnd::Failed;
        outcome->result = UpdateResult::OtherSensor;
        outcome->status = UpdateResultText(outcome->result);
        return;
    }
    ViewBar& bar = request->bar;
    bar.view = view;
    outcome->result = RunUpdateAttempts(&bar, choice.image, &target, &outcome->attempts);
    if (outcome->attempts > 0) {
        std::snprintf(outcome->sha256, sizeof outcome->sha256, "%s", choice.sha256);
    }
    outcome->end = UpdateEnd::Failed;
    if (outcome->result == UpdateResult::Success) {
        // The bar keeps the sequence's last position while the sensor comes back.
        outcome->end = ShowVersionAfterUpdate(view, &sensor) ? UpdateEnd::Updated
                                                              : UpdateEnd::NotBack;
    }
    ResetProgress(&bar);
    outcome->status = UpdateResultText(outcome->result);
    if (outcome->result == UpdateResult::RecordUnsafe) {
        DescribeUnsafeRecord(target.normalProduct, outcome->problem, sizeof outcome->problem);
        outcome->status = outcome->problem;
    }
}

// Leaves the update in the system's history when anything was sent to the sensor.
void RecordHistory(const UpdateOutcome& outcome) {
    if (outcome.attempts == 0) return;
    char before[kVersionTextCapacity];
    char after[kVersionTextCapacity];
    FormatCurrentVersion(outcome.before, kUnknownVersion, before, sizeof before);
    FormatCurrentVersion(outcome.after, kUnknownVersion, after, sizeof after);
    const uint32_t result = static_cast<uint32_t>(outcome.result);
    // A status line longer than the buffer is cut: the record's own fields keep it whole.
    char summary[kSummaryCapacity];
    std::snprintf(summary, sizeof summary,
                  "Sensor firmware update: %s -> %s, result %u (%s), %u attempt%s, %u.%03u s",
                  before, after, result, outcome.status, outcome.attempts,
                  outcome.attempts == 1 ? "" : "s", outcome.elapsedMs / 1000,
                  outcome.elapsedMs % 1000);
    const UpdateRecord record = {before,           after,           result,
                                 outcome.status,   outcome.attempts, outcome.elapsedMs,
                                 outcome.sha256,   summary};
    plat_record_update(&record);
}

}  // namespace

FlashProgress ViewFlashProgress(ViewBar* bar) {
    return FlashProgress{bar, ShowStatus, ResetBar, StepBar, ShowStage};
}

RunSensor AsRunSensor(const SensorInfo& sensor) {
    return RunSensor{sensor.kind, sensor.productId, sensor.firmwareVersion};
}

int UpdateWorkerExitCode(const UpdateOutcome& outcome) {
    const bool noSensor = outcome.end == UpdateEnd::NoSensor || outcome.end == UpdateEnd::FamilyUnknown;
    return static_cast<int>(noSensor ? kWorkerNoSensor : kWorkerDone);
}

unsigned UpdateWorker(void* parameter) {
    // The request is read once; the main window does not touch it while the worker runs.
    // Only its outcome is written, as the last step.
    UpdateRequest* request = static_cast<UpdateRequest*>(parameter);
    View* const view = request->view;
    const uint32_t start = plat_tick_count();

    view_show_text(view, ViewText::Notice, kNoticeText);
    view_show_text(view, ViewText::Status, kConnectingText);
    view_enable_button(view, ViewButton::Update, false);

    UpdateOutcome& outcome = request->outcome;
    outcome.end = UpdateEnd::NotRun;
    outcome.result = UpdateResult::Success;
    outcome.attempts = 0;
    outcome.before = request->sensor;
    outcome.after = request->sensor;
    outcome.problem[0] = '\0';
    outcome.sha256[0] = '\0';
    ViewBar& bar = request->bar;
    bar.view = view;
    bar.state = RunState{RunStage::Ready, 0, kMaxAttempts, bar.done, bar.total, RunEnd::NotRun,
                         AsRunSensor(request->sensor), RunVerdict::Unknown, 0};
    RunUpdate(request, &outcome);
    outcome.elapsedMs = plat_tick_count() - start;
    RecordHistory(outcome);

    view_show_text(view, ViewText::Status, outcome.status);
    bar.state.end = outcome.end;
    bar.state.sensor = AsRunSensor(outcome.after);
    ShowStage(&bar, RunStage::Ended);
    if (outcome.end == UpdateEnd::NoSensor || outcome.end == UpdateEnd::FamilyUnknown) {
        // The notice stays and both buttons come back: the user may plug the sensor in and
        // try again, or leave.
        view_enable_progress(view, false);
        view_enable_button(view, ViewButton::Update, true);
        view_enable_button(view, ViewButton::Exit, true);
        return static_cast<unsigned>(UpdateWorkerExitCode(outcome));
    }
    view_show_text(view, ViewText::Notice, "");
    view_enable_progress(view, false);
    view_enable_button(view, ViewButton::Update, false);
    view_enable_button(view, ViewButton::Exit, true);
    return static_cast<unsigned>(UpdateWorkerExitCode(outcome));
}
