// The terminal front end's loop: one loop on the main thread that waits for a key, a queued
// change of the window from the worker, a signal or the next tick, and hands each to the app.
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

#include "app/app.h"
#include "front/term/term_front.h"
#include "front/term/term_report.h"
#include "front/term/term_view.h"
#include "platform/system.h"

namespace {

// A frame at most this often while only texts change; percent steps draw at once.
constexpr uint64_t kFrameIntervalMs = 30;

std::atomic<int> pendingSignal{0};
bool hungUp = false;

void OnSignal(int number) {
    pendingSignal.store(number);
    term_view_wake();
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
    AppState* app;
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
    bool ticking;
    uint64_t tickDueMs;  // the next tick, while the app wants them
};

bool Finished(const LoopState* loop) { return AppFinished(loop->app, nullptr); }

// Ticks run one period apart, counted from when the app asked for them or from the end of
// the last, so a long tick (the sensor query) does not make ticks pile up.
void FollowTicks(LoopState* loop, bool restart) {
    const bool wanted = AppWantsTicks(loop->app) && !Finished(loop);
    if (wanted && (!loop->ticking || restart)) loop->tickDueMs = term_now_ms() + kAppTickMs;
    loop->ticking = wanted;
}

void RequestExit(LoopState* loop) {
    AppPress(loop->app, AppButton::Exit);
    FollowTicks(loop, true);
    loop->exitPending = !Finished(loop) && AppUpdating(loop->app);
}

void RequestClose(LoopState* loop, const char* programName) {
    if (AppClose(loop->app)) {
        if (!loop->closePending) {
            char note[256];
            std::snprintf(note, sizeof note,
                          "%s: the update goes on; the program ends when it is done.",
                          programName);
            term_view_note(note);
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
        if (key == Key::None || Finished(loop)) return;
        if (key == Key::Update && term_view_button_enabled(ViewButton::Update)) {
            AppPress(loop->app, AppButton::Update);
            FollowTicks(loop, false);
        } else if (key == Key::Exit && term_view_button_enabled(ViewButton::Exit)) {
            RequestExit(loop);
        }
    }
}

void RunTick(LoopState* loop) {
    if (!loop->ticking || term_now_ms() < loop->tickDueMs) return;
    AppTick(loop->app);
    loop->ticked = true;
    loop->tickDueMs = term_now_ms() + kAppTickMs;
    FollowTicks(loop, false);
}

// While the worker runs, its end is looked for every tick period.
int PollTimeout(const LoopState* loop, uint64_t lastFrame) {
    const uint64_t now = term_now_ms();
    uint64_t wait = AppUpdating(loop->app) ? kAppTickMs : 1000;
    if (loop->ticking) wait = loop->tickDueMs > now ? std::min<uint64_t>(wait, loop->tickDueMs - now) : 0;
    if (term_view_frame_pending()) {
        const uint64_t frameDue = lastFrame + kFrameIntervalMs;
        wait = std::min<uint64_t>(wait, frameDue > now ? frameDue - now : 0);
    }
    return static_cast<int>(wait);
}

void HandleSignal(LoopState* loop, const char* programName) {
    const int number = pendingSignal.exchange(0);
    if (number == 0) return;
    if (number == SIGHUP) {
        // The terminal is gone: nothing more is drawn or read, but the update finishes.
        hungUp = true;
        loop->readKeys = false;
        term_view_silence();
    }
    RequestClose(loop, programName);
}

}  // namespace

namespace {

// Answers --help, --version and a wrong long option on standard output (an error on
// standard error) without touching the sensor; -1 when the program goes on. With --json the
// answer is the one JSON object on standard output; --report writes that object too.
int AnswerOnTerminal(const Edition& edition, const LongOptions& options,
                     FirmwareSource* firmware) {
    static char text[8192];
    const int status = AnswerTextOptions(edition, options, firmware, text, sizeof text);
    if (status == kExitUsage) {
        std::fprintf(stderr, "%s\n", text);
        term_emit_json_report(options,
                              JsonReport{edition.programName, status, nullptr, nullptr, text});
        return status;
    }
    if (status < 0) return status;
    if (!options.json) std::fputs(text, stdout);
    if (!term_wants_json_report(options)) return status;
    JsonReport report{edition.programName, status, nullptr, nullptr, nullptr};
    static ImageSourceDescription images[2];
    if (options.outcome == LongOptionsOutcome::ShowHelp) {
        report.help = text;
    } else {
        for (uint16_t kind = kSensorFamily0; kind <= kSensorFamily1; ++kind) {
            DescribeImageSource(kind, firmware, &images[kind]);
        }
        report.images = images;
    }
    term_emit_json_report(options, report);
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
    term_emit_json_report(options, JsonReport{edition.programName, status, &sensor, nullptr,
                                              refused ? refusal : nullptr});
    if (!options.json && !refused) {
        char text[kSensorReportCapacity];
        FormatSensorReport(sensor, text, sizeof text);
        std::fputs(text, stdout);
    }
    return status;
}

}  // namespace

int term_refuse(const Edition& edition, const LongOptions& longOptions, int status,
                const char* reason) {
    std::fprintf(stderr, "%s: %s\n", edition.programName, reason);
    term_emit_json_report(longOptions,
                          JsonReport{edition.programName, status, nullptr, nullptr, reason});
    return status;
}

void term_take_arguments(int argc, char** argv, const Edition& edition, LongOptions* longOptions,
                         char* commandLine, size_t capacity, FirmwareSource* firmware) {
    TakeLongOptionsFromArguments(argc, argv, edition, longOptions, commandLine, capacity);
    if (longOptions->firmwareDirectory[0] != '\0') firmware->directory = longOptions->firmwareDirectory;
}

int term_program(const Edition& edition, const LongOptions& longOptions, const char* commandLine,
                 const TermRunOptions& options) {
    const int answered = AnswerOnTerminal(edition, longOptions, options.firmware);
    if (answered >= 0) return answered;
    const bool info = longOptions.outcome == LongOptionsOutcome::ShowInfo;
    const bool reportsStatus = info || longOptions.update;
    // From here on the run may be refused, fail or be killed: an earlier run's report must
    // not stay at --report's file meanwhile.
    term_begin_json_report(longOptions, edition.programName);

    char error[512];
    if (plat_lock_editions(options.lockPath, error, sizeof error) != InstanceLock::Taken) {
        return term_refuse(edition, longOptions, reportsStatus ? kExitAlreadyRunning : 2, error);
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
        status = term_run(longOptions.update ? "/V" : commandLine, options, settings);
        const bool ran = outcome.end != UpdateEnd::NotRun;
        term_emit_json_report(longOptions, JsonReport{edition.programName, status, &sensor,
                                                      ran ? &outcome : nullptr, nullptr});
    }
    plat_unlock_instance();
    return status;
}

int term_run(const char* commandLine, const TermRunOptions& options,
             const TermRunSettings& settings) {
    pendingSignal = 0;
    hungUp = false;
    InstallSignals();
    const TerminalState terminal = EnterRawInput();
    View* view =
        term_view_begin(isatty(fileno(settings.display)) != 0 && settings.display == stdout,
                        kDialogCaption, settings.display);
    // The run's state lives here, on the main thread, for the whole run.
    AppState app;
    LaunchOptions launch;
    ResetLaunchOptions(&launch);
    ParseCommandLine(commandLine, &launch);
    AppStart(&app, view, launch,
             AppSettings{options.firmware, settings.updateExitStatus, settings.familyOption,
                         settings.familyUnknownText});
    view_show_window(view, true);
    term_view_flush();

    LoopState loop{&app, true, false, false, false, false, false, 0};
    FollowTicks(&loop, true);
    uint64_t lastFrame = term_now_ms();
    while (!Finished(&loop)) {
        pollfd fds[2];
        nfds_t count = 0;
        fds[count++] = pollfd{term_view_wake_fd(), POLLIN, 0};
        if (loop.readKeys) fds[count++] = pollfd{STDIN_FILENO, POLLIN, 0};
        const int ready = poll(fds, count, PollTimeout(&loop, lastFrame));
        term_view_run_queued_calls();
        HandleSignal(&loop, options.programName);
        if (ready > 0 && count > 1 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            HandleInput(&loop);
        }
        if (!Finished(&loop) && !AppUpdating(&app)) {
            if (loop.closePending) RequestClose(&loop, options.programName);
            if (loop.exitPending && !Finished(&loop)) RequestExit(&loop);
            if (loop.inputEnded && loop.ticked && !Finished(&loop) &&
                term_view_button_enabled(ViewButton::Exit)) {
                RequestExit(&loop);
            }
        }
        if (!Finished(&loop)) RunTick(&loop);
        if (term_view_frame_pending() && term_now_ms() >= lastFrame + kFrameIntervalMs) {
            term_view_flush();
            lastFrame = term_now_ms();
        }
    }

    term_view_end();
    LeaveRawInput(terminal);
    RestoreSignals();
    int exitCode = 0;
    AppFinished(&app, &exitCode);
    *settings.sensor = AppSensor(&app);
    // A status line of the outcome's own (an image problem) moves with it.
    const UpdateOutcome& outcome = AppOutcome(&app);
    *settings.outcome = outcome;
    if (outcome.status == outcome.problem) settings.outcome->status = settings.outcome->problem;
    return exitCode;
}
