// The window in a terminal: on a terminal the dialog's frame is drawn in place, elsewhere (a
// pipe, a log file) each change is printed as the dialog's log line.
#include "front/term/term_view.h"
#include "sensor/update_result.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>

namespace {

// The process's wake-up: the mailbox's calls and the signal handlers write a byte, the
// loop waits for it in poll. Made once; a handler may write to it at any time.
int wakePipe[2] = {-1, -1};

void WakeLoop(void*) { term_view_wake(); }

int TerminalColumns(const View* view) {
    winsize size;
    if (ioctl(fileno(view->display), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        return size.ws_col;
    }
    return 80;
}

void DrawFrame(View* view) {
    char lines[kTextFrameLines][kTextLineCapacity];
    view->elapsedDrawn = TextDialogElapsedSeconds(view->dialog, term_now_ms());
    TextDialogFrame(view->dialog, view->caption, TerminalColumns(view), view->elapsedDrawn, lines);
    if (view->framesDrawn > 0) {
        std::fprintf(view->display, "\x1b[%dF", kTextFrameLines);  // back to the frame's first line
    }
    for (const char* line : lines) std::fprintf(view->display, "\x1b[2K%s\x1b[0m\n", line);
    std::fflush(view->display);
    ++view->framesDrawn;
    view->lastPercent = TextDialogPercent(view->dialog);
}

// After each change of the window.
void Changed(View* view, TextChange change, ViewText field = ViewText::Status) {
    if (view->silenced) return;
    if (view->terminal) {
        // Percent steps are drawn at once so the bar visibly moves; the rest waits for the
        // next flush of the loop.
        view->dirty = true;
        if (change == TextChange::Bar && view->dialog.shown &&
            TextDialogPercent(view->dialog) != view->lastPercent) {
            DrawFrame(view);
            view->dirty = false;
        }
        return;
    }
    const TextLogLines log = TextDialogLogLines(&view->dialog, change, field);
    for (int i = 0; i < log.count; ++i) std::fprintf(view->display, "%s\n", log.lines[i]);
    if (log.count > 0) std::fflush(view->display);
}

}  // namespace

uint64_t term_now_ms() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch()).count());
}

void term_view_begin(View* view, bool terminal, const char* caption, FILE* stream) {
    TextDialogReset(&view->dialog, term_now_ms());
    if (wakePipe[0] < 0 && pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        wakePipe[0] = wakePipe[1] = -1;
    }
    LoopMailboxOpen(&view->mailbox, WakeLoop, nullptr);
    view->display = stream;
    view->caption = caption;
    view->terminal = terminal;
    view->silenced = false;
    view->dirty = false;
    view->framesDrawn = 0;
    view->lastPercent = -1;
    view->elapsedDrawn = -1;
    if (terminal) std::fputs("\x1b[?25l", stream);  // no blinking cursor over the window
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

void term_view_run_queued_calls(View* view) {
    char drain[64];
    while (wakePipe[0] >= 0 && read(wakePipe[0], drain, sizeof drain) > 0) {
    }
    LoopMailboxRun(&view->mailbox);
}

void term_view_flush(View* view) {
    if (!term_view_frame_pending(view)) return;
    DrawFrame(view);
    view->dirty = false;
}

bool term_view_frame_pending(const View* view) {
    return view->terminal && !view->silenced && view->dialog.shown &&
           (view->dirty ||
            TextDialogElapsedSeconds(view->dialog, term_now_ms()) != view->elapsedDrawn);
}

void term_view_note(View* view, const char* text) {
    if (view->silenced) return;
    // Below the dialog; the next frame is drawn afresh underneath.
    std::fflush(view->display);
    std::fprintf(stderr, "%s\n", text);
    std::fflush(stderr);
    if (view->terminal && view->framesDrawn > 0 && isatty(STDERR_FILENO)) {
        view->framesDrawn = 0;
        view->dirty = true;
    }
}

void term_view_end(View* view) {
    LoopMailboxClose(&view->mailbox);
    if (view->silenced) return;
    if (view->terminal) {
        // The last frame stays on the screen, also when the window was hidden at the end.
        if (view->dirty && view->framesDrawn > 0) DrawFrame(view);
        std::fputs("\x1b[?25h", view->display);
    }
    std::fflush(view->display);
}

// ---- view.h ------------------------------------------------------------------------------

void view_show_text(View* view, ViewText field, const char* text) {
    LoopMailboxChange(&view->mailbox, [view, field, text] {
        if (TextDialogTakeText(&view->dialog, field, text, term_now_ms())) {
            Changed(view, TextChange::Text, field);
        }
    });
}

void view_enable_button(View* view, ViewButton button, bool enabled) {
    LoopMailboxChange(&view->mailbox, [view, button, enabled] {
        if (TextDialogTakeButton(&view->dialog, button, enabled)) Changed(view, TextChange::Button);
    });
}

void view_show_progress(View* view, uint32_t done, uint32_t total, bool) {
    LoopMailboxChange(&view->mailbox, [view, done, total] {
        if (TextDialogTakeProgress(&view->dialog, done, total)) Changed(view, TextChange::Bar);
    });
}

void view_enable_progress(View* view, bool enabled) {
    LoopMailboxChange(&view->mailbox, [view, enabled] {
        if (TextDialogTakeBarEnabled(&view->dialog, enabled)) Changed(view, TextChange::Bar);
    });
}

void view_show_window(View* view, bool show) {
    LoopMailboxChange(&view->mailbox, [view, show] {
        view->dialog.shown = show;
        Changed(view, TextChange::Window);
    });
}

void view_show_error(View* view, ViewError error) {
    LoopMailboxChange(&view->mailbox, [view, error] {
        switch (error) {
        case ViewError::UpdateNotStarted:
            term_view_note(view, StatusTextFor(StatusText::UpdateNotStarted));
            break;
        }
    });
}

void view_run_on_loop(View* view, void (*work)(void*), void* argument) {
    LoopMailboxPost(&view->mailbox, work, argument);
}

// The terminal shows the run in the dialog's words: the status line and the bar say it.
void view_show_state(View*, const RunState&) {}
