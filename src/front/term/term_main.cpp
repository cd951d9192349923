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
#include <cstring>

#include "app/app.h"
#include "app/app_loop.h"
#include "front/term/term_front.h"
#include "front/term/term_view.h"

namespace {

// A frame at most this often while only texts change; percent steps draw at once.
constexpr uint64_t kFrameIntervalMs = 30;

// The signal handlers' only state: the signal to hand to the loop.
std::atomic<int> pendingSignal{0};

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

// After a hang-up there is no terminal to give its settings back to.
void LeaveRawInput(const TerminalState& state, bool hungUp) {
    if (state.raw && !hungUp) tcsetattr(STDIN_FILENO, TCSANOW, &state.saved);
}

// Ctrl-C, a closed terminal and SIGTERM are the window's close, kept for the update's end.
const int kCloseSignals[] = {SIGINT, SIGHUP, SIGTERM};

void InstallSignals() {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    for (const int number : kCloseSignals) sigaction(number, &action, nullptr);
    // A vanished terminal must not end the program while the sensor is being written.
    signal(SIGPIPE, SIG_IGN);
}

void RestoreSignals() {
    for (const int number : kCloseSignals) signal(number, SIG_DFL);
}

struct LoopState {
    AppLoop around;
    View* view;
    const char* programName;
    bool readKeys;
    bool hungUp;  // SIGHUP: the terminal is gone
    // Standard input has ended (a script's keys ran out, or `< /dev/null`): nobody can press
    // Exit any more, so it is pressed for them once the program is idle: after the first
    // tick's work and after a running update.
    bool inputEnded;
    bool ticked;
    uint64_t tickDueMs;  // the next tick, while the app wants them
};

bool Finished(const LoopState* loop) { return AppFinished(loop->around.app, nullptr); }

// Ticks run one period apart, counted from when the app asked for them or from the end of
// the last, so a long tick (the sensor query) does not make ticks pile up. A close kept for
// the update's end (Ctrl-C, hang-up, SIGTERM) is said once.
void Follow(LoopState* loop, const AppLoopNext& next) {
    if (next.startTimer) loop->tickDueMs = term_now_ms() + kAppTickMs;
    if (next.closeRefused) {
        char note[256];
        std::snprintf(note, sizeof note, "%s: the update goes on; the program ends when it is done.",
                      loop->programName);
        term_view_note(loop->view, note);
    }
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
    size_t index = 0;
    ViewButton button;
    while (!Finished(loop) && TextDialogNextPress(loop->view->dialog, bytes, static_cast<size_t>(count),
                                                  &index, &button)) {
        const bool exit = button == ViewButton::Exit;
        Follow(loop, AppLoopPress(&loop->around, exit ? AppButton::Exit : AppButton::Update));
    }
}

void RunTick(LoopState* loop) {
    if (!loop->around.ticking || term_now_ms() < loop->tickDueMs) return;
    const AppLoopNext next = AppLoopTick(&loop->around);
    loop->ticked = true;
    loop->tickDueMs = term_now_ms() + kAppTickMs;
    Follow(loop, next);
}

// The worker's end arrives through the view's wake-up like every change: the loop waits for
// a key, a change, a signal, the next tick or frame, and at the longest a second, for the
// clock beside the status line.
int PollTimeout(const LoopState* loop, uint64_t lastFrame) {
    const uint64_t now = term_now_ms();
    uint64_t wait = 1000;
    if (loop->around.ticking) wait = loop->tickDueMs > now ? std::min<uint64_t>(wait, loop->tickDueMs - now) : 0;
    if (term_view_frame_pending(loop->view)) {
        const uint64_t frameDue = lastFrame + kFrameIntervalMs;
        wait = std::min<uint64_t>(wait, frameDue > now ? frameDue - now : 0);
    }
    return static_cast<int>(wait);
}

void HandleSignal(LoopState* loop) {
    const int number = pendingSignal.exchange(0);
    if (number == 0) return;
    if (number == SIGHUP) {
        // The terminal is gone: nothing more is drawn or read, but the update finishes.
        loop->hungUp = true;
        loop->readKeys = false;
        loop->view->silenced = true;
    }
    Follow(loop, AppLoopClose(&loop->around, true));
}

// The dialog, keys, signals and update worker, the lock already held. --json keeps standard
// output for the object: the window's lines then go to standard error.
int RunLoop(void*, ProgramState* run, AppState* app, const char**) {
    FILE* display = run->options.json ? stderr : stdout;
    pendingSignal = 0;
    InstallSignals();
    const TerminalState terminal = EnterRawInput();
    // The window outlives the run: the worker's last call may still be on its way out of the
    // mailbox when the loop has carried out its end.
    static View view;
    term_view_begin(&view, isatty(fileno(display)) != 0 && display == stdout, kDialogCaption,
                    display);
    AppStart(app, &view, run->launch, ProgramAppSettings(run));
    view_show_window(&view, true);
    term_view_flush(&view);

    LoopState loop{{}, &view, run->edition.programName, true, false, false, false, 0};
    AppLoopStart(&loop.around, app, false);
    Follow(&loop, AppLoopFollow(&loop.around));
    uint64_t lastFrame = term_now_ms();
    while (!Finished(&loop)) {
        pollfd fds[2];
        nfds_t count = 0;
        fds[count++] = pollfd{term_view_wake_fd(), POLLIN, 0};
        if (loop.readKeys) fds[count++] = pollfd{STDIN_FILENO, POLLIN, 0};
        const int ready = poll(fds, count, PollTimeout(&loop, lastFrame));
        term_view_run_queued_calls(&view);
        Follow(&loop, AppLoopFollow(&loop.around));
        HandleSignal(&loop);
        if (ready > 0 && count > 1 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            HandleInput(&loop);
        }
        if (!Finished(&loop) && !AppUpdating(app) && loop.inputEnded && loop.ticked &&
            view.dialog.buttons[static_cast<int>(ViewButton::Exit)]) {
            Follow(&loop, AppLoopPress(&loop.around, AppButton::Exit));
        }
        if (!Finished(&loop)) RunTick(&loop);
        if (term_view_frame_pending(&view) && term_now_ms() >= lastFrame + kFrameIntervalMs) {
            term_view_flush(&view);
            lastFrame = term_now_ms();
        }
    }

    term_view_end(&view);
    LeaveRawInput(terminal, loop.hungUp);
    RestoreSignals();
    int exitCode = 0;
    AppFinished(app, &exitCode);
    return exitCode;
}

}  // namespace

// The terminal has no messages of its own: every answer and refusal is printed.
ProgramFace term_face() { return ProgramFace{nullptr, nullptr, nullptr, RunLoop}; }

int term_program(ProgramState* run) {
    static AppState app;
    return ProgramMain(run, term_face(), &app);
}
