// The main window's logic, independent of the toolkit that shows it. Each front end creates
// the dialog, owns one MainWindowState and hands it to these handlers on the main thread.
#pragma once

#include <cstdint>

#include "app/command_line.h"
#include "app/reports.h"
#include "platform/ui.h"
#include "sensor/sensor_info.h"
#include "update/update_worker.h"

// What the main window knows from one message to the next. Owned by the front end and
// touched by the main thread only; the worker reads `request` once, at its start.
struct MainWindowState {
    WindowHandle window;    // the dialog, from its creation on
    ThreadHandle worker;    // the update worker's thread; null when none is held
    LaunchOptions options;  // the command line; launchMode 5 and up is interactive
    SensorInfo sensor;      // the sensor query's result
    bool sensorQueried;     // the query runs once per run
    bool exitRequested;     // an Exit came while the worker was still ending
    // Where updates take their image from; null for the carried images only. Set by the
    // front end after the reset, as the three below are.
    FirmwareSource* firmware;
    // --update: the exit status tells how the update ended (kExitCurrent and its kin).
    bool updateExitStatus = false;
    // --family: the family of a sensor found in its boot loader; kSensorNone when not given.
    uint16_t familyOption = kSensorNone;
    // The status line for a sensor in its boot loader of unknown family; null: the
    // no-connection text.
    const char* familyUnknownText = nullptr;
    // Set by a sensor query that refused --family; the run ends with exit status 4.
    char familyRefusal[kRefusalCapacity] = "";
    // Written before each worker starts; only one worker runs at a time.
    UpdateRequest request;
};

constexpr uint16_t kProgressStartMaximum = 0x220;  // 544
constexpr uint32_t kTimerPeriodMs = 100;

// The state at process start: interactive, no window, no worker, no sensor known.
void ResetMainWindowState(MainWindowState* state);

// The window's creation (WM_CREATE): remembers the window and starts timer 1.
void MainWindowOnCreate(MainWindowState* state, WindowHandle window);
// Start-up steps after the dialog exists: progress bar set-up, launch options, parse.
void MainWindowStartup(MainWindowState* state, const char* commandLine);
// A button was pressed (kIdUpdate, kIdExit).
void MainWindowOnCommand(MainWindowState* state, int controlId);
void MainWindowOnTimer(MainWindowState* state, uint32_t timerId);
// The window's close command (WM_CLOSE, Ctrl-C, hang-up). True when it was refused because
// a worker is running, false when the program is ending.
bool MainWindowOnClose(MainWindowState* state);
// The window goes away (WM_DESTROY): chooses the exit code, posts the quit and hides it.
void MainWindowOnDestroy(MainWindowState* state);
// True while the worker thread runs.
bool WorkerRunning(const MainWindowState* state);
// True for an unattended mode that needs a file name and was given none: the first tick
// ends such a run with exit code 4, so the window need not be shown at all.
bool UnattendedWithoutFileName(const MainWindowState* state);
bool IsInteractive(const MainWindowState* state);

// Texts of the dialog.
extern const char kDialogCaption[];      // "Digitizer Firmware Update Utility Ver.1.0.0.3"
extern const char kMainWindowModule[];   // "Firmware Write Utility for Orvell sensor"
