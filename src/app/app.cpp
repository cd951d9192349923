// The main window's logic: start-up, the periodic tick, the buttons, close, and the update
// worker's thread from its start to the exit code. Every front end calls these from the
// thread that owns its window; what the window shows goes out through the view.
#include "app/app.h"

#include "sensor/diag_log.h"
#include "update/firmware_catalogue.h"
#include "zorflash_version.h"

const char kDialogCaption[] = "Digitizer Firmware Update Utility Ver." ZORFLASH_VERSION;
const char kMainWindowModule[] = "Firmware Write Utility for Orvell sensor";

namespace {

constexpr uint32_t kExitNoWorker = 2;
const char kThreadStartErrorText[] = "_beginthreadex ERROR";
const char kThreadStartErrorCaption[] = "ZORFLASH";

bool Interactive(const AppState* app) { return LaunchInteractive(app->options); }

bool WorkerRunning(const AppState* app) {
    return app->worker != nullptr && !plat_thread_ended(app->worker, nullptr);
}

// The run is over: the worker's result is the exit code. Every way here has seen the worker
// end first (close and Exit are refused while it runs), so the result is always there.
void Finish(AppState* app) {
    if (!Interactive(app)) app->ticking = false;
    uint32_t exitCode = kExitNoWorker;
    if (app->worker != nullptr) {
        plat_thread_ended(app->worker, &exitCode);
        plat_thread_close(app->worker);
        app->worker = nullptr;
        // --update tells how the update ended; the worker has written it and ended.
        if (app->settings.updateExitStatus) exitCode = UpdateExitStatusFor(app->request.outcome);
    } else if (app->settings.updateExitStatus) {
        exitCode = kExitUpdateFailed;  // the worker could not even start
    }
    app->finished = true;
    app->exitCode = static_cast<int>(exitCode);
    view_show_window(app->view, false);
}

// Ends the run without a worker, with `exitCode`; the tick is left as it is.
void Quit(AppState* app, int exitCode) {
    app->finished = true;
    app->exitCode = exitCode;
    view_show_window(app->view, false);
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

// The worker's thread procedure: the machine stays awake from the worker's first step to
// its last. Both calls come from the worker thread, whose lifetime the inhibitor follows.
unsigned RunUpdateWorker(void* parameter) {
    View* const view = static_cast<const UpdateRequest*>(parameter)->view;
    view_keep_awake(view, true);
    const unsigned result = UpdateWorker(parameter);
    view_keep_awake(view, false);
    return result;
}

void ReleaseWorker(AppState* app) {
    if (app->worker != nullptr) {
        plat_thread_close(app->worker);
        app->worker = nullptr;
    }
}

// The request lives in the state, which outlives every worker: the worker reads it after
// its start.
void StartUpdateWorker(AppState* app) {
    app->request.view = app->view;
    app->request.sensor = app->sensor;
    app->request.firmware = app->settings.firmware;
    app->request.familyUnknownText = app->settings.familyUnknownText;
    app->request.familyGiven = app->settings.familyOption != kSensorNone;
    app->worker = plat_thread_start(RunUpdateWorker, &app->request);
    if (app->worker == nullptr) {
        // A box would hold --update, which a script runs and nobody watches, for good: its
        // reason goes to the diagnostic output and the exit status (1). The slash options
        // keep the box they have always shown.
        if (app->settings.updateExitStatus) {
            LogDiagnostic(0, kThreadStartErrorText, kMainWindowModule, false);
        } else {
            view_message_box(app->view, kThreadStartErrorText, kThreadStartErrorCaption);
        }
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
void ShowSensor(AppState* app) {
    app->ticking = false;
    QuerySensorOnce(app);
    if (EndOnFamilyRefusal(app)) return;
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
    StartUpdateWorker(app);
    if (app->worker == nullptr) {
        // Nobody is there to press a button: end with the "not updated" code, 2.
        app->ticking = false;
        Finish(app);
    }
}

}  // namespace

void AppStart(AppState* app, View* view, const LaunchOptions& options, const AppSettings& settings) {
    app->view = view;
    app->options = options;
    app->settings = settings;
    app->worker = nullptr;
    app->sensor = SensorInfo{kSensorNone, kValueNotRead, kValueNotRead, kValueNotRead, 0};
    app->sensorQueried = false;
    app->exitRequested = false;
    app->finished = false;
    app->exitCode = 0;
    app->familyRefusal[0] = '\0';
    app->request = UpdateRequest{view, app->sensor, settings.firmware};
    // The tick starts with the window; then the bar is set up, greyed until an update.
    app->ticking = true;
    view_show_progress(view, 0, kProgressStartMaximum);
    view_enable_progress(view, false);
}

void AppTick(AppState* app) {
    if (app->finished || !app->ticking) return;
    if (app->worker != nullptr) {
        // An unattended run, or an Exit that came meanwhile, ends once the worker has.
        if (plat_thread_ended(app->worker, nullptr) && (!Interactive(app) || app->exitRequested)) {
            app->ticking = false;
            Finish(app);
        }
        return;
    }
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
        PressUpdate(app);
        return;
    }
    // While a worker runs its result is not final yet and the sensor may be mid-write, so
    // Exit waits for the worker's end. The worker enables Exit as its last step, a moment
    // before its thread ends: an Exit in that moment is remembered and carried out by the
    // tick once the worker has ended, rather than dropped.
    if (WorkerRunning(app)) {
        app->exitRequested = true;
        app->ticking = true;
    } else {
        Finish(app);
    }
}

bool AppClose(AppState* app) {
    // Ending now would leave the sensor half written; the update goes on and the program
    // can end once the worker has ended.
    if (WorkerRunning(app)) return true;
    if (!app->finished) Finish(app);
    return false;
}

bool AppFinished(const AppState* app, int* exitCode) {
    if (app->finished && exitCode != nullptr) *exitCode = app->exitCode;
    return app->finished;
}

bool AppUpdating(const AppState* app) { return WorkerRunning(app); }

bool AppNeedsFamily(const AppState* app) {
    return !WorkerRunning(app) && app->request.outcome.end == UpdateEnd::FamilyUnknown;
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
