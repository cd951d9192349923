// The main window's logic, independent of the toolkit that shows it. Each platform's
// message loop creates the dialog and calls these handlers on the main thread.
#pragma once

#include <cstdint>

#include "app/command_line.h"
#include "platform/ui.h"
#include "sensor/sensor_info.h"
#include "update/update_worker.h"

// Program state, owned by the main thread.
extern WindowHandle mainWindow;
extern ThreadHandle workerThread;
extern int32_t LaunchMode;
extern SensorInfo sensorInfo;
extern LaunchOptions launchOptions;
// Where updates take their image from; set by the program's entry after the reset, null for
// the carried images only.
extern FirmwareSource* firmwareSource;

constexpr uint16_t kProgressStartMaximum = 0x220;  // 544
constexpr uint32_t kTimerPeriodMs = 100;

// Resets the program state to its values at process start (tests run many programs).
void ResetMainWindowState();

// WM_CREATE: remembers the window and starts timer 1.
void MainWindowOnCreate(WindowHandle window);
// Start-up steps after the dialog exists: progress bar set-up, launch options, parse.
void MainWindowStartup(WindowHandle window, const char* commandLine);
// WM_COMMAND with a control ID.
void MainWindowOnCommand(WindowHandle window, int controlId);
// WM_TIMER.
void MainWindowOnTimer(WindowHandle window, uint32_t timerId);
// The window's close command (WM_CLOSE, Ctrl-C, hang-up). Returns 1 when it was refused
// because a worker is running, 0 when the program is ending.
int MainWindowOnClose(WindowHandle window);
// WM_DESTROY: chooses the exit code, posts the quit message and hides the window.
void MainWindowOnDestroy(WindowHandle window);
// True while the worker thread runs.
bool WorkerRunning();

// Update launch.
// True for an unattended mode that needs a file name and was given none: the first tick
// ends such a run with exit code 4, so the window need not be shown at all.
bool UnattendedWithoutFileName();
void OnUpdateCommand();
void OnUnattendedTick(WindowHandle window);
void WatchWorker(WindowHandle window);
void StartUpdateWorker(UpdateRequest* request);

// Texts of the dialog.
extern const char kDialogCaption[];      // "Digitizer Firmware Update Utility Ver.1.0.0.3"
extern const char kMainWindowModule[];   // "Firmware Write Utility for Orvell sensor"
