// The main dialog as text: a frame of lines drawn in place with control sequences, or one
// line a change for a log.
#include "app/text_dialog.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr int kBarCells = 40;

const char kCurrentLabel[] = "Current Version : ";
const char kNewLabel[] = "New Version      : ";
const char kKeyHint[] = "u/Enter: Update    e/Esc/q: Exit";

const char* Text(const TextDialog& dialog, ViewText field) {
    return dialog.texts[static_cast<int>(field)];
}

// Copies `from` into `line` up to the line feed or the end; returns where it stopped.
const char* CopyLine(char* line, const char* from) {
    size_t n = 0;
    while (from[n] != '\0' && from[n] != '\n' && n + 1 < kTextLineCapacity) {
        line[n] = from[n];
        ++n;
    }
    line[n] = '\0';
    return from[n] == '\n' ? from + n + 1 : from + n;
}

// Dimmed without brackets when the button cannot be pressed.
void Button(char* out, size_t capacity, const char* label, bool enabled) {
    std::snprintf(out, capacity, enabled ? "\x1b[1m[ %s ]\x1b[0m" : "\x1b[2m  %s  \x1b[0m", label);
}

// Cuts `line` to `columns` - 1 visible columns; control sequences take none.
void CutToColumns(char* line, int columns) {
    size_t out = 0;
    int visible = 0;
    bool inEscape = false;
    for (size_t i = 0; line[i] != '\0' && out + 8 < kTextLineCapacity; ++i) {
        const char c = line[i];
        if (c == '\x1b') inEscape = true;
        if (!inEscape) {
            if (visible >= columns - 1) continue;
            ++visible;
        }
        line[out++] = c;
        if (inEscape && c == 'm') inEscape = false;
    }
    line[out] = '\0';
}

void LogLine(TextLogLines* log, const char* label, const char* text) {
    char* line = log->lines[log->count++];
    const int start = std::snprintf(line, kTextLineCapacity, "%s", label);
    size_t n = start > 0 ? static_cast<size_t>(start) : 0;
    // A text of two lines is told on one.
    for (size_t i = 0; text[i] != '\0' && n + 1 < kTextLineCapacity; ++i) {
        line[n++] = text[i] == '\n' ? ' ' : text[i];
    }
    line[n] = '\0';
}

// The enable state of a button (0, 1) or of the bar (2), told when it changed.
void LogEnabled(TextDialog* dialog, TextLogLines* log, int index, bool enabled) {
    static const char* const labels[] = {"Update button : ", "Exit button : ", "Progress bar : "};
    if (enabled == dialog->toldEnabled[index]) return;
    dialog->toldEnabled[index] = enabled;
    LogLine(log, labels[index], enabled ? "enabled" : "disabled");
}

}  // namespace

void TextDialogReset(TextDialog* dialog, uint64_t nowMs) {
    std::memset(dialog, 0, sizeof *dialog);
    dialog->buttons[0] = dialog->buttons[1] = dialog->barEnabled = true;
    dialog->total = 100;
    dialog->statusSinceMs = nowMs;
    for (bool& enabled : dialog->toldEnabled) enabled = true;
    dialog->toldTenth = -1;
}

bool TextDialogTakeText(TextDialog* dialog, ViewText field, const char* text, uint64_t nowMs) {
    char* shown = dialog->texts[static_cast<int>(field)];
    if (std::strncmp(shown, text, kTextDialogTextCapacity) == 0) return false;
    std::snprintf(shown, kTextDialogTextCapacity, "%s", text);
    if (field == ViewText::Status) dialog->statusSinceMs = nowMs;
    return true;
}

bool TextDialogTakeButton(TextDialog* dialog, ViewButton button, bool enabled) {
    bool& shown = dialog->buttons[static_cast<int>(button)];
    if (shown == enabled) return false;
    shown = enabled;
    return true;
}

bool TextDialogTakeProgress(TextDialog* dialog, uint32_t done, uint32_t total) {
    const uint32_t shownDone = done < total ? done : total;
    if (dialog->total == total && dialog->done == shownDone) return false;
    dialog->total = total;
    dialog->done = shownDone;
    return true;
}

bool TextDialogTakeBarEnabled(TextDialog* dialog, bool enabled) {
    if (dialog->barEnabled == enabled) return false;
    dialog->barEnabled = enabled;
    return true;
}

int TextDialogPercent(const TextDialog& dialog) {
    if (dialog.total == 0) return 0;
    return static_cast<int>(dialog.done * 100ull / dialog.total);
}

int64_t TextDialogElapsedSeconds(const TextDialog& dialog, uint64_t nowMs) {
    if (!dialog.shown || dialog.buttons[static_cast<int>(ViewButton::Exit)]) return -1;
    return static_cast<int64_t>((nowMs - dialog.statusSinceMs) / 1000);
}

void TextDialogFrame(const TextDialog& dialog, const char* caption, int columns, int64_t elapsed,
                     char lines[kTextFrameLines][kTextLineCapacity]) {
    std::snprintf(lines[0], kTextLineCapacity, "\x1b[1m%s\x1b[0m", caption);
    lines[1][0] = '\0';
    std::snprintf(lines[2], kTextLineCapacity, "%s%.383s", kCurrentLabel,
                  Text(dialog, ViewText::CurrentVersion));
    std::snprintf(lines[3], kTextLineCapacity, "%s%.383s", kNewLabel,
                  Text(dialog, ViewText::NewVersion));
    lines[4][0] = '\0';
    CopyLine(lines[6], CopyLine(lines[5], Text(dialog, ViewText::Notice)));
    lines[7][0] = '\0';
    CopyLine(lines[8], Text(dialog, ViewText::Status));
    if (elapsed >= 0) {
        const size_t length = std::strlen(lines[8]);
        std::snprintf(lines[8] + length, kTextLineCapacity - length, "\x1b[2m  %lld s\x1b[0m",
                      static_cast<long long>(elapsed));
    }

    const int percent = TextDialogPercent(dialog);
    char bar[kBarCells + 1];
    const int filled = percent * kBarCells / 100;
    for (int i = 0; i < kBarCells; ++i) bar[i] = i < filled ? '#' : '.';
    bar[kBarCells] = '\0';
    std::snprintf(lines[9], kTextLineCapacity, "%s[%s] %3d%%\x1b[0m",
                  dialog.barEnabled ? "" : "\x1b[2m", bar, percent);

    char update[64];
    char exitButton[64];
    Button(update, sizeof update, "Update", dialog.buttons[0]);
    Button(exitButton, sizeof exitButton, "Exit", dialog.buttons[1]);
    std::snprintf(lines[10], kTextLineCapacity, "%s  %s", update, exitButton);
    std::snprintf(lines[11], kTextLineCapacity, "\x1b[2m%s\x1b[0m", kKeyHint);
    for (int i = 0; i < kTextFrameLines; ++i) CutToColumns(lines[i], columns);
}

TextLogLines TextDialogLogLines(TextDialog* dialog, TextChange change, ViewText field) {
    static const char* const labels[] = {kCurrentLabel, kNewLabel, "Status : ", "Notice : "};
    TextLogLines log;
    log.count = 0;
    if (change == TextChange::Text) {
        LogLine(&log, labels[static_cast<int>(field)], Text(*dialog, field));
    } else if (change == TextChange::Button) {
        LogEnabled(dialog, &log, 0, dialog->buttons[0]);
        LogEnabled(dialog, &log, 1, dialog->buttons[1]);
    } else if (change == TextChange::Bar) {
        // Every tenth of the way, not every block: a whole update is about 2000 steps.
        const int tenth = TextDialogPercent(*dialog) / 10;
        if (tenth != dialog->toldTenth) {
            dialog->toldTenth = tenth;
            char text[16];
            std::snprintf(text, sizeof text, "%d%%", tenth * 10);
            LogLine(&log, "Progress : ", text);
        }
        LogEnabled(dialog, &log, 2, dialog->barEnabled);
    }
    // Before the dialog is shown what changed is kept as told, and nothing is printed.
    if (!dialog->shown) log.count = 0;
    return log;
}

bool TextDialogNextPress(const TextDialog& dialog, const char* bytes, size_t count, size_t* index,
                         ViewButton* button) {
    while (*index < count) {
        const char c = bytes[(*index)++];
        *button = ViewButton::Exit;
        switch (c) {
        case 'u': case 'U': case '\r': case '\n':
            *button = ViewButton::Update;
            break;
        case 'e': case 'E': case 'q': case 'Q':
            break;
        case '\x1b':
            if (*index < count && (bytes[*index] == '[' || bytes[*index] == 'O')) {
                ++*index;
                while (*index < count && !(bytes[*index] >= 0x40 && bytes[*index] <= 0x7E)) {
                    ++*index;
                }
                if (*index < count) ++*index;
                continue;
            }
            break;
        default:
            continue;
        }
        if (dialog.buttons[static_cast<int>(*button)]) return true;
    }
    return false;
}
