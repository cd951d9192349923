// The dialog seam: what the window shows, in the update's terms. Each front end implements
// it with its own toolkit (src/front/win32 with the dialog's messages, src/front/term for the
// terminal, src/front/gtk with GTK 4, tests with a recorder).
// Every call may come from any thread and is synchronous: it returns once the window shows
// the change, so what the user sees follows the order of the calls.
#pragma once

#include <cstdint>

struct View;  // the front end's window; the app only passes it on

enum class ViewText : uint8_t { CurrentVersion, NewVersion, Status, Notice };
enum class ViewButton : uint8_t { Update, Exit };

void view_show_text(View* view, ViewText field, const char* text);
void view_enable_button(View* view, ViewButton button, bool enabled);
// The progress bar shows `done` of `total` (total > 0, done <= total).
void view_show_progress(View* view, uint32_t done, uint32_t total);
// A disabled bar is drawn greyed (not in use).
void view_enable_progress(View* view, bool enabled);
// Shows or hides the window.
void view_show_window(View* view, bool show);
// A message with an OK button; returns once it has been read.
void view_message_box(View* view, const char* text, const char* caption);
// Keeps the machine from sleeping (and the session from ending unasked) while on.
void view_keep_awake(View* view, bool on);
// The bar starts a new run of `total` steps (total > 0) at 0: the write-and-verify
// sequence's set-up. A view may show it as view_show_progress(view, 0, total); the Windows
// dialog sets the bar's range anew, as it always has at this point.
void view_start_progress(View* view, uint32_t total);
