// Starting the update worker from the main thread, and ending an unattended run when the
// worker has ended.
#include "app/main_window.h"
#include "app/update_launch_internal.h"

namespace {

// Static records: a worker reads its request after the start, so they outlive every worker.
UpdateRequest interactiveRequest;
UpdateRequest unattendedRequest;

const char kThreadStartErrorText[] = "_beginthreadex ERROR";
const char kThreadStartErrorCaption[] = "ZORFLASH";

// The worker's thread procedure: the machine stays awake from the worker's first step to
// its last. Both calls come from the worker thread, whose lifetime the inhibitor follows.
unsigned RunUpdateWorker(void* request) {
    ui_keep_awake(1);
    const unsigned result = UpdateWorker(request);
    ui_keep_awake(0);
    return result;
}

void ReleaseWorker() {
    if (workerThread != nullptr) {
        ui_thread_close(workerThread);
        workerThread = nullptr;
    }
}

}  // namespace

void ResetUpdateRequests() {
    interactiveRequest = UpdateRequest{nullptr, SensorInfo{0, 0, 0, 0}, nullptr};
    unattendedRequest = UpdateRequest{nullptr, SensorInfo{0, 0, 0, 0}, nullptr};
}

void StartUpdateWorker(UpdateRequest* request) {
    workerThread = ui_thread_start(RunUpdateWorker, request);
    if (workerThread == nullptr) {
        ui_message_box(kThreadStartErrorText, kThreadStartErrorCaption);
    }
}

void OnUpdateCommand() {
    // A second worker on the same request would race the first for the sensor; the button
    // is disabled by the worker, but a click can arrive before that.
    if (WorkerRunning()) {
        return;
    }
    ReleaseWorker();
    // Mode 3 reaches the Update button without a first-tick query; query now so that the
    // worker judges the sensor actually attached. An earlier query is not repeated.
    if (!sensorQueried) {
        QuerySensorOnce();
    }
    interactiveRequest.window = mainWindow;
    interactiveRequest.sensor = sensorInfo;
    interactiveRequest.firmware = firmwareSource;
    StartUpdateWorker(&interactiveRequest);
}

bool UnattendedWithoutFileName() {
    return LaunchMode < 5 && LaunchMode != 4 && launchOptions.fileName[0] == '\0';
}

void OnUnattendedTick(WindowHandle window) {
    ui_get_item_text(window, kIdFileName, launchOptions.fileName, kFileNameCapacity);
    if (UnattendedWithoutFileName()) {
        ui_post_quit(4);
        ui_show_window(window, 0);
        return;
    }
    ReleaseWorker();
    if (LaunchMode == 3) {
        return;
    }
    // The unattended run identifies the sensor as the first interactive tick does; without
    // it the worker would judge an all-zero record and never update anything.
    QuerySensorOnce();
    unattendedRequest.window = mainWindow;
    unattendedRequest.sensor = sensorInfo;
    unattendedRequest.firmware = firmwareSource;
    StartUpdateWorker(&unattendedRequest);
    if (workerThread == nullptr) {
        // Nobody is there to press a button: end with the "not updated" code, 2.
        ui_kill_timer(window, kMainTimerId);
        ui_destroy_window(window);
    }
}

void WatchWorker(WindowHandle window) {
    if (ui_thread_exit_code(workerThread) != kStillActive && (LaunchMode < 5 || exitRequested)) {
        ui_kill_timer(window, kMainTimerId);
        ui_destroy_window(window);
    }
}
