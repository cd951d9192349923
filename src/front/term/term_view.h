// view.h for a terminal or a log, and what the terminal's loop needs of it. The window's
// model belongs to the loop's thread: a change asked for by another thread (the update
// worker) is handed to the loop through a queue, the loop is woken through a pipe, carries
// it out and only then lets the caller go on. So every change is synchronous, as the seam
// promises, and the loop keeps reading keys and signals during a whole update.
#pragma once

#include <cstdint>
#include <cstdio>

#include "app/text_dialog.h"
#include "platform/view.h"

// What the window holds; the loop's thread reads it, changes come through view.h.
struct View {
    TextDialog dialog;
};

// Milliseconds on a monotonic clock.
uint64_t term_now_ms();

// Marks the calling thread as the loop's and clears the window. `terminal`: draw the window
// in place with control sequences, under `caption`; otherwise print each change as one line.
View* term_view_begin(bool terminal, const char* caption, FILE* stream);
// File descriptor that becomes readable when another thread has queued a change or a signal
// arrived.
int term_view_wake_fd();
// Wakes the loop (async-signal-safe).
void term_view_wake();
// Empties the wake descriptor and carries out the queued changes.
void term_view_run_queued_calls();
bool term_view_button_enabled(ViewButton button);
// True while a change waits for the next frame; term_view_flush draws it.
bool term_view_frame_pending();
void term_view_flush();
// A line of the program's own: printed below the window.
void term_view_note(const char* text);
// Stops all output to the terminal (after a hang-up).
void term_view_silence();
// The last frame stays on the screen.
void term_view_end();
