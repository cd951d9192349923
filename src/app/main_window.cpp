// The main window's logic: creation, timer ticks, commands, close and destroy. Each front
// end's message loop calls these handlers on the main thread with the state it owns.
#include "app/main_window.h"

#include "app/update_launch_internal.h"
#include "platform/platform.h"
#include "update/firmware_catalogue.h"

const char kDialogCaption[] = "Digitizer Firmware Update Utility Ver.1.0.0.3";
const char kMainWindowModule[] = "Firmware Write Utility for Orvell sensor";

namespace {

constexpr uint32_t kExitNoWorker = 2;
const char kUnknownVersion[] = "????";

}  // namespace

void ResetMainWindowState(MainWindowState* state) {
    state->window = nullptr;
    state->worker = nullptr;
    ResetLaunchOptions(&state->options);
    state->sensor = SensorInfo{0, 0, 0, 0};
    state->sensorQueried = false;
    state->exitRequested = false;
    state->firmware = nullptr;
    state->updateExitStatus = false;
    state->familyOption = kSensorNone;
    state->familyUnknownText = nullptr;
    state->familyRefusal[0] = '\0';
    state->request = UpdateRequest{nullptr, SensorInfo{0, 0, 0, 0}, nullptr};
}

void QuerySensorOnce(MainWindowState* state) {
    // The main thread does nothing else meanwhile.
    QuerySensor(&state->sensor);
    ApplyFamilyOption(state->familyOption, &state->sensor, state->familyRefusal,
                      sizeof state->familyRefusal);
    state->sensorQueried = true;
}

bool EndOnFamilyRefusal(MainWindowState* state) {
    if (state->familyRefusal[0] == '\0') return false;
    // Nothing has been sent: the run ends as a usage error, with the reason on show.
    ui_set_item_text(state->window, kIdStatus, state->familyRefusal);
    ui_kill_timer(state->window, kMainTimerId);
    ui_post_quit(kExitUsage);
    ui_show_window(state->window, false);
    return true;
}

void MainWindowOnCreate(MainWindowState* state, WindowHandle window) {
    state->window = window;
    ui_set_timer(window, kMainTimerId, kTimerPeriodMs);
}

void MainWindowStartup(MainWindowState* state, const char* commandLine) {
    ui_set_progress_range(state->window, kProgressStartMaximum);
    ui_enable_item(state->window, kIdProgress, false);
    ResetLaunchOptions(&state->options);
    ParseCommandLine(state->window, commandLine, &state->options);
}

bool IsInteractive(const MainWindowState* state) { return state->options.launchMode >= 5; }

bool WorkerRunning(const MainWindowState* state) {
    return state->worker != nullptr && !ui_thread_ended(state->worker, nullptr);
}

void MainWindowOnCommand(MainWindowState* state, int controlId) {
    switch (controlId) {
    case kIdUpdate:
        OnUpdateCommand(state);
        break;
    case kIdExit:
        // The destroy handling runs at once; the window is only hidden. While a worker runs
        // its result is not final yet and the sensor may be mid-write, so Exit waits for
        // the worker's end. The worker enables Exit as its last step, a moment before its
        // thread ends: an Exit in that moment is remembered and carried out by the timer
        // once the worker has ended, rather than dropped.
        if (WorkerRunning(state)) {
            state->exitRequested = true;
            ui_set_timer(state->window, kMainTimerId, kTimerPeriodMs);
        } else {
            MainWindowOnDestroy(state);
        }
        break;
    default:
        break;
    }
}

void MainWindowOnTimer(MainWindowState* state, uint32_t timerId) {
    if (timerId != kMainTimerId) {
        return;
    }
    if (state->worker != nullptr) {
        WatchWorker(state);
        return;
    }
    if (IsInteractive(state)) {
        // Interactive: this runs once per run; a sensor attached later is not seen.
        ui_kill_timer(state->window, kMainTimerId);
        QuerySensorOnce(state);
        if (EndOnFamilyRefusal(state)) return;
        if (state->sensor.kind != kSensorNone) {
            char text[kVersionTextCapacity];
            FormatCurrentVersion(state->sensor, kUnknownVersion, text, sizeof text);
            ui_set_item_text(state->window, kIdCurrentVersion, text);
            FormatNewVersion(state->sensor.kind, text, sizeof text);
            ui_set_item_text(state->window, kIdNewVersion, text);
        } else {
            // The Update button stays enabled: the worker will report the missing sensor.
            ui_set_item_text(state->window, kIdCurrentVersion, kUnknownVersion);
        }
        return;
    }
    OnUnattendedTick(state);
}

bool MainWindowOnClose(MainWindowState* state) {
    // Ending now would leave the sensor half written; the update goes on and the program
    // can end once the worker has ended.
    if (WorkerRunning(state)) {
        return true;
    }
    ui_destroy_window(state->window);
    return false;
}

void MainWindowOnDestroy(MainWindowState* state) {
    if (!IsInteractive(state)) {
        ui_kill_timer(state->window, kMainTimerId);
    }
    // The worker's result is the exit code. Every way here has seen the worker end first
    // (close and Exit are refused while it runs), so the result is always there.
    uint32_t exitCode = kExitNoWorker;
    if (state->worker != nullptr) {
        ui_thread_ended(state->worker, &exitCode);
        ui_thread_close(state->worker);
        state->worker = nullptr;
        // --update tells how the update ended; the worker has written it and ended.
        if (state->updateExitStatus) exitCode = UpdateExitStatusFor(state->request.outcome);
    } else if (state->updateExitStatus) {
        exitCode = kExitUpdateFailed;  // the worker could not even start
    }
    ui_post_quit(static_cast<int>(exitCode));
    ui_show_window(state->window, false);
}
