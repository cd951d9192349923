// The main window's logic: program state, creation, timer ticks, commands, close and
// destroy. Each platform's message loop calls these handlers on the main thread.
#include "app/main_window.h"


#include "app/update_launch_internal.h"
#include "platform/platform.h"
#include "update/firmware_catalogue.h"

const char kDialogCaption[] = "Digitizer Firmware Update Utility Ver.1.0.0.3";
const char kMainWindowModule[] = "Firmware Write Utility for Orvell sensor";

// Set once the sensor has been queried; the query runs once per run.
bool sensorQueried = false;
// Set by an Exit that came while the worker was still ending; the next tick after the
// worker's end carries it out.
bool exitRequested = false;

namespace {

constexpr uint32_t kSensorQueries = 3;
constexpr uint32_t kSensorQueryPauseMs = 1000;
constexpr uint32_t kExitNoWorker = 2;
const char kUnknownVersion[] = "????";

}  // namespace

void ResetMainWindowState() {
    mainWindow = nullptr;
    workerThread = nullptr;
    LaunchMode = kLaunchInteractive;
    sensorInfo = SensorInfo{0, 0, 0, 0};
    ResetLaunchOptions(&launchOptions);
    firmwareSource = nullptr;
    sensorQueried = false;
    exitRequested = false;
    ResetUpdateRequests();
}

void QuerySensorOnce() {
    // Up to three queries one second apart; the pause follows the last failed query too.
    // The main thread does nothing else meanwhile.
    for (uint32_t query = 0; query < kSensorQueries; ++query) {
        IdentifySensor(&sensorInfo);
        if (sensorInfo.kind != kSensorNone) {
            break;
        }
        plat_sleep(kSensorQueryPauseMs);
    }
    sensorQueried = true;
}

void MainWindowOnCreate(WindowHandle window) {
    mainWindow = window;
    ui_set_timer(window, kMainTimerId, kTimerPeriodMs);
}

void MainWindowStartup(WindowHandle window, const char* commandLine) {
    ui_send_item_message(window, kIdProgress, kPbmSetRange, 0,
                         static_cast<intptr_t>(static_cast<uint32_t>(kProgressStartMaximum) << 16));
    ui_send_item_message(window, kIdProgress, kPbmSetStep, 1, 0);
    ui_enable_item(window, kIdProgress, 0);
    ResetLaunchOptions(&launchOptions);
    LaunchMode = kLaunchInteractive;
    ParseCommandLine(window, commandLine, &launchOptions);
    LaunchMode = launchOptions.launchMode;
}

bool WorkerRunning() {
    return workerThread != nullptr && ui_thread_exit_code(workerThread) == kStillActive;
}

void MainWindowOnCommand(WindowHandle window, int controlId) {
    switch (controlId) {
    case kIdUpdate:
        OnUpdateCommand();
        break;
    case kIdExit:
        // The destroy handling runs at once; the window is only hidden. While a worker runs
        // its exit code is not final yet and the sensor may be mid-write, so Exit waits for
        // the worker's end. The worker enables Exit as its last step, a moment before its
        // thread ends: an Exit in that moment is remembered and carried out by the timer
        // once the worker has ended, rather than dropped.
        if (WorkerRunning()) {
            exitRequested = true;
            ui_set_timer(window, kMainTimerId, kTimerPeriodMs);
        } else {
            MainWindowOnDestroy(window);
        }
        break;
    default:
        break;
    }
}

void MainWindowOnTimer(WindowHandle window, uint32_t timerId) {
    if (timerId != kMainTimerId) {
        return;
    }
    if (workerThread != nullptr) {
        WatchWorker(window);
        return;
    }
    if (LaunchMode >= 5) {
        // Interactive: this runs once per run; a sensor attached later is not seen.
        ui_kill_timer(window, kMainTimerId);
        QuerySensorOnce();
        if (sensorInfo.kind != kSensorNone) {
            char text[kVersionTextCapacity];
            FormatCurrentVersion(sensorInfo, kUnknownVersion, text, sizeof text);
            ui_set_item_text(window, kIdCurrentVersion, text);
            FormatNewVersion(sensorInfo.kind, text, sizeof text);
            ui_set_item_text(window, kIdNewVersion, text);
        } else {
            // The Update button stays enabled: the worker will report the missing sensor.
            ui_set_item_text(window, kIdCurrentVersion, kUnknownVersion);
        }
        return;
    }
    OnUnattendedTick(window);
}

int MainWindowOnClose(WindowHandle window) {
    // Ending now would leave the sensor half written; the update goes on and the program
    // can end once the worker has ended.
    if (WorkerRunning()) {
        return 1;
    }
    ui_destroy_window(window);
    return 0;
}

void MainWindowOnDestroy(WindowHandle window) {
    if (LaunchMode < 5) {
        ui_kill_timer(window, kMainTimerId);
    }
    uint32_t exitCode = kExitNoWorker;
    if (workerThread != nullptr) {
        exitCode = ui_thread_exit_code(workerThread);
        ui_thread_close(workerThread);
        workerThread = nullptr;
    }
    ui_post_quit(static_cast<int>(exitCode));
    ui_show_window(window, 0);
}
