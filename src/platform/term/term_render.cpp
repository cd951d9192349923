// Showing the dialog's model. On a terminal the dialog is drawn in place, a block of lines
// that each frame rewrites; elsewhere (a pipe, a log file) every change of a field, of the
// status line or of a button is printed as one line, so that scripts can follow it.
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "platform/term/term_model.h"

namespace {

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
// The last state printed in line mode, to print changes only.
bool lineEnabled[kTermControlCount];
int linePercentDecile = -1;

int Percent() {
    const TermProgress& bar = termModel.progress;
    if (bar.maximum == 0) return 0;
    return bar.position * 100 / bar.maximum;
}

// While an update runs (its Exit button is disabled) the seconds since the status last
// changed: the switch, the wait for the boot loader and the erase show nothing else for
// up to minutes, and a sensor that looks stuck gets unplugged. -1 otherwise.
int64_t ElapsedSeconds() {
    if (!termModel.shown || TermControlFor(kIdExit)->enabled) return -1;
    return static_cast<int64_t>((TermNowMs() - statusSinceMs) / 1000);
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
    std::snprintf(line, sizeof line, "%s%s", kCurrentLabel,
                  TermControlFor(kIdCurrentVersion)->text);
    FrameLine(line, columns);
    std::snprintf(line, sizeof line, "%s%s", kNewLabel, TermControlFor(kIdNewVersion)->text);
    FrameLine(line, columns);
    FrameLine("", columns);
    const char* notice = TermControlFor(kIdNotice)->text;
    notice = CopyLine(line, sizeof line, notice);
    FrameLine(line, columns);
    CopyLine(line, sizeof line, notice);
    FrameLine(line, columns);
    FrameLine("", columns);
    CopyLine(line, sizeof line, TermControlFor(kIdStatus)->text);
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
    const bool barEnabled = TermControlFor(kIdProgress)->enabled;
    std::snprintf(line, sizeof line, "%s[%s] %3d%%\x1b[0m", barEnabled ? "" : "\x1b[2m", bar,
                  percent);
    FrameLine(line, columns);

    char update[64];
    char exitButton[64];
    Button(update, sizeof update, "Update", TermControlFor(kIdUpdate)->enabled);
    Button(exitButton, sizeof exitButton, "Exit", TermControlFor(kIdExit)->enabled);
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
    if (!termModel.shown) return;
    char line[kLineCapacity];
    size_t n = 0;
    for (size_t i = 0; text[i] != '\0' && n + 1 < sizeof line; ++i) {
        line[n++] = text[i] == '\n' ? ' ' : text[i];
    }
    line[n] = '\0';
    std::fprintf(display, "%s%s\n", label, line);
    std::fflush(display);
}

void PrintChange(int controlId) {
    const TermControl* control = TermControlFor(controlId);
    switch (controlId) {
    case kIdCurrentVersion:
        PrintLine(kCurrentLabel, control->text);
        return;
    case kIdNewVersion:
        PrintLine(kNewLabel, control->text);
        return;
    case kIdStatus:
        PrintLine("Status : ", control->text);
        return;
    case kIdNotice:
        PrintLine("Notice : ", control->text);
        return;
    default:
        break;
    }
    if (control == nullptr) return;
    const int index = controlId - kTermFirstControl;
    if (controlId == kIdProgress) {
        // Every tenth of the way, not every block: a whole update is about 2000 steps.
        const int decile = Percent() / 10;
        if (decile != linePercentDecile) {
            linePercentDecile = decile;
            char text[16];
            std::snprintf(text, sizeof text, "%d%%", decile * 10);
            PrintLine("Progress : ", text);
        }
    }
    if (control->enabled != lineEnabled[index]) {
        lineEnabled[index] = control->enabled;
        const char* label = controlId == kIdUpdate     ? "Update button : "
                            : controlId == kIdExit     ? "Exit button : "
                            : controlId == kIdProgress ? "Progress bar : "
                                                       : nullptr;
        if (label != nullptr) PrintLine(label, control->enabled ? "enabled" : "disabled");
    }
}

}  // namespace

void TermRenderBegin(bool terminal, const char* dialogCaption, FILE* stream) {
    display = stream;
    caption = dialogCaption;
    terminalMode = terminal;
    silenced = false;
    dirty = false;
    framesDrawn = 0;
    lastPercent = -1;
    statusSinceMs = TermNowMs();
    elapsedDrawn = -1;
    linePercentDecile = -1;
    for (bool& enabled : lineEnabled) enabled = true;
    if (terminalMode) std::fputs("\x1b[?25l", display);  // no blinking cursor over the dialog
}

void TermRenderChanged(int controlId) {
    if (controlId == kIdStatus) statusSinceMs = TermNowMs();
    if (silenced) return;
    if (terminalMode) {
        // Percent steps are drawn at once so the bar visibly moves; the rest waits for the
        // next flush of the loop.
        dirty = true;
        if (controlId == kIdProgress && termModel.shown && Percent() != lastPercent) {
            DrawFrame();
            dirty = false;
        }
        return;
    }
    if (controlId == kIdFileName || controlId == 0) return;  // hidden field, window state
    PrintChange(controlId);
}

void TermRenderFlush() {
    if (!TermRenderPending()) return;
    DrawFrame();
    dirty = false;
}

bool TermRenderPending() {
    return terminalMode && !silenced && termModel.shown &&
           (dirty || ElapsedSeconds() != elapsedDrawn);
}

void TermRenderNote(const char* text) {
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

void TermRenderSilence() { silenced = true; }

void TermRenderEnd() {
    if (silenced) return;
    if (terminalMode) {
        // The last frame stays on the screen, also when the window was hidden at the end.
        if (dirty && framesDrawn > 0) DrawFrame();
        std::fputs("\x1b[?25h", display);
    }
    std::fflush(display);
}
