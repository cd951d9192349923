// The window in a terminal. On a terminal it is drawn in place, a block of lines that each
// frame rewrites; elsewhere (a pipe, a log file) every change of a field, of the status line
// or of a button is printed as one line, so that scripts can follow it.
#include "front/term/term_view.h"
#include "sensor/update_result.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

#include "app/loop_mailbox.h"

namespace {

View window;

// What changed, for the line printed in line mode.
enum class Part { Text, Button, Bar, Window };

// Changes from other threads wait here for the loop, which the pipe wakes.
LoopMailbox mailbox;
int wakePipe[2] = {-1, -1};

void WakeLoop(void*) { term_view_wake(); }

constexpr int kFrameLines = 12;
constexpr int kBarCells = 40;
constexpr size_t kLineCapacity = 512;

const char kCurrentLabel[] = "Current Version : ";
const char kNewLabel[] = "New Version      : ";
const char kKeyHint[] = "u/Enter: Update    e/Esc/q: Exit";

const char* caption = "";
// Standard output, or standard error when standard output carries a report (--json).
FILE* display = stdout;
bool terminalMode = false;
bool silenced = false;
bool dirty = false;
int framesDrawn = 0;
int lastPercent = -1;
// When the status line last changed, and the elapsed seconds last drawn beside it.
uint64_t statusSinceMs = 0;
int64_t elapsedDrawn = -1;
// The last state printed in line mode, to print changes only: the buttons, then the bar.
bool lineEnabled[3];
int linePercentDecile = -1;

const char* Text(ViewText field) { return window.texts[static_cast<int>(field)]; }

int Percent() {
    if (window.total == 0) return 0;
    return static_cast<int>(window.done * 100 / window.total);
}

// While an update runs (its Exit button is disabled) the seconds since the status last
// changed: the switch, the wait for the boot loader and the erase show nothing else for
// up to minutes, and a sensor that looks stuck gets unplugged. -1 otherwise.
int64_t ElapsedSeconds() {
    if (!window.shown || window.buttons[static_cast<int>(ViewButton::Exit)]) return -1;
    return static_cast<int64_t>((term_now_ms() - statusSinceMs) / 1000);
}

int TerminalColumns() {
    winsize size;
    if (ioctl(fileno(display), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

// Copies `from` into `line` up to the line feed or the end; returns where it stopped.
const char* CopyLine(char* line, size_t capacity, const char* from) {
    size_t n = 0;
    while (from[n] != '\0' && from[n] != '\n' && n + 1 < capacity) {
        line[n] = from[n];
        ++n;
    }
    line[n] = '\0';
    return from[n] == '\n' ? from + n + 1 : from + n;
}

void Button(char* out, size_t capacity, const char* label, bool enabled) {
    // Dimmed without brackets when the button cannot be pressed.
    if (enabled) {
        std::snprintf(out, capacity, "\x1b[1m[ %s ]\x1b[0m", label);
    } else {
        std::snprintf(out, capacity, "\x1b[2m  %s  \x1b[0m", label);
    }
}

// Writes one line of the frame, cut to the terminal's width so that no line wraps and the
// next frame finds the block where it left it. Control sequences take no columns.
void FrameLine(const char* text, int columns) {
    char line[kLineCapacity];
    size_t out = 0;
    int visible = 0;
    bool inEscape = false;
    for (size_t i = 0; text[i] != '\0' && out + 8 < sizeof line; ++i) {
        const char c = text[i];
        if (c == '\x1b') inEscape = true;
        if (!inEscape) {
            if (visible >= columns - 1) continue;
            ++visible;
        }
        line[out++] = c;
        if (inEscape && c == 'm') inEscape = false;
    }
    line[out] = '\0';
    std::fprintf(display, "\x1b[2K%s\x1b[0m\n", line);
}

void DrawFrame() {
    const int columns = TerminalColumns();
    char line[kLineCapacity];
    if (framesDrawn > 0) {
        std::fprintf(display, "\x1b[%dF", kFrameLines);  // back to the frame's first line
    }
    std::snprintf(line, sizeof line, "\x1b[1m%s\x1b[0m", caption);
    FrameLine(line, columns);
    FrameLine("", columns);
    std::snprintf(line, sizeof line, "%s%.383s", kCurrentLabel, Text(ViewText::CurrentVersion));
    FrameLine(line, columns);
    std::snprintf(line, sizeof line, "%s%.383s", kNewLabel, Text(ViewText::NewVersion));
    FrameLine(line, columns);
    FrameLine("", columns);
    const char* notice = Text(ViewText::Notice);
    notice = CopyLine(line, sizeof line, notice);
    FrameLine(line, columns);
    CopyLine(line, sizeof line, notice);
    FrameLine(line, columns);
    FrameLine("", columns);
    CopyLine(line, sizeof line, Text(ViewText::Status));
    elapsedDrawn = ElapsedSeconds();
    if (elapsedDrawn >= 0) {
        const size_t length = std::strlen(line);
        std::snprintf(line + length, sizeof line - length, "\x1b[2m  %lld s\x1b[0m",
                      static_cast<long long>(elapsedDrawn));
    }
    FrameLine(line, columns);

    const int percent = Percent();
    char bar[kBarCells + 1];
    const int filled = percent * kBarCells / 100;
    for (int i = 0; i < kBarCells; ++i) bar[i] = i < filled ? '#' : '.';
    bar[kBarCells] = '\0';
    std::snprintf(line, sizeof line, "%s[%s] %3d%%\x1b[0m", window.barEnabled ? "" : "\x1b[2m", bar,
                  percent);
    FrameLine(line, columns);

    char update[64];
    char exitButton[64];
    Button(update, sizeof update, "Update", window.buttons[0]);
    Button(exitButton, sizeof exitButton, "Exit", window.buttons[1]);
    std::snprintf(line, sizeof line, "%s  %s", update, exitButton);
    FrameLine(line, columns);
    std::snprintf(line, sizeof line, "\x1b[2m%s\x1b[0m", kKeyHint);
    FrameLine(line, columns);
    std::fflush(display);
    ++framesDrawn;
    lastPercent = percent;
}

void PrintLine(const char* label, const char* text) {
    // Before the window is shown the start-up values are taken in silently.
    if (!window.shown) return;
    char line[kLineCapacity];
    size_t n = 0;
    for (size_t i = 0; text[i] != '\0' && n + 1 < sizeof line; ++i) {
        line[n++] = text[i] == '\n' ? ' ' : text[i];
    }
    line[n] = '\0';
    std::fprintf(display, "%s%s\n", label, line);
    std::fflush(display);
}

// The enable state of a button (0, 1) or of the bar (2), printed when it changed.
void PrintEnabled(int index, bool enabled) {
    static const char* const labels[] = {"Update button : ", "Exit button : ", "Progress bar : "};
    if (enabled == lineEnabled[index]) return;
    lineEnabled[index] = enabled;
    PrintLine(labels[index], enabled ? "enabled" : "disabled");
}

void PrintChange(Part part, ViewText field) {
    static const char* const labels[] = {kCurrentLabel, kNewLabel, "Status : ", "Notice : "};
    if (part == Part::Text) {
        PrintLine(labels[static_cast<int>(field)], Text(field));
    } else if (part == Part::Button) {
        PrintEnabled(0, window.buttons[0]);
        PrintEnabled(1, window.buttons[1]);
    } else if (part == Part::Bar) {
        // Every tenth of the way, not every block: a whole update is about 2000 steps.
        const int decile = Percent() / 10;
        if (decile != linePercentDecile) {
            linePercentDecile = decile;
            char text[16];
            std::snprintf(text, sizeof text, "%d%%", decile * 10);
            PrintLine("Progress : ", text);
        }
        PrintEnabled(2, window.barEnabled);
    }
}

// After each change of the window.
void Changed(Part part, ViewText field = ViewText::Status) {
    if (part == Part::Text && field == ViewText::Status) statusSinceMs = term_now_ms();
    if (silenced) return;
    if (terminalMode) {
        // Percent steps are drawn at once so the bar visibly moves; the rest waits for the
        // next flush of the loop.
        dirty = true;
        if (part == Part::Bar && window.shown && Percent() != lastPercent) {
            DrawFrame();
            dirty = false;
        }
        return;
    }
    PrintChange(part, field);
}

void ChangeBar(uint32_t done, uint32_t total) {
    window.total = total;
    window.done = done < total ? done : total;
    Changed(Part::Bar);
}

}  // namespace

uint64_t term_now_ms() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch()).count());
}

View* term_view_begin(bool terminal, const char* dialogCaption, FILE* stream) {
    std::memset(&window, 0, sizeof window);
    window.buttons[0] = window.buttons[1] = window.barEnabled = true;
    window.total = 100;
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
    statusSinceMs = term_now_ms();
    elapsedDrawn = -1;
    linePercentDecile = -1;
    for (bool& enabled : lineEnabled) enabled = true;
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
    return window.buttons[static_cast<int>(button)];
}

void term_view_flush() {
    if (!term_view_frame_pending()) return;
    DrawFrame();
    dirty = false;
}

bool term_view_frame_pending() {
    return terminalMode && !silenced && window.shown &&
           (dirty || ElapsedSeconds() != elapsedDrawn);
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
        char* shown = view->texts[static_cast<int>(field)];
        if (std::strncmp(shown, text, kTermTextCapacity) != 0) {
            std::snprintf(shown, kTermTextCapacity, "%s", text);
            Changed(Part::Text, field);
        }
    });
}

void view_enable_button(View* view, ViewButton button, bool enabled) {
    LoopMailboxChange(&mailbox, [view, button, enabled] {
        if (view->buttons[static_cast<int>(button)] != enabled) {
            view->buttons[static_cast<int>(button)] = enabled;
            Changed(Part::Button);
        }
    });
}

void view_show_progress(View*, uint32_t done, uint32_t total, bool) {
    LoopMailboxChange(&mailbox, [done, total] { ChangeBar(done, total); });
}

void view_enable_progress(View* view, bool enabled) {
    LoopMailboxChange(&mailbox, [view, enabled] {
        if (view->barEnabled != enabled) {
            view->barEnabled = enabled;
            Changed(Part::Bar);
        }
    });
}

void view_show_window(View* view, bool show) {
    LoopMailboxChange(&mailbox, [view, show] {
        view->shown = show;
        Changed(Part::Window);
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
