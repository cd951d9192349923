// The main dialog as text, for a terminal or a log: what it holds, the frame a terminal draws
// in place (a block of lines, each rewritten), the single lines a log gets for each change,
// so that scripts can follow it, and the keys that press its buttons. Plain text in fixed
// buffers: the front end only writes the lines where they go.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/view.h"

// Longer than every text the program shows.
constexpr uint32_t kTextDialogTextCapacity = 384;
constexpr int kTextFrameLines = 12;
constexpr size_t kTextLineCapacity = 512;

struct TextDialog {
    char texts[4][kTextDialogTextCapacity];  // by ViewText
    bool buttons[2];                         // by ViewButton: enabled
    uint32_t done;                           // the bar: `done` of `total`
    uint32_t total;
    bool barEnabled;
    bool shown;
    uint64_t statusSinceMs;  // when the status line last changed
    // What a log was told last, so that it hears of changes only: the buttons' and the
    // bar's enable state (by TextLogEnable), and the bar's tenth.
    bool toldEnabled[3];
    int toldTenth;
};

// What changed, for the lines a log gets.
enum class TextChange { Text, Button, Bar, Window };

// The lines printed for one change in a log; a change says at most two.
struct TextLogLines {
    int count;
    char lines[2][kTextLineCapacity];
};

// An empty dialog, its buttons and bar enabled, shown as not yet on the screen.
void TextDialogReset(TextDialog* dialog, uint64_t nowMs);

// The view's changes; each returns whether the dialog changed.
bool TextDialogTakeText(TextDialog* dialog, ViewText field, const char* text, uint64_t nowMs);
bool TextDialogTakeButton(TextDialog* dialog, ViewButton button, bool enabled);
// The bar stays within its total: past it, it stays full.
bool TextDialogTakeProgress(TextDialog* dialog, uint32_t done, uint32_t total);
bool TextDialogTakeBarEnabled(TextDialog* dialog, bool enabled);

int TextDialogPercent(const TextDialog& dialog);

// While an update runs (its Exit button is disabled) the seconds since the status last
// changed: the switch, the wait for the boot loader and the erase show nothing else for up
// to minutes, and a sensor that looks stuck gets unplugged. -1 otherwise.
int64_t TextDialogElapsedSeconds(const TextDialog& dialog, uint64_t nowMs);

// The frame under `caption`, each line cut to `columns` - 1 visible columns so that none
// wraps and the next frame finds the block where it left it; `elapsed` as the function
// above gives it.
void TextDialogFrame(const TextDialog& dialog, const char* caption, int columns, int64_t elapsed,
                     char lines[kTextFrameLines][kTextLineCapacity]);

// What a log is told of `change` (of `field`, for a text). Nothing before the dialog is
// shown: the start-up values are taken in silently.
TextLogLines TextDialogLogLines(TextDialog* dialog, TextChange change, ViewText field);

// The next key of `bytes` from `*index` on that presses a button the dialog enables: u or
// Enter is Update; e, q or a lone Esc is Exit; escape sequences (arrows, function keys) and
// keys of disabled buttons are skipped. False when none is left.
bool TextDialogNextPress(const TextDialog& dialog, const char* bytes, size_t count, size_t* index,
                         ViewButton* button);
