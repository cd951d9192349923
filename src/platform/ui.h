// The dialog seam: what the program shows and the threads it runs, in its own terms.
//
// The app and the update worker address the main dialog's controls by ID through these
// calls; the Windows edition implements them with the real dialog (win32/), the Linux and
// simulated editions with the terminal front end (term/), and tests with a recording
// implementation. A control change made from the update worker is synchronous: it returns
// only after the thread that owns the dialog has carried it out, so what the user sees
// follows the order of the calls.
#pragma once

#include <cstdint>

typedef void* WindowHandle;
typedef void* ThreadHandle;

// Control IDs of the main dialog.
enum ControlId {
    kIdFileName = 1000,        // hidden edit field: file name from the command line
    kIdUpdate = 1002,          // Update button
    kIdProgress = 1003,        // progress bar
    kIdCurrentVersion = 1004,  // current version of the sensor
    kIdNewVersion = 1005,      // version of the built-in image
    kIdStatus = 1006,          // status line
    kIdNotice = 1007,          // notice text during an update
    kIdExit = 1008,            // Exit button
};

constexpr uint32_t kMainTimerId = 1;

// ---- Controls (any thread) -------------------------------------------------------------

void ui_set_item_text(WindowHandle window, int controlId, const char* text);
// Copies at most capacity-1 characters and a NUL; returns the length copied.
uint32_t ui_get_item_text(WindowHandle window, int controlId, char* buffer, uint32_t capacity);
// A disabled button cannot be pressed; a disabled progress bar is drawn greyed.
void ui_enable_item(WindowHandle window, int controlId, bool enable);

// The progress bar (kIdProgress) runs from 0 to `maximum`; each step adds one. The position
// is kept within the range.
void ui_set_progress_range(WindowHandle window, uint16_t maximum);
void ui_set_progress_position(WindowHandle window, uint16_t position);
void ui_step_progress(WindowHandle window);

// ---- The window (main thread) ----------------------------------------------------------

// A periodic timer; each period brings one MainWindowOnTimer with `timerId`. Setting a
// running timer again restarts its period.
void ui_set_timer(WindowHandle window, uint32_t timerId, uint32_t periodMs);
void ui_kill_timer(WindowHandle window, uint32_t timerId);
void ui_show_window(WindowHandle window, bool show);
// Runs the front end's destroy handling (MainWindowOnDestroy) before it returns.
void ui_destroy_window(WindowHandle window);
// Ends the front end's loop once the current handler has returned; `exitCode` becomes the
// process exit code.
void ui_post_quit(int exitCode);
// A message with an OK button and no owner; returns once it has been read.
void ui_message_box(const char* text, const char* caption);

// ---- The worker thread -----------------------------------------------------------------

// Starts `procedure(argument)` on a thread of its own; null when no thread can be made.
ThreadHandle ui_thread_start(unsigned (*procedure)(void*), void* argument);
// False while the thread runs; true once it has ended, with the procedure's return value
// in `*result` unless `result` is null.
bool ui_thread_ended(ThreadHandle thread, uint32_t* result);
// Releases the handle; a thread still running goes on and ends by itself.
void ui_thread_close(ThreadHandle thread);

// Keeps the machine from sleeping (and the session from ending unasked) while an update
// runs. Called by the worker thread at its first and at its last step.
void ui_keep_awake(WindowHandle window, bool on);
