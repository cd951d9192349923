// The main window's logic: start-up, the periodic tick, the buttons, close, and the update
// worker's thread from its start to the exit code. Every front end calls these from the
// thread that owns its window; what the window shows goes out through the view.
#include "app/app.h"

#include "sensor/diag_log.h"
#include "update/firmware_catalogue.h"
#include "zorflash_version.h"

const char kDialogCaption[] = "Digitizer Firmware Update Utility Ver." ZORFLASH_VERSION;
const char kMainWindowModule[] = "Firmware Write Utility for Orvell sensor";

static_assert(kRunNoSensor == kSensorNone, "the run's sensor and the query's share their none");

namespace {

constexpr int kExitNoWorker = 2;

bool Interactive(const AppState* app) { return LaunchInteractive(app->options); }

bool WorkerRunning(const AppState* app) { return app->workerRunning; }

void ReleaseWorker(AppState* app) {
    if (app->worker != nullptr) {
        plat_thread_close(app->worker);
        app->worker = nullptr;
    }
}

void ReleaseLooker(AppState* app) {
    if (app->looker != nullptr) {
        plat_thread_close(app->looker);
        app->looker = nullptr;
    }
}

// What Update would do, as the window's first look finds it.
RunVerdict LookedVerdict(const AppState* app) {
    const SensorInfo& sensor = app->sensor;
    if (sensor.kind == kSensorNone) {
        return sensor.productId == kProductBootLoader ? RunVerdict::FamilyUnknown
                                                      : RunVerdict::NoSensor;
    }
    if (app->image.origin != ImageOriginKind::Carried && app->image.origin != ImageOriginKind::File) {
        return RunVerdict::NoImage;
    }
    if (sensor.productId == kProductBootLoader) return RunVerdict::InBootLoader;
    switch (VerdictFor(sensor)) {
    case Verdict::UpToDate:
        return RunVerdict::UpToDate;
    case Verdict::DoesNotFit:
        return RunVerdict::DoesNotFit;
    default:
        return RunVerdict::UpdateAvailable;
    }
}

// The run is over. Every way here has seen the worker end first (close and Exit wait for
// it), so its outcome is final: it gives the exit code.
void Finish(AppState* app) {
    app->ticking = false;
    ReleaseWorker(app);
    int exitCode = kExitNoWorker;
    if (app->workerEnded) {
        // --update tells how the update ended; the slash options and the window tell 0
        // when no sensor was found, 2 otherwise.
        exitCode = app->settings.updateExitStatus ? UpdateExitStatusFor(app->request.outcome)
                                                  : UpdateWorkerExitCode(app->request.outcome);
    } else if (app->settings.updateExitStatus) {
        exitCode = kExitUpdateFailed;  // the worker could not even start
    } else if (app->settings.looksFirst && app->sensorQueried &&
               LookedVerdict(app) == RunVerdict::NoSensor) {
        // A window offers no Update without a sensor: its run ends as one that found none.
        UpdateOutcome none = {};
        none.end = UpdateEnd::NoSensor;
        exitCode = UpdateWorkerExitCode(none);
    }
    app->finished = true;
    app->exitCode = exitCode;
    view_show_window(app->view, false);
}

// Ends the run without a worker, with `exitCode`; the tick is left as it is.
void Quit(AppState* app, int exitCode) {
    app->finished = true;
    app->exitCode = exitCode;
    view_show_window(app->view, false);
}

// Before and after the first query: the run as data, with the sensor as far as it is known
// and, once a window's look has found it, what Update would do.
void ShowRunStage(AppState* app, RunStage stage) {
    RunState state = {stage, 0, 0, 0, kProgressStartMaximum, RunEnd::NotRun,
                      AsRunSensor(app->sensor), RunVerdict::Unknown, 0};
    if (stage == RunStage::Ready && app->settings.looksFirst) {
        state.verdict = LookedVerdict(app);
        if (state.verdict != RunVerdict::NoSensor && state.verdict != RunVerdict::FamilyUnknown &&
            state.verdict != RunVerdict::NoImage) {
            state.estimateMs = EstimateUpdateMs(ImageByteCount(app->image.image));
        }
    }
    view_show_state(app->view, state);
}

void QuerySensorOnce(AppState* app) {
    // The front end's thread does nothing else meanwhile.
    QuerySensor(&app->sensor);
    ApplyFamilyOption(app->settings.familyOption, &app->sensor, app->familyRefusal,
                      sizeof app->familyRefusal);
    app->sensorQueried = true;
}

bool EndOnFamilyRefusal(AppState* app) {
    if (app->familyRefusal[0] == '\0') return false;
    // Nothing has been sent: the run ends as a usage error, with the reason on show.
    view_show_text(app->view, ViewText::Status, app->familyRefusal);
    app->ticking = false;
    Quit(app, kExitUsage);
    return true;
}

// On the loop, once the worker's last step is done: a run nobody watches, or one whose Exit
// or close came meanwhile, ends now.
void WorkerEnded(void* parameter) {
    AppState* app = static_cast<AppState*>(parameter);
    if (app->finished || !app->workerRunning) return;
    app->workerRunning = false;
    app->workerEnded = true;
    ReleaseWorker(app);
    if (!Interactive(app) || app->exitRequested) Finish(app);
}

// The worker's thread procedure: the machine stays awake from the worker's first step to
// its last; both calls come from the worker thread, whose lifetime the inhibitor follows.
// Its end is handed to the loop as its very last step, after which it touches nothing.
unsigned RunUpdateWorker(void* parameter) {
    AppState* app = static_cast<AppState*>(parameter);
    plat_keep_awake(true);
    UpdateWorker(&app->request);
    plat_keep_awake(false);
    view_run_on_loop(app->view, WorkerEnded, app);
    return 0;
}

// The request lives in the state, which outlives every worker: the worker reads it after
// its start.
void StartUpdateWorker(AppState* app) {
    app->request.view = app->view;
    app->request.sensor = app->sensor;
    app->request.firmware = app->settings.firmware;
    app->request.familyUnknownText = app->settings.familyUnknownText;
    app->request.familyGiven = app->settings.familyOption != kSensorNone;
    app->workerEnded = false;
    app->workerRunning = true;
    app->worker = plat_thread_start(RunUpdateWorker, app);
    if (app->worker != nullptr) return;
    app->workerRunning = false;
    // A box would hold a run nobody watches for good: its reason goes to the diagnostic
    // output and the exit status.
    if (app->settings.unattended) {
        LogDiagnostic(0, StatusTextFor(StatusText::UpdateNotStarted), kMainWindowModule, false);
    } else {
        view_show_error(app->view, ViewError::UpdateNotStarted);
    }
}

void PressUpdate(AppState* app) {
    // A second worker on the same request would race the first for the sensor; the button
    // is disabled by the worker, but a press can arrive before that.
    if (WorkerRunning(app)) return;
    ReleaseWorker(app);
    // Mode 3 reaches the Update button without a first-tick query; query now so that the
    // worker judges the sensor actually attached. An earlier query is not repeated.
    if (!app->sensorQueried) {
        QuerySensorOnce(app);
        if (EndOnFamilyRefusal(app)) return;
    }
    StartUpdateWorker(app);
}

// The first tick of an interactive run: once per run; a sensor attached later is not seen.
void ShowQueriedSensor(AppState* app) {
    if (EndOnFamilyRefusal(app)) return;
    ShowRunStage(app, RunStage::Ready);
    if (app->sensor.kind != kSensorNone) {
        char text[kVersionTextCapacity];
        FormatCurrentVersion(app->sensor, kUnknownVersion, text, sizeof text);
        view_show_text(app->view, ViewText::CurrentVersion, text);
        FormatNewVersion(app->sensor.kind, text, sizeof text);
        view_show_text(app->view, ViewText::NewVersion, text);
    } else {
        // The Update button stays enabled: the worker will report the missing sensor.
        view_show_text(app->view, ViewText::CurrentVersion, kUnknownVersion);
    }
}

// On the loop, once the window's first look has ended: a close that came meanwhile ends the
// run now, otherwise the window shows what was found.
void LookEnded(void* parameter) {
    AppState* app = static_cast<AppState*>(parameter);
    if (!app->looking) return;
    app->looking = false;
    ReleaseLooker(app);
    if (app->finished) return;
    if (app->exitRequested) {
        Finish(app);
        return;
    }
    ShowQueriedSensor(app);
    if (app->updateAfterLook && !app->finished) {
        app->updateAfterLook = false;
        PressUpdate(app);
    }
}

// The first look's thread: the sensor as the first tick queries it, and the image Update
// would write, read as the worker will read it. Nothing is sent that changes the sensor.
unsigned RunFirstLook(void* parameter) {
    AppState* app = static_cast<AppState*>(parameter);
    QuerySensorOnce(app);
    if (app->sensor.kind != kSensorNone) ChooseImage(app->sensor.kind, app->settings.firmware, &app->image);
    view_run_on_loop(app->view, LookEnded, app);
    return 0;
}

void ShowSensor(AppState* app) {
    app->ticking = false;
    if (app->settings.looksFirst) {
        app->looking = true;
        app->looker = plat_thread_start(RunFirstLook, app);
        if (app->looker != nullptr) return;
        app->looking = false;
    }
    QuerySensorOnce(app);
    ShowQueriedSensor(app);
    if (app->updateAfterLook && !app->finished) {
        app->updateAfterLook = false;
        PressUpdate(app);
    }
}

// A tick of an unattended run without a worker: starts it, or ends a run that cannot.
void UnattendedTick(AppState* app) {
    if (LaunchLacksFileName(app->options)) {
        Quit(app, 4);
        return;
    }
    ReleaseWorker(app);
    if (app->options.launchMode == 3) return;
    // The unattended run identifies the sensor as the first interactive tick does; without
    // it the worker would judge an all-zero record and never update anything.
    QuerySensorOnce(app);
    if (EndOnFamilyRefusal(app)) return;
    // Once started, the worker's end ends the run; no tick is needed for it.
    app->ticking = false;
    StartUpdateWorker(app);
    // Nobody is there to press a button: end with the "not updated" code, 2.
    if (app->worker == nullptr) Finish(app);
}

}  // namespace

void AppStart(AppState* app, View* view, const LaunchOptions& options, const AppSettings& settings) {
    app->view = view;
    app->options = options;
    app->settings = settings;
    app->worker = nullptr;
    app->looker = nullptr;
    app->looking = false;
    app->updateAfterLook = false;
    app->image.origin = ImageOriginKind::NotCarried;
    app->workerRunning = false;
    app->workerEnded = false;
    app->sensor = SensorInfo{kSensorNone, kValueNotRead, kValueNotRead, kValueNotRead, 0};
    app->sensorQueried = false;
    app->exitRequested = false;
    app->finished = false;
    app->exitCode = 0;
    app->familyRefusal[0] = '\0';
    app->request = UpdateRequest{view, app->sensor, settings.firmware};
    // The tick starts with the window; then the bar is set up, greyed until an update.
    app->ticking = true;
    view_show_progress(view, 0, kProgressStartMaximum, false);
    view_enable_progress(view, false);
    ShowRunStage(app, RunStage::Identifying);
}

void AppTick(AppState* app) {
    if (app->finished || !app->ticking || WorkerRunning(app) || app->looking) return;
    if (Interactive(app)) {
        ShowSensor(app);
        return;
    }
    UnattendedTick(app);
}

bool AppWantsTicks(const AppState* app) { return app->ticking; }

void AppPress(AppState* app, AppButton button) {
    if (app->finished) return;
    if (button == AppButton::Update) {
        // Nothing is written before the first look has said what there is to write.
        if (!app->looking) PressUpdate(app);
        return;
    }
    // A look only reads: Exit takes the window away now and the run ends with the look.
    if (app->looking) {
        app->exitRequested = true;
        view_show_window(app->view, false);
        return;
    }
    // While a worker runs its result is not final yet and the sensor may be mid-write, so
    // Exit waits for the worker's end. The worker enables Exit as its last step, a moment
    // before its end reaches the loop: an Exit in that moment is remembered and carried out
    // then, rather than dropped.
    if (WorkerRunning(app)) {
        app->exitRequested = true;
    } else {
        Finish(app);
    }
}

void AppRetry(AppState* app) {
    if (app->finished || WorkerRunning(app) || app->looking) return;
    ReleaseWorker(app);
    app->updateAfterLook = true;
    app->sensorQueried = false;
    ShowSensor(app);
}

bool AppClose(AppState* app) {
    // Ending now would leave the sensor half written; the update goes on and the program
    // can end once the worker has ended.
    if (WorkerRunning(app)) return true;
    if (app->looking) {
        AppPress(app, AppButton::Exit);
        return false;
    }
    if (!app->finished) Finish(app);
    return false;
}

bool AppCloseWhenDone(AppState* app) {
    if (!AppClose(app)) return false;
    app->exitRequested = true;
    return true;
}

bool AppFinished(const AppState* app, int* exitCode) {
    if (app->finished && exitCode != nullptr) *exitCode = app->exitCode;
    return app->finished;
}

bool AppUpdating(const AppState* app) { return WorkerRunning(app); }

bool AppNeedsFamily(const AppState* app) {
    if (WorkerRunning(app) || app->looking) return false;
    if (app->request.outcome.end == UpdateEnd::FamilyUnknown) return true;
    return app->settings.looksFirst && app->sensorQueried && !app->workerEnded &&
           LookedVerdict(app) == RunVerdict::FamilyUnknown;
}

namespace {

// The share of an update's time each stage takes, the write taking what the estimate leaves.
struct StageShare {
    RunStage stage;
    uint32_t ms;
};
constexpr StageShare kStageShares[] = {
    {RunStage::Switching, 3500}, {RunStage::Erasing, 2000}, {RunStage::Writing, 0},
    {RunStage::Marking, 300},    {RunStage::Verifying, 700}, {RunStage::Returning, 2000},
};
// The protocol's fixed waits (the switch, the boot loader's arrival, the erase, the return
// to normal mode), as the shares above split them, and each 128-byte block's write.
constexpr uint32_t kFixedWaitsMs = 8500;
constexpr uint32_t kPerBlockMs = 20;

}  // namespace

uint32_t EstimateUpdateMs(uint32_t imageBytes) {
    return kFixedWaitsMs + imageBytes / 128 * kPerBlockMs;
}

uint32_t RunBarPermille(const RunState& state, uint32_t msInStage, uint32_t estimateMs) {
    if (state.stage == RunStage::Ended && state.end == RunEnd::Updated) return 1000;
    const uint32_t writingMs = estimateMs > kFixedWaitsMs ? estimateMs - kFixedWaitsMs : 1000;
    const uint64_t totalMs = kFixedWaitsMs + writingMs;
    uint64_t before = 0;
    for (const StageShare& share : kStageShares) {
        const uint64_t shareMs = share.stage == RunStage::Writing ? writingMs : share.ms;
        if (share.stage != state.stage) {
            before += shareMs;
            continue;
        }
        uint64_t within = 0;
        if (share.stage == RunStage::Writing) {
            // The bar's steps are the write's blocks, then the check's: half of them write.
            const uint64_t half = state.total / 2;
            within = half > 0 ? shareMs * (state.done < half ? state.done : half) / half : 0;
        } else {
            within = msInStage < shareMs * 9 / 10 ? msInStage : shareMs * 9 / 10;
        }
        return static_cast<uint32_t>((before + within) * 1000 / totalMs);
    }
    return 0;  // not updating: identifying, ready, or an end other than success
}

bool AppChooseFamily(AppState* app, uint16_t family, char* refusal, size_t capacity) {
    if (capacity > 0) refusal[0] = '\0';
    if (app->finished || !AppNeedsFamily(app)) return false;
    // The sensor as queried, the family given as --family would give it.
    if (!ApplyFamilyOption(family, &app->sensor, refusal, capacity)) return false;
    app->settings.familyOption = family;
    ReleaseWorker(app);
    StartUpdateWorker(app);
    return app->worker != nullptr;
}

const UpdateOutcome& AppOutcome(const AppState* app) { return app->request.outcome; }

const SensorInfo& AppSensor(const AppState* app) { return app->sensor; }

const char* AppFamilyRefusal(const AppState* app) { return app->familyRefusal; }
