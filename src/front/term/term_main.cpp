// The terminal front end's message loop: start-up as the dialog's creation does it, then one
// loop on the main thread that waits for a key, a queued control change from the worker, a
// signal or the timer, and hands each to the main window's handlers.
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/main_window.h"
#include "front/term/term_front.h"
#include "front/term/term_report.h"
#include "platform/term/term_model.h"

namespace {

// A frame at most this often while only texts change; percent steps draw at once.
constexpr uint64_t kFrameIntervalMs = 30;

std::atomic<int> pendingSignal{0};
bool hungUp = false;

void OnSignal(int number) {
    pendingSignal.store(number);
    TermUiWake();
}

struct TerminalState {
    bool raw;
    termios saved;
};

// Keys arrive one by one and are not echoed; Ctrl-C still raises SIGINT.
TerminalState EnterRawInput() {
    TerminalState state{};
    if (isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &state.saved) == 0) {
        termios raw = state.saved;
        raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
        raw.c_iflag &= static_cast<tcflag_t>(~(ICRNL | IXON));
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        state.raw = tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
    }
    return state;
}

void LeaveRawInput(const TerminalState& state) {
    if (state.raw && !hungUp) tcsetattr(STDIN_FILENO, TCSANOW, &state.saved);
}

void InstallSignals() {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A vanished terminal must not end the program while the sensor is being written.
    signal(SIGPIPE, SIG_IGN);
}

void RestoreSignals() {
    signal(SIGINT, SIG_DFL);
    signal(SIGHUP, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
}

bool ControlEnabled(int controlId) {
    return TermControlFor(controlId)->enabled;
}

enum class Key { None, Update, Exit };

// Decodes the keys of one read; escape sequences (arrows, function keys) are skipped, a lone
// Esc means Exit.
Key DecodeKeys(const char* bytes, ssize_t count, ssize_t* index) {
    while (*index < count) {
        const char c = bytes[(*index)++];
        switch (c) {
        case 'u': case 'U': case '\r': case '\n':
            return Key::Update;
        case 'e': case 'E': case 'q': case 'Q':
            return Key::Exit;
        case '\x1b':
            if (*index < count && (bytes[*index] == '[' || bytes[*index] == 'O')) {
                ++*index;
                while (*index < count && !(bytes[*index] >= 0x40 && bytes[*index] <= 0x7E)) {
                    ++*index;
                }
                if (*index < count) ++*index;
                break;
            }
            return Key::Exit;
        default:
            break;
        }
    }
    return Key::None;
}

struct LoopState {
    MainWindowState* state;
    bool readKeys;
    // A close (Ctrl-C, hang-up, SIGTERM) or Exit that came while the worker ran: carried out
    // once the worker has ended.
    bool closePending;
    bool exitPending;
    // Standard input has ended (a script's keys ran out, or `< /dev/null`): nobody can press
    // Exit any more, so it is pressed for them once the program is idle: after the first
    // tick's work and after a running update.
    bool inputEnded;
    bool ticked;
};

void RequestExit(LoopState* loop) {
    MainWindowOnCommand(loop->state, kIdExit);
    loop->exitPending = !termModel.quitPosted && WorkerRunning(loop->state);
}

void RequestClose(LoopState* loop, const char* programName) {
    if (MainWindowOnClose(loop->state)) {
        if (!loop->closePending) {
            char note[256];
            std::snprintf(note, sizeof note,
                          "%s: the update goes on; the program ends when it is done.",
                          programName);
            TermRenderNote(note);
        }
        loop->closePending = true;
        return;
    }
    loop->closePending = false;
}

void HandleInput(LoopState* loop) {
    char bytes[64];
    const ssize_t count = read(STDIN_FILENO, bytes, sizeof bytes);
    if (count <= 0) {
        if (count == 0 || (errno != EINTR && errno != EAGAIN)) {
            loop->readKeys = false;
            loop->inputEnded = true;
        }
        return;
    }
    ssize_t index = 0;
    for (;;) {
        const Key key = DecodeKeys(bytes, count, &index);
        if (key == Key::None || termModel.quitPosted) return;
        if (key == Key::Update && ControlEnabled(kIdUpdate)) {
            MainWindowOnCommand(loop->state, kIdUpdate);
        } else if (key == Key::Exit && ControlEnabled(kIdExit)) {
            RequestExit(loop);
        }
    }
}

void RunTimers(LoopState* loop) {
    const uint64_t now = TermNowMs();
    for (const TermTimer& timer : termModel.timers) {
        if (timer.id == 0 || now < timer.dueMs || termModel.quitPosted) continue;
        const uint32_t id = timer.id;
        // Due again one period after this tick, as a window timer is; a long tick (the
        // sensor query) does not make ticks pile up.
        for (TermTimer& slot : termModel.timers) {
            if (slot.id == id) slot.dueMs = TermNowMs() + slot.periodMs;
        }
        MainWindowOnTimer(loop->state, id);
        loop->ticked = true;
    }
}

int PollTimeout(uint64_t lastFrame) {
    const uint64_t now = TermNowMs();
    uint64_t wait = 1000;
    for (const TermTimer& timer : termModel.timers) {
        if (timer.id == 0) continue;
        wait = timer.dueMs > now ? std::min<uint64_t>(wait, timer.dueMs - now) : 0;
    }
    if (TermRenderPending()) {
        const uint64_t frameDue = lastFrame + kFrameIntervalMs;
        wait = std::min<uint64_t>(wait, frameDue > now ? frameDue - now : 0);
    }
    return static_cast<int>(wait);
}

// ui_destroy_window's part: the window goes away as WM_DESTROY would take it.
void DestroyWindow(void* state) { MainWindowOnDestroy(static_cast<MainWindowState*>(state)); }

void HandleSignal(LoopState* loop, const char* programName) {
    const int number = pendingSignal.exchange(0);
    if (number == 0) return;
    if (number == SIGHUP) {
        // The terminal is gone: nothing more is drawn or read, but the update finishes.
        hungUp = true;
        loop->readKeys = false;
        TermRenderSilence();
    }
    RequestClose(loop, programName);
}

}  // namespace

namespace {

// Answers --help, --version and a wrong long option on standard output (an error on
// standard error) without touching the sensor; -1 when the program goes on. With --json the
// answer is the one JSON object on standard output.
int AnswerOnTerminal(const Edition& edition, const LongOptions& options,
                     FirmwareSource* firmware) {
    static char text[8192];
    const int status = AnswerTextOptions(edition, options, firmware, text, sizeof text);
    if (status == kExitUsage) {
        std::fprintf(stderr, "%s\n", text);
        if (options.json) {
            PrintJsonReport(TermReport{edition.programName, status, nullptr, nullptr, text});
        }
    } else if (status >= 0 && !options.json) {
        std::fputs(text, stdout);
    } else if (options.outcome == LongOptionsOutcome::ShowHelp) {
        TermReport report{edition.programName, status, nullptr, nullptr, nullptr};
        report.help = text;
        PrintJsonReport(report);
    } else if (status >= 0) {
        static ImageSourceDescription images[2];
        for (uint16_t kind = kSensorFamily0; kind <= kSensorFamily1; ++kind) {
            DescribeImageSource(kind, firmware, &images[kind]);
        }
        TermReport report{edition.programName, status, nullptr, nullptr, nullptr};
        report.images = images;
        PrintJsonReport(report);
    }
    return status;
}

// --info: the sensor as the dialog's first tick finds it, nothing sent to it.
int RunInfo(const Edition& edition, const LongOptions& options) {
    SensorInfo sensor;
    QuerySensor(&sensor);
    char refusal[kRefusalCapacity];
    int status = InfoExitStatus(sensor);
    const bool refused = !ApplyFamilyOption(options.family, &sensor, refusal, sizeof refusal);
    if (refused) {
        std::fprintf(stderr, "%s: %s\n", edition.programName, refusal);
        status = kExitUsage;
    }
    if (options.json) {
        PrintJsonReport(
            TermReport{edition.programName, status, &sensor, nullptr, refused ? refusal : nullptr});
    } else if (!refused) {
        char text[kSensorReportCapacity];
        FormatSensorReport(sensor, text, sizeof text);
        std::fputs(text, stdout);
    }
    return status;
}

}  // namespace

int TermRefuse(const Edition& edition, const LongOptions& longOptions, int status,
               const char* reason) {
    std::fprintf(stderr, "%s: %s\n", edition.programName, reason);
    if (longOptions.json) {
        PrintJsonReport(TermReport{edition.programName, status, nullptr, nullptr, reason});
    }
    return status;
}

void TermTakeArguments(int argc, char** argv, const Edition& edition, LongOptions* longOptions,
                       char* commandLine, size_t capacity, FirmwareSource* firmware) {
    TakeLongOptionsFromArguments(argc, argv, edition, longOptions, commandLine, capacity);
    if (longOptions->firmwareDirectory[0] != '\0') firmware->directory = longOptions->firmwareDirectory;
}

int TermProgram(const Edition& edition, const LongOptions& longOptions, const char* commandLine,
                const TermRunOptions& options) {
    const int answered = AnswerOnTerminal(edition, longOptions, options.firmware);
    if (answered >= 0) return answered;
    const bool info = longOptions.outcome == LongOptionsOutcome::ShowInfo;
    const bool reportsStatus = info || longOptions.update;

    const char* lockPath = std::getenv("ZORFLASH_LOCK_FILE");
    if (lockPath == nullptr || lockPath[0] == '\0') lockPath = options.lockPath;
    char reason[256];
    const TermLockResult lock = TermLockInstance(lockPath, reason, sizeof reason);
    if (lock != TermLockResult::Taken) {
        char error[512];
        if (lock == TermLockResult::Held) {
            std::snprintf(error, sizeof error,
                          "another instance is already running (lock %s); only one may update "
                          "the sensor at a time.",
                          lockPath);
        } else {
            std::snprintf(error, sizeof error,
                          "cannot take the lock %s (%s); nothing was sent to the sensor. Remove "
                          "what is there when no zorflash runs.",
                          lockPath, reason);
        }
        return TermRefuse(edition, longOptions, reportsStatus ? kExitAlreadyRunning : 2, error);
    }
    int status = 0;
    if (info) {
        status = RunInfo(edition, longOptions);
    } else {
        // Where nothing tells the family of a sensor in its boot loader, the way out is the
        // edition's own option.
        char familyUnknownText[kRefusalCapacity];
        std::snprintf(familyUnknownText, sizeof familyUnknownText,
                      "The sensor sits in its boot loader and its family is unknown: finish the "
                      "update with %s --update --family N (N is 0 if the sensor was product "
                      "0x0090 in normal mode, 1 if it was 0x00E6).",
                      edition.programName);
        UpdateOutcome outcome = {};
        SensorInfo sensor = {kSensorNone, kValueNotRead, kValueNotRead, kValueNotRead, 0};
        TermRunSettings settings = {longOptions.update, longOptions.family, familyUnknownText,
                                    longOptions.json ? stderr : stdout, &outcome, &sensor};
        status = TermRun(longOptions.update ? "/V" : commandLine, options, settings);
        if (longOptions.json) {
            const bool ran = outcome.end != UpdateEnd::NotRun;
            PrintJsonReport(TermReport{edition.programName, status, &sensor,
                                       ran ? &outcome : nullptr, nullptr});
        }
    }
    TermUnlockInstance();
    return status;
}

int TermRun(const char* commandLine, const TermRunOptions& options,
            const TermRunSettings& settings) {
    pendingSignal = 0;
    hungUp = false;
    // The main window's state lives here, on the main thread, for the whole run.
    MainWindowState state;
    ResetMainWindowState(&state);
    state.firmware = options.firmware;
    state.updateExitStatus = settings.updateExitStatus;
    state.familyOption = settings.familyOption;
    state.familyUnknownText = settings.familyUnknownText;
    TermUiBegin(DestroyWindow, &state);
    InstallSignals();
    const TerminalState terminal = EnterRawInput();
    TermRenderBegin(isatty(fileno(settings.display)) != 0 && settings.display == stdout,
                    kDialogCaption, settings.display);

    LoopState loop{&state, true, false, false, false, false};
    // As CreateDialogParamA does: the creation, then the start-up steps.
    MainWindowOnCreate(&state, &termModel);
    MainWindowStartup(&state, commandLine);
    ui_show_window(state.window, true);
    TermRenderFlush();

    uint64_t lastFrame = TermNowMs();
    while (!termModel.quitPosted) {
        pollfd fds[2];
        nfds_t count = 0;
        fds[count++] = pollfd{TermUiWakeFd(), POLLIN, 0};
        if (loop.readKeys) fds[count++] = pollfd{STDIN_FILENO, POLLIN, 0};
        const int ready = poll(fds, count, PollTimeout(lastFrame));
        TermUiRunQueuedCalls();
        HandleSignal(&loop, options.programName);
        if (ready > 0 && count > 1 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            HandleInput(&loop);
        }
        if (!termModel.quitPosted && !WorkerRunning(&state)) {
            if (loop.closePending) RequestClose(&loop, options.programName);
            if (loop.exitPending && !termModel.quitPosted) RequestExit(&loop);
            if (loop.inputEnded && loop.ticked && !termModel.quitPosted &&
                ControlEnabled(kIdExit)) {
                RequestExit(&loop);
            }
        }
        if (!termModel.quitPosted) RunTimers(&loop);
        if (TermRenderPending() && TermNowMs() >= lastFrame + kFrameIntervalMs) {
            TermRenderFlush();
            lastFrame = TermNowMs();
        }
    }

    // The handlers never quit while a worker runs; should one still be on its way out, its
    // last control changes are carried out before the dialog goes away.
    while (TermUiLiveThreads() > 0) {
        pollfd fd{TermUiWakeFd(), POLLIN, 0};
        poll(&fd, 1, 100);
        TermUiRunQueuedCalls();
    }

    TermRenderEnd();
    LeaveRawInput(terminal);
    RestoreSignals();
    TermUiEnd();
    if (state.sensorQueried) *settings.sensor = state.sensor;
    // A status line of the outcome's own (an image problem) moves with it.
    const UpdateOutcome& outcome = state.request.outcome;
    *settings.outcome = outcome;
    if (outcome.status == outcome.problem) settings.outcome->status = settings.outcome->problem;
    return termModel.exitCode;
}
