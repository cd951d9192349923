// view.h for a terminal or a log, and what the terminal's loop needs of it. The window's
// model belongs to the loop's thread: a change asked for by another thread (the update
// worker) is handed to the loop through a queue, the loop is woken through a pipe, carries
// it out and only then lets the caller go on. So every change is synchronous, as the seam
// promises, and the loop keeps reading keys and signals during a whole update.
#pragma once

#include <cstdint>
#include <cstdio>

#include "platform/view.h"

// Longer than every text the program shows.
constexpr uint32_t kTermTextCapacity = 384;

// What the window holds; the loop's thread reads it, changes come through view.h.
struct View {
    char texts[4][kTermTextCapacity];  // by ViewText
    bool buttons[2];                   // by ViewButton: enabled
    uint32_t done;                     // the bar: `done` of `total`
    uint32_t total;
    bool barEnabled;
    bool shown;
};

// Milliseconds on a monotonic clock.
uint64_t TermNowMs();

// Marks the calling thread as the loop's and clears the window. `terminal`: draw the window
// in place with control sequences, under `caption`; otherwise print each change as one line.
View* TermViewBegin(bool terminal, const char* caption, FILE* stream);
// File descriptor that becomes readable when another thread has queued a change or a signal
// arrived.
int TermViewWakeFd();
// Wakes the loop (async-signal-safe).
void TermViewWake();
// Empties the wake descriptor and carries out the queued changes.
void TermViewRunQueuedCalls();
bool TermViewButtonEnabled(ViewButton button);
// True while a change waits for the next frame; TermViewFlush draws it.
bool TermViewFramePending();
void TermViewFlush();
// A line of the program's own: printed below the window.
void TermViewNote(const char* text);
// Stops all output to the terminal (after a hang-up).
void TermViewSilence();
// The last frame stays on the screen.
void TermViewEnd();
