// The main window's logic, for every front end: it owns the state of one run (the launch
// options, the sensor found, the update worker's thread and how it ended) and tells the view
// what to show. The front end owns its loop: it creates the window, calls AppStart, then
// AppTick every kAppTickMs while AppWantsTicks says so, and AppPress / AppClose on the
// user's actions, until AppFinished gives the exit code. The worker's end reaches the loop
// as work the app hands to it (view_run_on_loop): nothing polls for it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "app/command_line.h"      // LaunchOptions: mode and file name, as data
#include "app/reports.h"           // kRefusalCapacity
#include "platform/system.h"     // PlatThread
#include "platform/view.h"
#include "sensor/sensor_info.h"
#include "update/update_worker.h"  // UpdateOutcome, FirmwareSource

constexpr uint32_t kAppTickMs = 100;

enum class AppButton : uint8_t { Update, Exit };

struct AppSettings {
    FirmwareSource* firmware;        // where updates take their image from; null: carried only
    bool updateExitStatus;           // --update: the exit status tells how the update ended
    uint16_t familyOption;           // --family; kSensorNone when not given
    const char* familyUnknownText;   // status line for a boot loader of unknown family; null:
                                     // the no-connection text
    bool unattended;                 // nobody watches: nothing is shown that waits for a click
    // The window looks at the sensor and its image on a thread of its own, so that it
    // answers at once, and the Ready state carries the verdict, the version Update would
    // write and how long that takes.
    bool looksFirst;
};

// One run's state: a plain struct defined here, owned by the front end (its fields are the
// app's business). Touched by the front end's thread only; the worker reads `request`
// once, at its start, and writes its outcome as it ends.
struct AppState {
    View* view;
    LaunchOptions options;  // launchMode 5 and up is interactive
    AppSettings settings;
    PlatThread* worker;     // the update worker's thread; null when none is held
    PlatThread* looker;     // the first look's thread (looksFirst); null when none is held
    bool looking;           // from the look's start until its end has reached the loop
    bool updateAfterLook;   // the look was asked for by a retry: the update follows it
    bool workerRunning;     // from its start until its end has reached the loop
    bool workerEnded;       // a worker ran to its end: `request.outcome` is final
    SensorInfo sensor;      // the sensor query's result
    bool sensorQueried;     // the query runs once per run
    bool exitRequested;     // an Exit or a close came while the worker ran: done at its end
    bool ticking;           // the periodic tick runs
    bool finished;
    int exitCode;
    // Set by a sensor query that refused --family; the run ends with exit status 4.
    char familyRefusal[kRefusalCapacity];
    // Written before each worker starts; only one worker runs at a time.
    UpdateRequest request;
    ImageChoice image;      // the first look's choice of image (looksFirst)
};

// Texts of the window.
extern const char kDialogCaption[];      // "Digitizer Firmware Update Utility Ver.<version>"
extern const char kMainWindowModule[];   // "Firmware Write Utility for Orvell sensor"

// The window exists: set-up (progress bar) and the launch options, which the front end has
// parsed from its command line (ParseCommandLine gives LaunchOptions; the file name travels
// in them as data).
void AppStart(AppState* app, View* view, const LaunchOptions& options, const AppSettings& settings);
// The periodic tick: the first identifies the sensor (an unattended run then starts its
// worker). Returns nothing; see AppWantsTicks.
void AppTick(AppState* app);
// Whether the front end should keep calling AppTick (the Windows front end maps this onto
// SetTimer/KillTimer at the moments the design gives).
bool AppWantsTicks(const AppState* app);
void AppPress(AppState* app, AppButton button);
// A window's Retry: the sensor is looked at again (after a failed write it waits in its boot
// loader, under another product), and the update starts on what the look found.
void AppRetry(AppState* app);
// The window's close (the title bar's X): true when refused because the sensor is being
// written; false when the run is ending.
bool AppClose(AppState* app);
// A close nobody can be asked about again (a signal, the session's end): refused the same
// way while the sensor is written, and then carried out as soon as the update has ended.
// True when refused.
bool AppCloseWhenDone(AppState* app);
// True once the run is over, with the process exit code.
bool AppFinished(const AppState* app, int* exitCode);
// True while the update worker runs (the sensor may be being written).
bool AppUpdating(const AppState* app);

// About how long an update that writes `imageBytes` takes, waits included.
uint32_t EstimateUpdateMs(uint32_t imageBytes);
// Where a bar that moves with time stands, in thousandths, `msInStage` into the state's
// stage of an update estimated at `estimateMs`: each stage has its share of the estimate,
// the write moves with its blocks, and a wait never claims the next stage's share.
uint32_t RunBarPermille(const RunState& state, uint32_t msInStage, uint32_t estimateMs);

// The family question: true when the last update ended because a sensor in its boot loader
// has no known family, or a window's first look found one. AppChooseFamily answers it as --family N would (refused the same way,
// with `refusal` set) and, when accepted, starts the update again.
bool AppNeedsFamily(const AppState* app);
bool AppChooseFamily(AppState* app, uint16_t family, char* refusal, size_t capacity);

// How the last update ended (end NotRun: none ran) and the sensor as found, for reports.
const UpdateOutcome& AppOutcome(const AppState* app);
const SensorInfo& AppSensor(const AppState* app);
// Why --family was refused when the sensor was queried (the run then ends with 4); "" when
// it was not.
const char* AppFamilyRefusal(const AppState* app);
