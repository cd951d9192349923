// The dialog seam: what the window shows, in the update's terms. Each front end implements
// it with its own toolkit (src/front/win32 with the dialog's messages, src/front/term for the
// terminal, src/front/gtk with GTK 4, tests with a recorder).
// Every call may come from any thread and is synchronous: it returns once the window shows
// the change, so what the user sees follows the order of the calls. view_run_on_loop is the
// one way to hand work to the window's loop.
#pragma once

#include <cstdint>

#include "platform/run_state.h"

struct View;  // the front end's window; the app only passes it on

enum class ViewText : uint8_t { CurrentVersion, NewVersion, Status, Notice };
enum class ViewButton : uint8_t { Update, Exit };

// What went wrong that the person at the screen is told in the window's own way.
enum class ViewError : uint8_t {
    UpdateNotStarted,  // no thread could be made for the update
};

void view_show_text(View* view, ViewText field, const char* text);
void view_enable_button(View* view, ViewButton button, bool enabled);
// The progress bar shows `done` of `total` (total > 0, done <= total). `restart`: a new run
// of steps begins here (the write-and-verify sequence's set-up); the Windows dialog then sets
// the bar's range anew, as it always has at this point.
void view_show_progress(View* view, uint32_t done, uint32_t total, bool restart);
// A disabled bar is drawn greyed (not in use).
void view_enable_progress(View* view, bool enabled);
// Shows or hides the window.
void view_show_window(View* view, bool show);
// The run's state as data, at each change of stage or attempt and at the run's end. The
// texts above say the same in the design's words; a window may show this its own way.
void view_show_state(View* view, const RunState& state);
// Tells the person at the screen what went wrong; returns once it is shown. Only ever called
// for a run somebody watches.
void view_show_error(View* view, ViewError error);
// Runs `work(argument)` on the window's loop, after every change asked for before it, and
// returns at once. From any thread; the loop's own calls it later, never within this call.
void view_run_on_loop(View* view, void (*work)(void*), void* argument);
