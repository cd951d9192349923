// What a window for a tablet owner shows of the run. See window_model.h.
#include "app/window_model.h"

#include <cstdio>
#include <cstring>

#include "platform/sensor_ids.h"
#include "sensor/sensor_info.h"  // kSensorNone
#include "update/firmware_catalogue.h"  // kUnknownVersion

// Marks a text for the window's translations; the window translates it where it is drawn.
#define N_(text) text

namespace {

using Icon = WindowIcon;
using Action = WindowAction;

// Before any tap, by the first look's verdict.
const WindowWords kVerdictWords[] = {
    // Unknown: still looking
    {Icon::Looking, N_("Looking for the pen sensor…"), N_("This takes a few seconds."), Action::None},
    // NoSensor
    {Icon::Question, N_("No pen sensor found"),
     N_("This computer shows no pen sensor of the kind this tool updates. If the tablet has a "
        "detachable keyboard or cover, attach it; then close this window and open it again."),
     Action::None},
    // UpdateAvailable
    {Icon::Available, N_("Update available"),
     N_("The pen sensor's firmware can be updated. It takes about %s; keep the tablet plugged in "
        "meanwhile."),
     Action::Update},
    // UpToDate
    {Icon::Good, N_("The pen firmware is up to date"), N_("Nothing needs to be done."), Action::None},
    // DoesNotFit
    {Icon::Warning, N_("This update does not fit this pen sensor"),
     N_("The firmware on this computer is not meant for the sensor in this tablet. Nothing will be "
        "changed."),
     Action::None},
    // NoImage
    {Icon::Warning, N_("No firmware installed"),
     N_("The firmware for this pen sensor is not installed on this computer. Ask whoever looks "
        "after it to install the firmware package for zorflash."),
     Action::None},
    // InBootLoader
    {Icon::Warning, N_("The last update did not finish"),
     N_("The pen will not work until the update finishes. Tap Finish Update to write the firmware "
        "again; it takes about %s."),
     Action::Recover},
    // FamilyUnknown
    {Icon::Warning, N_("The last update did not finish"),
     N_("The pen will not work until the update finishes. This computer has no record of which of "
        "the two pen sensor models this tablet has, so it has to be chosen: find the tablet's "
        "model name on its label or in its documentation, and look up which sensor it uses."),
     Action::ChooseModel},
};

// Once the run is somewhere else than its first look.
enum Situation : uint8_t {
    kNoPermission,    // there is a sensor, and this account may not open it
    kUpdating,
    kUpdated,         // NoSensor, FamilyUnknown, UpToDate, Mismatch and NoImage at the end say
    kNotBack,         // what the first look would have said
    kFailedWritten,   // the pen does not work until an update succeeds
    kFailedUntouched,
    kChoosingModel,
};

constexpr char kChooseModelExplanation[] =
    N_("Choosing the wrong model writes the wrong firmware and leaves the pen unusable. Find the "
       "tablet's model name on its label or in its documentation and look up its pen sensor: "
       "before the interrupted update it showed up as USB product 0090 (model 0) or 00E6 "
       "(model 1).");
static_assert(HexNumberAt(kChooseModelExplanation + 232) == kProductFamily0 &&
                  HexNumberAt(kChooseModelExplanation + 250) == kProductFamily1,
              "the model question names the products of sensor_ids.h");

const WindowWords kSituationWords[] = {
    {Icon::Locked, N_("The pen sensor cannot be opened"),
     N_("This account may not update the pen sensor. Ask whoever looks after this computer to "
        "install the zorflash package, which lets the person at the tablet update it."),
     Action::None},
    {Icon::Working, N_("Updating the pen firmware"),
     N_("Keep the tablet on and plugged in. The pen will not work until the update finishes."),
     Action::None},
    {Icon::Good, N_("The pen firmware is up to date"), N_("The update finished. The pen is ready."),
     Action::None},
    {Icon::Warning, N_("Restart the tablet"),
     N_("The new firmware was written and checked, but the pen sensor did not come back. Restart "
        "the tablet; if the pen does not work then, open this window again."),
     Action::None},
    {Icon::Error, N_("The update did not finish"),
     N_("The pen will not work until the update finishes. Tap Retry to write the firmware again; "
        "if that fails too, restart the tablet and try once more."),
     Action::Retry},
    {Icon::Error, N_("The update could not start"),
     N_("Nothing was written: the pen works as before. Tap Retry to try again."), Action::Retry},
    {Icon::Warning, N_("Which pen sensor does this tablet have?"), kChooseModelExplanation,
     Action::WriteChosenModel},
};

constexpr char kModelOption0[] = N_("Model 0 (USB product 0090)");
constexpr char kModelOption1[] = N_("Model 1 (USB product 00E6)");
static_assert(HexNumberAt(kModelOption0 + 21) == kProductFamily0 &&
                  HexNumberAt(kModelOption1 + 21) == kProductFamily1,
              "the model options name the products of sensor_ids.h");

RunVerdict EndAsVerdict(RunEnd end) {
    switch (end) {
    case RunEnd::NoSensor: return RunVerdict::NoSensor;
    case RunEnd::FamilyUnknown: return RunVerdict::FamilyUnknown;
    case RunEnd::UpToDate: return RunVerdict::UpToDate;
    case RunEnd::Mismatch: return RunVerdict::DoesNotFit;
    case RunEnd::NoImage: return RunVerdict::NoImage;
    default: return RunVerdict::Unknown;
    }
}

const WindowWords& VerdictWords(const WindowModel& model, RunVerdict verdict) {
    if (verdict == RunVerdict::NoSensor && model.permission[0] != '\0') {
        return kSituationWords[kNoPermission];
    }
    return kVerdictWords[static_cast<int>(verdict)];
}

}  // namespace

void WindowModelReset(WindowModel* model) {
    std::memset(model, 0, sizeof *model);
    model->pickedModel = kSensorNone;
}

void WindowTakeText(WindowModel* model, ViewText field, const char* text) {
    std::snprintf(model->texts[static_cast<int>(field)], kWindowTextCapacity, "%s", text);
}

void WindowTakeProgress(WindowModel* model, uint32_t done, uint32_t total) {
    model->state.done = done;
    model->state.total = total;
}

void WindowTakeState(WindowModel* model, const RunState& state, uint64_t nowMs) {
    if (state.stage != model->state.stage) model->stageSinceMs = nowMs;
    if (state.stage == RunStage::Ready && state.verdict != RunVerdict::Unknown) {
        model->verdict = state.verdict;
        model->estimateMs = state.estimateMs;
        model->lookedAlready = true;
    }
    // Once erased, the pen works again only after an update succeeds.
    if (state.stage == RunStage::Erasing) model->wroteSomething = true;
    const uint32_t done = model->state.done;
    const uint32_t total = model->state.total;
    model->state = state;
    // The bar's steps come through the progress call, more often than the state.
    if (state.stage != RunStage::Ended) WindowTakeProgress(model, done, total);
    // A refusal belongs to the moment it was made.
    if (state.stage == RunStage::Ended) model->refusal[0] = '\0';
}

void WindowFollow(WindowModel* model, bool updating, bool needsFamily) {
    if (!updating && model->updating) model->refusal[0] = '\0';
    model->updating = updating;
    model->needsFamily = needsFamily;
}

void WindowTakeRefusal(WindowModel* model, const char* text) {
    std::snprintf(model->refusal, sizeof model->refusal, "%s", text);
}

void WindowTakePermission(WindowModel* model, const char* line) {
    std::snprintf(model->permission, sizeof model->permission, "%s", line);
}

void WindowChooseModel(WindowModel* model, bool on) {
    model->choosingModel = on;
    model->pickedModel = kSensorNone;
}

const WindowWords& WindowWordsFor(const WindowModel& model) {
    const RunState& state = model.state;
    if (model.updating) return kSituationWords[kUpdating];
    if (model.choosingModel) return kSituationWords[kChoosingModel];
    if (state.stage == RunStage::Ended) {
        switch (state.end) {
        case RunEnd::Updated: return kSituationWords[kUpdated];
        case RunEnd::NotBack: return kSituationWords[kNotBack];
        case RunEnd::Failed:
            return kSituationWords[model.wroteSomething ? kFailedWritten : kFailedUntouched];
        default: return VerdictWords(model, EndAsVerdict(state.end));
        }
    }
    if (!model.lookedAlready) return kVerdictWords[0];
    return VerdictWords(model, model.verdict);
}

WindowAction WindowActionFor(const WindowModel& model) {
    if (model.updating || !model.lookedAlready) return Action::None;
    if (model.choosingModel) return Action::WriteChosenModel;
    if (model.needsFamily) return Action::ChooseModel;
    return WindowWordsFor(model).action;
}

bool WindowActionReady(const WindowModel& model) {
    return WindowActionFor(model) != Action::WriteChosenModel || model.pickedModel != kSensorNone;
}

const char* WindowActionLabel(WindowAction action) {
    switch (action) {
    case Action::Update: return N_("Update");
    case Action::Retry: return N_("Retry");
    case Action::Recover: return N_("Finish Update");
    case Action::ChooseModel: return N_("Choose Sensor Model…");
    case Action::WriteChosenModel: return N_("Write Firmware");
    case Action::None: break;
    }
    return "";
}

const char* WindowModelOption(uint16_t family) { return family == 0 ? kModelOption0 : kModelOption1; }

const char* WindowStageWords(RunStage stage) {
    switch (stage) {
    case RunStage::Switching: return N_("Switching the sensor to update mode");
    case RunStage::Erasing: return N_("Erasing the old firmware");
    case RunStage::Writing: return N_("Writing the new firmware");
    case RunStage::Marking: return N_("Marking the firmware complete");
    case RunStage::Verifying: return N_("Checking the new firmware");
    case RunStage::Returning: return N_("Restarting the sensor");
    default: return N_("Starting the update");
    }
}

const char* WindowVersion(const WindowModel& model, int row) {
    const char* text = model.texts[static_cast<int>(row == 0 ? ViewText::CurrentVersion
                                                             : ViewText::NewVersion)];
    // No value to show: the row is not drawn, rather than read as an empty label.
    const bool known = text[0] != '\0' && std::strcmp(text, kUnknownVersion) != 0;
    return known && !model.choosingModel ? text : nullptr;
}

bool WindowSucceeded(const WindowModel& model) {
    return model.state.stage == RunStage::Ended && model.state.end == RunEnd::Updated;
}

bool WindowShowsBar(const WindowModel& model) { return model.updating || WindowSucceeded(model); }

const char* WindowDetail(const WindowModel& model) {
    return model.permission[0] != '\0' && !model.updating
               ? model.permission
               : model.texts[static_cast<int>(ViewText::Status)];
}
