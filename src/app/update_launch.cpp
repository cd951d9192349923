// Starting the update worker from the main thread, and ending an unattended run when the
// worker has ended.
#include "app/update_launch_internal.h"

#include "sensor/diag_log.h"

namespace {

const char kThreadStartErrorText[] = "_beginthreadex ERROR";
const char kThreadStartErrorCaption[] = "ZORFLASH";

// The worker's thread procedure: the machine stays awake from the worker's first step to
// its last. Both calls come from the worker thread, whose lifetime the inhibitor follows.
unsigned RunUpdateWorker(void* parameter) {
    const WindowHandle window = static_cast<const UpdateRequest*>(parameter)->window;
    ui_keep_awake(window, true);
    const unsigned result = UpdateWorker(parameter);
    ui_keep_awake(window, false);
    return result;
}

void ReleaseWorker(MainWindowState* state) {
    if (state->worker != nullptr) {
        ui_thread_close(state->worker);
        state->worker = nullptr;
    }
}

// The request lives in the state, which outlives every worker: the worker reads it after
// its start.
void StartUpdateWorker(MainWindowState* state) {
    state->request.window = state->window;
    state->request.sensor = state->sensor;
    state->request.firmware = state->firmware;
    state->request.familyUnknownText = state->familyUnknownText;
    state->worker = ui_thread_start(RunUpdateWorker, &state->request);
    if (state->worker == nullptr) {
        // A box would hold --update, which a script runs and nobody watches, for good: its
        // reason goes to the diagnostic output and the exit status (1). The slash options
        // keep the box they have always shown.
        if (state->updateExitStatus) {
            LogDiagnostic(0, kThreadStartErrorText, kMainWindowModule, 0);
        } else {
            ui_message_box(kThreadStartErrorText, kThreadStartErrorCaption);
        }
    }
}

}  // namespace

void OnUpdateCommand(MainWindowState* state) {
    // A second worker on the same request would race the first for the sensor; the button
    // is disabled by the worker, but a click can arrive before that.
    if (WorkerRunning(state)) {
        return;
    }
    ReleaseWorker(state);
    // Mode 3 reaches the Update button without a first-tick query; query now so that the
    // worker judges the sensor actually attached. An earlier query is not repeated.
    if (!state->sensorQueried) {
        QuerySensorOnce(state);
        if (EndOnFamilyRefusal(state)) return;
    }
    StartUpdateWorker(state);
}

bool UnattendedWithoutFileName(const MainWindowState* state) {
    const int32_t mode = state->options.launchMode;
    return mode < 5 && mode != 4 && state->options.fileName[0] == '\0';
}

void OnUnattendedTick(MainWindowState* state) {
    ui_get_item_text(state->window, kIdFileName, state->options.fileName, kFileNameCapacity);
    if (UnattendedWithoutFileName(state)) {
        ui_post_quit(4);
        ui_show_window(state->window, false);
        return;
    }
    ReleaseWorker(state);
    if (state->options.launchMode == 3) {
        return;
    }
    // The unattended run identifies the sensor as the first interactive tick does; without
    // it the worker would judge an all-zero record and never update anything.
    QuerySensorOnce(state);
    if (EndOnFamilyRefusal(state)) return;
    StartUpdateWorker(state);
    if (state->worker == nullptr) {
        // Nobody is there to press a button: end with the "not updated" code, 2.
        ui_kill_timer(state->window, kMainTimerId);
        ui_destroy_window(state->window);
    }
}

void WatchWorker(MainWindowState* state) {
    if (ui_thread_ended(state->worker, nullptr) &&
        (!IsInteractive(state) || state->exitRequested)) {
        ui_kill_timer(state->window, kMainTimerId);
        ui_destroy_window(state->window);
    }
}
