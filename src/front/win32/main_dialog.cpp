// The Windows main dialog: class registration, creation from template 103, the message
// loop, and the window procedure that hands each message to the app together with the state
// this front end owns. Timer 1 runs while the app wants ticks; the window is destroyed when
// the run is over, and WM_DESTROY posts the exit code.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "app/app.h"
#include "app/json_report.h"
#include "front/win32/main_dialog.h"
#include "front/win32/resource.h"
#include "front/win32/win32_ui.h"
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
const char kLockNotTakenText[] =
    "The single-instance lock Global\\ZorflashFirmwareUpdate cannot be taken: another "
    "program or user holds that name. Nothing was sent to the sensor.";
const char kWindowClassFailedText[] = "Can't register the window class.";
const wchar_t kShutdownBlockReason[] =
    L"The sensor firmware is being updated. Shutting down now can damage the sensor.";

// The command line's long options, and where updates take their image from: the carried
// images, or files from --firmware-dir where the edition offers it.
LongOptions longOptions;
FirmwareSource firmware = {nullptr, nullptr, {}, {}};
// What the slash options are parsed from. Windows passes up to 32767 characters; a line
// longer than this buffer is refused as a usage error, as on Linux, never cut.
char slashOptions[kCommandLineCapacity];
char longOptionText[8192];
// The status line of a sensor in its boot loader whose family nothing on this machine tells.
char familyUnknownText[kRefusalCapacity];

// Standard error, where a script that started the program has attached one (a GUI program
// started from Explorer or a console has none); nothing otherwise. The line begins with the
// program's name, which a usage error's text has already.
void WriteStandardError(const char* programName, const char* text) {
    const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    if (error == nullptr || error == INVALID_HANDLE_VALUE) return;
    const size_t nameLength = std::strlen(programName);
    const bool named = std::strncmp(text, programName, nameLength) == 0 && text[nameLength] == ':';
    char line[kDiagLineCapacity];
    const int length = std::snprintf(line, sizeof line, "%s%s%s\r\n", named ? "" : programName,
                                     named ? "" : ": ", text);
    if (length <= 0) return;
    DWORD written = 0;
    WriteFile(error, line, static_cast<DWORD>(std::min<size_t>(static_cast<size_t>(length),
                                                               sizeof line - 1)),
              &written, nullptr);
}

// A run nobody watches (an unattended update, or --update) has nobody to click a box away:
// a box would stop a deployment script for good. Its reasons go to the debugger output, as
// the diagnostic log's lines do, and to standard error; the exit status tells the rest.
void TellUnattended(const Edition& edition, const char* text) {
    LogDiagnostic(0, text, kMainWindowModule, false);
    WriteStandardError(edition.programName, text);
}

// True when the slash options start an update by themselves (/F0 to /F2 with a file, /V) or
// end at once without a window (/F0 to /F3 without a file): nobody is at the screen.
bool SlashOptionsRunUnattended(const char* commandLine) {
    LaunchOptions launch;
    ResetLaunchOptions(&launch);
    ParseCommandLine(commandLine, &launch);
    return launch.launchMode < kLaunchInteractive &&
           !(launch.launchMode == 3 && launch.fileName[0] != '\0');
}

// What --report FILE tells of this run, gathered on the way to its end: the parts of the
// object --json prints on the terminal editions.
struct ReportParts {
    const SensorInfo* sensor;
    const UpdateOutcome* update;
    const char* error;
    const char* help;
    const ImageSourceDescription* images;
};
ReportParts reportParts = {};
ImageSourceDescription reportImages[2];
char reportText[kJsonReportCapacity];
// The run's id and start time, taken as the process starts; and whether the start object
// could not be written (its reason was told then, and the final one is not tried again).
RunStamp runStamp;
bool reportStartRefused = false;

// Writes the report when the command line asks for one: the start object while the run has
// not ended (`running`), else the final one, whatever the exit code. A file that cannot be
// written is told where an unattended run's reasons go, and the exit code stays.
void WriteReport(const Edition& edition, int exitCode, bool running) {
    if (longOptions.reportPath[0] == '\0' || reportStartRefused) return;
    JsonReport report{edition.programName, exitCode, reportParts.sensor, reportParts.update,
                      reportParts.error};
    report.help = reportParts.help;
    report.images = reportParts.images;
    report.runId = runStamp.runId;
    report.startTime = runStamp.startTime;
    report.running = running;
    const size_t length = FormatJsonReport(report, reportText, sizeof reportText);
    char reason[256] = "the report does not fit its buffer";
    if (length > 0 &&
        plat_write_file_atomically(longOptions.reportPath,
                                   reinterpret_cast<const uint8_t*>(reportText), length, reason,
                                   sizeof reason)) {
        return;
    }
    reportStartRefused = running;
    char line[kDiagLineCapacity];
    std::snprintf(line, sizeof line, "the report was not written to %s: %s",
                  longOptions.reportPath, reason);
    TellUnattended(edition, line);
}

// Where nothing tells the family of a sensor in its boot loader: the way out the edition has.
void FormatFamilyUnknownText(const Edition& edition) {
    if (EditionOffers(edition, "family")) {
        std::snprintf(familyUnknownText, sizeof familyUnknownText,
                      "Sensor in its boot loader, family unknown: finish the update with %s "
                      "--update --family N (N is 0 if the sensor was product 0x0090 in normal "
                      "mode, 1 if it was 0x00E6).",
                      edition.programName);
        return;
    }
    // Windows tells the family from the products this machine has met (its record of
    // installed devices); a computer that never met the sensor running cannot.
    std::snprintf(familyUnknownText, sizeof familyUnknownText,
                  "Sensor in its boot loader, family unknown: this computer has no record of it "
                  "running. Update it on a computer where it last ran normally, or on Linux "
                  "with zorflash --update --family N (N is 0 if it was product 0x0090, 1 if "
                  "0x00E6).");
}

// Answers --help, --version and a wrong long option before the single-instance check and the
// first tick: the sensor is not touched. The help and version texts, which were asked for,
// come in a box captioned as the dialog; a wrong long option in a run nobody watches is told
// without one. Returns the exit code, or -1 when the program goes on.
int AnswerLongOptions(const Edition& edition, bool unattended) {
    const int exitCode =
        AnswerTextOptions(edition, longOptions, &firmware, longOptionText, sizeof longOptionText);
    if (exitCode < 0) return exitCode;
    if (exitCode == kExitUsage) {
        reportParts.error = longOptionText;
    } else if (longOptions.outcome == LongOptionsOutcome::ShowHelp) {
        reportParts.help = longOptionText;
    } else {
        for (uint16_t kind = kSensorFamily0; kind <= kSensorFamily1; ++kind) {
            DescribeImageSource(kind, &firmware, &reportImages[kind]);
        }
        reportParts.images = reportImages;
    }
    if (exitCode == kExitUsage && unattended) {
        TellUnattended(edition, longOptionText);
        return exitCode;
    }
    const UINT icon = exitCode == kExitUsage ? MB_ICONERROR : MB_ICONINFORMATION;
    MessageBoxA(nullptr, longOptionText, kDialogCaption, MB_OK | icon);
    return exitCode;
}

// --info: the sensor as the first tick finds it, in a box; nothing is sent to it.
int ShowSensorInfo(bool alreadyRunning, const char* notRunningText) {
    if (alreadyRunning) {
        reportParts.error = notRunningText;
        MessageBoxA(nullptr, notRunningText, kDialogCaption, MB_OK | MB_ICONSTOP);
        return kExitAlreadyRunning;
    }
    static SensorInfo sensor;
    QuerySensor(&sensor);
    reportParts.sensor = &sensor;
    FormatSensorReport(sensor, longOptionText, sizeof longOptionText);
    MessageBoxA(nullptr, longOptionText, kDialogCaption, MB_OK | MB_ICONINFORMATION);
    return InfoExitStatus(sensor);
}

// The run's state and the view, owned by this front end for the whole process. The window
// procedure has no other way to them: the dialog's creation data reach only a dialog
// procedure, and this class has none.
AppState app;
View view = {nullptr, 0, 0};
AppSettings settings = {nullptr, false, kSensorNone, nullptr};
LaunchOptions launch;
constexpr UINT_PTR kTickTimerId = 1;
bool ticking = false;

// After each call of the app: timer 1 follows its wish for ticks (`restart` sets a running
// timer again, which restarts its period), and a run that is over takes the window away.
void FollowApp(HWND window, bool restart) {
    const bool wanted = AppWantsTicks(&app);
    if (wanted && (!ticking || restart)) SetTimer(window, kTickTimerId, kAppTickMs, nullptr);
    if (!wanted && ticking) KillTimer(window, kTickTimerId);
    ticking = wanted;
    if (AppFinished(&app, nullptr)) DestroyWindow(window);
}

}  // namespace

LRESULT CALLBACK win32_main_window_proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        // The tick runs from the window's creation; the app starts once its controls exist.
        view.dialog = window;
        SetTimer(window, kTickTimerId, kAppTickMs, nullptr);
        ticking = true;
        return 0;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_UPDATE || LOWORD(wParam) == IDC_EXIT) {
            const bool exit = LOWORD(wParam) == IDC_EXIT;
            AppPress(&app, exit ? AppButton::Exit : AppButton::Update);
            FollowApp(window, exit);
        }
        return 0;
    case WM_TIMER:
        if (wParam == kTickTimerId) {
            AppTick(&app);
            FollowApp(window, false);
        }
        return 0;
    case WM_CLOSE:
        // Refused while a worker runs (the sensor may be mid-write); otherwise the run is
        // over and the window goes, which brings WM_DESTROY and the exit code.
        AppClose(&app);
        FollowApp(window, false);
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

namespace {

int RunDialog(HINSTANCE instance, const char* commandLine, int showCommand,
              const Edition& edition) {
    TakeLongOptionsFromLine(commandLine, edition, &longOptions, slashOptions, sizeof slashOptions);
    if (longOptions.firmwareDirectory[0] != '\0') firmware.directory = longOptions.firmwareDirectory;
    // A line too long to parse is refused without a box: nobody types 2048 characters at a
    // prompt, and a script that did must not wait for a click.
    const bool refusedLong = longOptions.outcome == LongOptionsOutcome::UsageError &&
                             commandLine != nullptr &&
                             std::strlen(commandLine) >= sizeof slashOptions;
    const bool unattended =
        longOptions.update || refusedLong || SlashOptionsRunUnattended(slashOptions);
    const int answered = AnswerLongOptions(edition, unattended);
    if (answered >= 0) return answered;
    // From here on the run may be refused, fail or be killed: an earlier run's report must
    // not stay at --report's file meanwhile.
    WriteReport(edition, 0, true);
    // --update ends with 1 when it cannot even start; the slash options keep their 0.
    const int startupFailed = longOptions.update ? kExitUpdateFailed : kExitStartupFailed;

    // One instance at a time: two programs updating one sensor would interleave their
    // commands. The mutex is held until the process ends. No mutex at all (the name is
    // another object's, or another user's that this one may not open) fails closed: the
    // single-instance rule cannot be kept, so this one does not run.
    const HANDLE instanceMutex = CreateMutexA(nullptr, FALSE, kSingleInstanceMutexName);
    const bool alreadyRunning =
        instanceMutex == nullptr || GetLastError() == ERROR_ALREADY_EXISTS;
    const char* const notRunningText =
        instanceMutex == nullptr ? kLockNotTakenText : kAlreadyRunningText;
    if (longOptions.outcome == LongOptionsOutcome::ShowInfo) {
        return ShowSensorInfo(alreadyRunning, notRunningText);
    }

    // The progress bar's window class comes from the common controls.
    INITCOMMONCONTROLSEX controls = {sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);

    WNDCLASSA windowClass = {};
    windowClass.style = kClassStyle;
    windowClass.lpfnWndProc = win32_main_window_proc;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = DLGWINDOWEXTRA;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_PROGRAM_ICON));
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    windowClass.lpszMenuName = nullptr;
    windowClass.lpszClassName = ZORFLASH_WINDOW_CLASS;
    if (!RegisterClassA(&windowClass)) {
        // Silent for the slash options; --update tells why it ends with 1.
        if (longOptions.update) TellUnattended(edition, kWindowClassFailedText);
        reportParts.error = kWindowClassFailedText;
        return startupFailed;
    }

    // --update is the unattended update of /V, with an exit status that tells how it went.
    ResetLaunchOptions(&launch);
    ParseCommandLine(longOptions.update ? "/V" : slashOptions, &launch);
    FormatFamilyUnknownText(edition);
    settings = AppSettings{&firmware, longOptions.update, longOptions.family, familyUnknownText};

    // No owner, no dialog procedure: the class's window procedure gets every message,
    // WM_CREATE included, which starts the timer.
    HWND dialog = CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_MAIN_DIALOG), nullptr,
                                     nullptr, 0);
    if (dialog == nullptr) {
        LogDiagnostic(GetLastError(), "Can't create DialogBox.", kMainWindowModule, true);
        if (unattended) WriteStandardError(edition.programName, "Can't create DialogBox.");
        reportParts.error = "Can't create DialogBox.";
        return startupFailed;
    }
    AppStart(&app, &view, launch, settings);

    if (alreadyRunning) {
        // Nothing has touched the sensor yet: the first timer tick has not come. An
        // unattended run has nobody to read a message, so only the interactive one shows it.
        if (LaunchInteractive(launch)) {
            MessageBoxA(nullptr, notRunningText, kAlreadyRunningCaption, MB_OK | MB_ICONSTOP);
        } else {
            TellUnattended(edition, notRunningText);
        }
        reportParts.error = notRunningText;
        return longOptions.update ? kExitAlreadyRunning : kExitSecondInstance;
    }

    // An unattended run without a file name ends on the first tick with exit code 4; it is
    // not shown at all, so that a script starting it never flashes a window on the screen.
    if (!LaunchLacksFileName(launch)) ShowWindow(dialog, showCommand);

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (!IsDialogMessageA(dialog, &message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    // The window is hidden by now: --update leaves its last status line where a script
    // reads it.
    const UpdateOutcome& outcome = AppOutcome(&app);
    reportParts.sensor = &AppSensor(&app);
    if (outcome.end != UpdateEnd::NotRun) reportParts.update = &outcome;
    if (longOptions.update && outcome.end != UpdateEnd::NotRun && outcome.status != nullptr) {
        TellUnattended(edition, outcome.status);
    } else if (!LaunchInteractive(launch) && AppFamilyRefusal(&app)[0] != '\0') {
        TellUnattended(edition, AppFamilyRefusal(&app));
    }
    return static_cast<int>(message.wParam);
}

}  // namespace

int win32_run_main_dialog(HINSTANCE instance, const char* commandLine, int showCommand,
                          const Edition& edition) {
    plat_run_stamp(&runStamp);
    const int exitCode = RunDialog(instance, commandLine, showCommand, edition);
    WriteReport(edition, exitCode, false);
    return exitCode;
}
