// The Windows main dialog: class registration, creation from template 103, the message
// loop, and the window procedure that hands each message to the app together with the state
// this front end owns. Timer 1 runs while the app wants ticks; the window is destroyed when
// the run is over, and WM_DESTROY posts the exit code.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstring>

#include "app/app.h"
#include "app/app_loop.h"
#include "app/program.h"
#include "front/win32/main_dialog.h"
#include "front/win32/resource.h"
#include "platform/system.h"
#include "sensor/diag_log.h"

static_assert(DLGWINDOWEXTRA == 30, "window extra bytes of a dialog of a private class");
static_assert(COLOR_BTNFACE + 1 == 16, "class background: the button face colour");

namespace {

constexpr UINT kClassStyle = 0;
constexpr int kExitStartupFailed = 0;

const char kRefusalCaption[] = "ZORFLASH";
const char kWindowClassFailedText[] = "Can't register the window class.";
const char kDialogFailedText[] = "Can't create DialogBox.";
const wchar_t kShutdownBlockReason[] =
    L"The sensor firmware is being updated. Shutting down now can damage the sensor.";

// The command line, the lock, the answers and the report: the program driver's.
ProgramState program;

// Nobody reads a GUI program's standard error but a script: a line there also goes to the
// debugger output, as the diagnostic log's lines do.
void Print(void*, ProgramStream stream, const char* text) {
    if (stream == ProgramStream::Error) {
        char line[kDiagLineCapacity];
        std::snprintf(line, sizeof line, "%s", text);
        const size_t end = std::strlen(line);
        if (end > 0 && line[end - 1] == '\n') line[end - 1] = '\0';
        LogDiagnostic(0, line, kMainWindowModule, false);
    }
    plat_write_standard(stream == ProgramStream::Error, text);
}

// A run somebody watches gets its answers and usage errors in a box captioned as the dialog,
// a refusal in one of its own.
bool Show(void*, ProgramMessage kind, const char* text) {
    const UINT icons[] = {MB_ICONINFORMATION, MB_ICONERROR, MB_ICONSTOP};  // by ProgramMessage
    const bool refusal = kind == ProgramMessage::Refusal;
    MessageBoxA(nullptr, text, refusal ? kRefusalCaption : kDialogCaption,
                MB_OK | icons[static_cast<int>(kind)]);
    return true;
}

// The run's state and the view, owned by this front end for the whole process. The window
// procedure has no other way to them: the dialog's creation data reach only a dialog
// procedure, and this class has none.
AppState app;
AppLoop around;
View view = {nullptr, 0, 0};
constexpr UINT_PTR kTickTimerId = 1;
bool blockingShutdown = false;

// After each call of the app: timer 1 follows its wish for ticks (set again, it restarts its
// period), the end of the session is held off with a reason while the sensor is written,
// and a run that is over takes the window away.
void Follow(HWND window, const AppLoopNext& next) {
    if (next.startTimer) SetTimer(window, kTickTimerId, kAppTickMs, nullptr);
    if (next.stopTimer) KillTimer(window, kTickTimerId);
    if (next.updating && !blockingShutdown) ShutdownBlockReasonCreate(window, kShutdownBlockReason);
    if (!next.updating && blockingShutdown) ShutdownBlockReasonDestroy(window);
    blockingShutdown = next.updating;
    if (next.finished) DestroyWindow(window);
}

// The window procedure of the class "ZFLASHUSB".
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        // The tick runs from the window's creation; the app starts once its controls exist.
        view.dialog = window;
        SetTimer(window, kTickTimerId, kAppTickMs, nullptr);
        AppLoopStart(&around, &app, true);
        return 0;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_UPDATE || LOWORD(wParam) == IDC_EXIT) {
            const bool exit = LOWORD(wParam) == IDC_EXIT;
            Follow(window, AppLoopPress(&around, exit ? AppButton::Exit : AppButton::Update));
        }
        return 0;
    case WM_TIMER:
        if (wParam == kTickTimerId) {
            Follow(window, AppLoopTick(&around));
        }
        return 0;
    case WM_CLOSE:
        // Refused while a worker runs (the sensor may be mid-write); otherwise the run is
        // over and the window goes, which brings WM_DESTROY and the exit code.
        Follow(window, AppLoopClose(&around, false));
        return 0;
    case WM_QUERYENDSESSION:
        // Same rule for the end of the session: Windows shows the reason set below.
        return AppUpdating(&app) ? FALSE : TRUE;
    case WM_DESTROY: {
        int exitCode = 0;
        AppFinished(&app, &exitCode);
        PostQuitMessage(exitCode);
        return 0;
    }
    case kWin32MsgRunOnLoop:
        // Work the app handed to the loop (the worker's end), then what it changed.
        reinterpret_cast<void (*)(void*)>(wParam)(reinterpret_cast<void*>(lParam));
        Follow(window, AppLoopFollow(&around));
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

// How the window is made and first shown: WinMain's.
struct DialogStart {
    HINSTANCE instance;
    int showCommand;
};

// A start-up step that failed after the lock: --update ends with 1, the slash options keep
// their 0.
int EndStartup(const char* reason, const char** error) {
    *error = reason;
    return program.options.update ? kExitUpdateFailed : kExitStartupFailed;
}

int RunDialog(void* context, ProgramState*, AppState*, const char** error) {
    const DialogStart& start = *static_cast<const DialogStart*>(context);
    // The progress bar's window class comes from the common controls.
    INITCOMMONCONTROLSEX controls = {sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);

    const WNDCLASSA windowClass = {
        kClassStyle, MainWindowProc, 0, DLGWINDOWEXTRA, start.instance,
        LoadIconA(start.instance, MAKEINTRESOURCEA(IDI_PROGRAM_ICON)), LoadCursorA(nullptr, IDC_ARROW),
        reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1)), nullptr,
        ZORFLASH_WINDOW_CLASS};
    if (!RegisterClassA(&windowClass)) return EndStartup(kWindowClassFailedText, error);

    // No owner, no dialog procedure: the class's window procedure gets every message,
    // WM_CREATE included, which starts the timer.
    HWND dialog = CreateDialogParamA(start.instance, MAKEINTRESOURCEA(IDD_MAIN_DIALOG), nullptr,
                                     nullptr, 0);
    if (dialog == nullptr) {
        LogDiagnostic(GetLastError(), kDialogFailedText, kMainWindowModule, true);
        return EndStartup(kDialogFailedText, error);
    }
    AppStart(&app, &view, program.launch, ProgramAppSettings(&program));

    // An unattended run without a file name ends on the first tick with exit code 4; it is
    // not shown at all, so that a script starting it never flashes a window on the screen.
    if (!LaunchLacksFileName(program.launch)) ShowWindow(dialog, start.showCommand);

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (!IsDialogMessageA(dialog, &message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    return static_cast<int>(message.wParam);
}

}  // namespace

int win32_run_main_dialog(HINSTANCE instance, const char* commandLine, int showCommand,
                          const Edition& edition) {
    ProgramTakeLine(&program, edition, commandLine);
    DialogStart start{instance, showCommand};
    return ProgramMain(&program, ProgramFace{&start, Print, Show, RunDialog}, &app);
}
