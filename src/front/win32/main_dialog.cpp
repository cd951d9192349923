// The Windows main dialog: class registration, creation from template 103, the message
// loop, and the window procedure that hands each message to the main window's logic
// together with the state this front end owns.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>

#include "app/main_window.h"
#include "front/win32/main_dialog.h"
#include "platform/win32/resource.h"
#include "platform/win32/win32_ui.h"
#include "sensor/diag_log.h"

static_assert(DLGWINDOWEXTRA == 30, "window extra bytes of a dialog of a private class");
static_assert(COLOR_BTNFACE + 1 == 16, "class background: the button face colour");

namespace {

constexpr UINT kClassStyle = 0;
constexpr int kExitStartupFailed = 0;
constexpr int kExitSecondInstance = 2;

const char kAlreadyRunningText[] =
    "Another copy of this utility is already running. Finish it before starting a new one.";
const char kAlreadyRunningCaption[] = "ZORFLASH";
const wchar_t kShutdownBlockReason[] =
    L"The sensor firmware is being updated. Shutting down now can damage the sensor.";

// The command line's long options, and where updates take their image from: the carried
// images, or files from --firmware-dir where the edition offers it.
LongOptions longOptions;
FirmwareSource firmware = {nullptr, nullptr, {}, {}};
char slashOptions[8192];
char longOptionText[8192];

// Answers --help, --version and a wrong long option in a box captioned as the dialog, before
// the single-instance check and the first tick: the sensor is not touched. Returns the exit
// code, or -1 when the program goes on.
int AnswerLongOptions(const Edition& edition) {
    const int exitCode =
        AnswerTextOptions(edition, longOptions, &firmware, longOptionText, sizeof longOptionText);
    if (exitCode < 0) return exitCode;
    const UINT icon = exitCode == kExitUsage ? MB_ICONERROR : MB_ICONINFORMATION;
    MessageBoxA(nullptr, longOptionText, kDialogCaption, MB_OK | icon);
    return exitCode;
}

// --info: the sensor as the first tick finds it, in a box; nothing is sent to it.
int ShowSensorInfo(bool alreadyRunning) {
    if (alreadyRunning) {
        MessageBoxA(nullptr, kAlreadyRunningText, kDialogCaption, MB_OK | MB_ICONSTOP);
        return kExitAlreadyRunning;
    }
    SensorInfo sensor;
    QuerySensor(&sensor);
    FormatSensorReport(sensor, longOptionText, sizeof longOptionText);
    MessageBoxA(nullptr, longOptionText, kDialogCaption, MB_OK | MB_ICONINFORMATION);
    return InfoExitStatus(sensor);
}

// The main window's state, owned by this front end for the whole process. The window
// procedure has no other way to it: the dialog's creation data reach only a dialog
// procedure, and this class has none.
MainWindowState state;

}  // namespace

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        MainWindowOnCreate(&state, window);
        return 0;
    case WM_COMMAND:
        MainWindowOnCommand(&state, LOWORD(wParam));
        return 0;
    case WM_TIMER:
        MainWindowOnTimer(&state, static_cast<uint32_t>(wParam));
        return 0;
    case WM_CLOSE:
        // Refused while a worker runs (the sensor may be mid-write); otherwise the logic
        // destroys the window, which brings WM_DESTROY and the exit code.
        MainWindowOnClose(&state);
        return 0;
    case WM_QUERYENDSESSION:
        // Same rule for the end of the session: Windows shows the reason set below.
        return WorkerRunning(&state) ? FALSE : TRUE;
    case WM_DESTROY:
        MainWindowOnDestroy(&state);
        return 0;
    case kWin32MsgShutdownBlock:
        if (wParam) {
            ShutdownBlockReasonCreate(window, kShutdownBlockReason);
        } else {
            ShutdownBlockReasonDestroy(window);
        }
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

int RunMainDialog(HINSTANCE instance, const char* commandLine, int showCommand,
                  const Edition& edition) {
    TakeLongOptionsFromLine(commandLine, edition, &longOptions, slashOptions, sizeof slashOptions);
    if (longOptions.firmwareDirectory[0] != '\0') firmware.directory = longOptions.firmwareDirectory;
    const int answered = AnswerLongOptions(edition);
    if (answered >= 0) return answered;

    // One instance at a time: two programs updating one sensor would interleave their
    // commands. The mutex is held until the process ends.
    CreateMutexA(nullptr, FALSE, kSingleInstanceMutexName);
    const bool alreadyRunning = GetLastError() == ERROR_ALREADY_EXISTS;
    if (longOptions.outcome == LongOptionsOutcome::ShowInfo) return ShowSensorInfo(alreadyRunning);

    // The progress bar's window class comes from the common controls.
    INITCOMMONCONTROLSEX controls = {sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);

    WNDCLASSA windowClass = {};
    windowClass.style = kClassStyle;
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = DLGWINDOWEXTRA;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_PROGRAM_ICON));
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    windowClass.lpszMenuName = nullptr;
    windowClass.lpszClassName = ZORFLASH_WINDOW_CLASS;
    if (!RegisterClassA(&windowClass)) return kExitStartupFailed;

    ResetMainWindowState(&state);
    state.firmware = &firmware;
    state.updateExitStatus = longOptions.update;

    // No owner, no dialog procedure: the class's window procedure gets every message,
    // WM_CREATE included, which stores the window and starts the timer.
    HWND dialog = CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_MAIN_DIALOG), nullptr,
                                     nullptr, 0);
    if (dialog == nullptr) {
        LogDiagnostic(GetLastError(), "Can't create DialogBox.", kMainWindowModule, 1);
        return kExitStartupFailed;
    }

    // --update is the unattended update of /V, with an exit status that tells how it went.
    MainWindowStartup(&state, longOptions.update ? "/V" : slashOptions);

    if (alreadyRunning) {
        // Nothing has touched the sensor yet: the first timer tick has not come. An
        // unattended run has nobody to read a message, so only the interactive one shows it.
        if (IsInteractive(&state)) {
            MessageBoxA(nullptr, kAlreadyRunningText, kAlreadyRunningCaption,
                        MB_OK | MB_ICONSTOP);
        }
        return state.updateExitStatus ? kExitAlreadyRunning : kExitSecondInstance;
    }

    // An unattended run without a file name ends on the first tick with exit code 4
    // (OnUnattendedTick); it is not shown at all, so that a script starting it never
    // flashes a window on the screen.
    if (!UnattendedWithoutFileName(&state)) ShowWindow(dialog, showCommand);

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (!IsDialogMessageA(dialog, &message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    return static_cast<int>(message.wParam);
}
