// The program state shared by the main window, the update launch and the write-and-verify
// sequence (which reaches the progress bar through mainWindow).
#include "app/main_window.h"

WindowHandle mainWindow = nullptr;
ThreadHandle workerThread = nullptr;
int32_t LaunchMode = kLaunchInteractive;
SensorInfo sensorInfo = {0, 0, 0, 0};
LaunchOptions launchOptions = {kLaunchInteractive, 0, 0, 0, 0, {0}};
FirmwareSource* firmwareSource = nullptr;
