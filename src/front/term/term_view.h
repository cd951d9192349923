// view.h for a terminal or a log, and what the terminal's loop needs of it. The window's
// model belongs to the loop's thread: a change asked for by another thread (the update
// worker) is handed to the loop through a queue, the loop is woken through a pipe, carries
// it out and only then lets the caller go on. So every change is synchronous, as the seam
// promises, and the loop keeps reading keys and signals during a whole update.
#pragma once

#include <cstdint>
#include <cstdio>

#include "app/loop_mailbox.h"
#include "app/text_dialog.h"
#include "platform/view.h"

// The window, owned by the loop and passed to every call: what it holds (changes come
// through view.h) and how it is shown.
struct View {
    TextDialog dialog;
    LoopMailbox mailbox;  // changes from other threads, on their way to the loop
    const char* caption;
    // Standard output, or standard error when standard output carries a report (--json).
    FILE* display;
    bool terminal;        // drawn in place; otherwise a line for each change
    bool silenced;        // nothing more is written (the terminal hung up)
    bool dirty;           // a change waits for the next frame
    int framesDrawn;
    int lastPercent;
    int64_t elapsedDrawn; // the elapsed seconds last drawn beside the status line
};

// Milliseconds on a monotonic clock.
uint64_t term_now_ms();

// Marks the calling thread as the loop's and clears the window. `terminal`: draw the window
// in place with control sequences, under `caption`; otherwise print each change as one line.
void term_view_begin(View* view, bool terminal, const char* caption, FILE* stream);
// File descriptor that becomes readable when another thread has queued a change or a signal
// arrived: one for the process, which its signal handlers share.
int term_view_wake_fd();
// Wakes the loop (async-signal-safe).
void term_view_wake();
// Empties the wake descriptor and carries out the queued changes.
void term_view_run_queued_calls(View* view);
// True while a change waits for the next frame; term_view_flush draws it.
bool term_view_frame_pending(const View* view);
void term_view_flush(View* view);
// A line of the program's own: printed below the window.
void term_view_note(View* view, const char* text);
// The last frame stays on the screen.
void term_view_end(View* view);
