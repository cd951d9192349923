// The window in a terminal: on a terminal the dialog's frame is drawn in place, elsewhere (a
// pipe, a log file) each change is printed as the dialog's log line.
#include "front/term/term_view.h"
#include "sensor/update_result.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>

#include "app/loop_mailbox.h"

namespace {

View window;

// Changes from other threads wait here for the loop, which the pipe wakes.
LoopMailbox mailbox;
int wakePipe[2] = {-1, -1};

void WakeLoop(void*) { term_view_wake(); }

const char* caption = "";
// Standard output, or standard error when standard output carries a report (--json).
FILE* display = stdout;
bool terminalMode = false;
bool silenced = false;
bool dirty = false;
int framesDrawn = 0;
int lastPercent = -1;
// The elapsed seconds last drawn beside the status line.
int64_t elapsedDrawn = -1;

int TerminalColumns() {
    winsize size;
    if (ioctl(fileno(display), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

void DrawFrame() {
    static char lines[kTextFrameLines][kTextLineCapacity];
    elapsedDrawn = TextDialogElapsedSeconds(window.dialog, term_now_ms());
    TextDialogFrame(window.dialog, caption, TerminalColumns(), elapsedDrawn, lines);
    if (framesDrawn > 0) {
        std::fprintf(display, "\x1b[%dF", kTextFrameLines);  // back to the frame's first line
    }
    for (const char* line : lines) std::fprintf(display, "\x1b[2K%s\x1b[0m\n", line);
    std::fflush(display);
    ++framesDrawn;
    lastPercent = TextDialogPercent(window.dialog);
}

// After each change of the window.
void Changed(TextChange change, ViewText field = ViewText::Status) {
    if (silenced) return;
    if (terminalMode) {
        // Percent steps are drawn at once so the bar visibly moves; the rest waits for the
        // next flush of the loop.
        dirty = true;
        if (change == TextChange::Bar && window.dialog.shown &&
            TextDialogPercent(window.dialog) != lastPercent) {
            DrawFrame();
            dirty = false;
        }
        return;
    }
    const TextLogLines log = TextDialogLogLines(&window.dialog, change, field);
    for (int i = 0; i < log.count; ++i) std::fprintf(display, "%s\n", log.lines[i]);
    if (log.count > 0) std::fflush(display);
}

}  // namespace

uint64_t term_now_ms() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch()).count());
}

View* term_view_begin(bool terminal, const char* dialogCaption, FILE* stream) {
    TextDialogReset(&window.dialog, term_now_ms());
    if (wakePipe[0] < 0 && pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        wakePipe[0] = wakePipe[1] = -1;
    }
    LoopMailboxOpen(&mailbox, WakeLoop, nullptr);
    display = stream;
    caption = dialogCaption;
    terminalMode = terminal;
    silenced = false;
    dirty = false;
    framesDrawn = 0;
    lastPercent = -1;
    elapsedDrawn = -1;
    if (terminalMode) std::fputs("\x1b[?25l", display);  // no blinking cursor over the window
    return &window;
}

int term_view_wake_fd() { return wakePipe[0]; }

void term_view_wake() {
    if (wakePipe[1] >= 0) {
        const char byte = 1;
        // A full pipe already wakes the loop; nothing is lost by a failed write.
        ssize_t written = write(wakePipe[1], &byte, 1);
        (void)written;
    }
}

void term_view_run_queued_calls() {
    char drain[64];
    while (wakePipe[0] >= 0 && read(wakePipe[0], drain, sizeof drain) > 0) {
    }
    LoopMailboxRun(&mailbox);
}

bool term_view_button_enabled(ViewButton button) {
    return window.dialog.buttons[static_cast<int>(button)];
}

void term_view_flush() {
    if (!term_view_frame_pending()) return;
    DrawFrame();
    dirty = false;
}

bool term_view_frame_pending() {
    return terminalMode && !silenced && window.dialog.shown &&
           (dirty || TextDialogElapsedSeconds(window.dialog, term_now_ms()) != elapsedDrawn);
}

void term_view_note(const char* text) {
    if (silenced) return;
    // Below the dialog; the next frame is drawn afresh underneath.
    std::fflush(display);
    std::fprintf(stderr, "%s\n", text);
    std::fflush(stderr);
    if (terminalMode && framesDrawn > 0 && isatty(STDERR_FILENO)) {
        framesDrawn = 0;
        dirty = true;
    }
}

void term_view_silence() { silenced = true; }

void term_view_end() {
    LoopMailboxClose(&mailbox);
    if (silenced) return;
    if (terminalMode) {
        // The last frame stays on the screen, also when the window was hidden at the end.
        if (dirty && framesDrawn > 0) DrawFrame();
        std::fputs("\x1b[?25h", display);
    }
    std::fflush(display);
}

// ---- view.h ------------------------------------------------------------------------------

void view_show_text(View* view, ViewText field, const char* text) {
    LoopMailboxChange(&mailbox, [view, field, text] {
        if (TextDialogTakeText(&view->dialog, field, text, term_now_ms())) {
            Changed(TextChange::Text, field);
        }
    });
}

void view_enable_button(View* view, ViewButton button, bool enabled) {
    LoopMailboxChange(&mailbox, [view, button, enabled] {
        if (TextDialogTakeButton(&view->dialog, button, enabled)) Changed(TextChange::Button);
    });
}

void view_show_progress(View* view, uint32_t done, uint32_t total, bool) {
    LoopMailboxChange(&mailbox, [view, done, total] {
        if (TextDialogTakeProgress(&view->dialog, done, total)) Changed(TextChange::Bar);
    });
}

void view_enable_progress(View* view, bool enabled) {
    LoopMailboxChange(&mailbox, [view, enabled] {
        if (TextDialogTakeBarEnabled(&view->dialog, enabled)) Changed(TextChange::Bar);
    });
}

void view_show_window(View* view, bool show) {
    LoopMailboxChange(&mailbox, [view, show] {
        view->dialog.shown = show;
        Changed(TextChange::Window);
    });
}

void view_show_error(View*, ViewError error) {
    LoopMailboxChange(&mailbox, [error] {
        switch (error) {
        case ViewError::UpdateNotStarted:
            term_view_note(StatusTextFor(StatusText::UpdateNotStarted));
            break;
        }
    });
}

void view_run_on_loop(View*, void (*work)(void*), void* argument) {
    LoopMailboxPost(&mailbox, work, argument);
}

// The terminal shows the run in the dialog's words: the status line and the bar say it.
void view_show_state(View*, const RunState&) {}
