// The dialog, timer and thread services of the application shell.
//
// The core and the app logic address the main dialog's controls by ID through these calls;
// the Windows edition implements them with the real dialog (win32/), the Linux and
// simulated editions with the terminal front end (term/), and tests with a recording
// implementation. A control change made from the update worker is synchronous: it returns
// only after the main thread has carried it out, as SendMessageA/SetDlgItemTextA do.
#pragma once

#include <cstddef>
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

// Progress-bar messages, with the Windows values (WM_USER + n).
constexpr uint32_t kPbmSetRange = 0x0401;  // lParam: low word minimum, high word maximum
constexpr uint32_t kPbmSetPos = 0x0402;    // wParam: new position
constexpr uint32_t kPbmSetStep = 0x0404;   // wParam: step size
constexpr uint32_t kPbmStepIt = 0x0405;    // advance by the step

constexpr uint32_t kStillActive = 259;     // exit code of a thread that still runs
constexpr uint32_t kMainTimerId = 1;

// SetDlgItemTextA.
void ui_set_item_text(WindowHandle window, int controlId, const char* text);
// GetDlgItemTextA: copies at most capacity-1 characters and a NUL; returns the length.
uint32_t ui_get_item_text(WindowHandle window, int controlId, char* buffer, uint32_t capacity);
// EnableWindow(GetDlgItem(window, controlId), enable).
void ui_enable_item(WindowHandle window, int controlId, int enable);
// SendMessageA(GetDlgItem(window, controlId), message, wParam, lParam).
intptr_t ui_send_item_message(WindowHandle window, int controlId, uint32_t message,
                              uintptr_t wParam, intptr_t lParam);

void ui_set_timer(WindowHandle window, uint32_t timerId, uint32_t periodMs);  // SetTimer
void ui_kill_timer(WindowHandle window, uint32_t timerId);                    // KillTimer
void ui_show_window(WindowHandle window, int show);  // ShowWindow: 0 hides
void ui_destroy_window(WindowHandle window);         // DestroyWindow: runs the destroy handling
void ui_post_quit(int exitCode);                     // PostQuitMessage
void ui_message_box(const char* text, const char* caption);  // MessageBoxA, OK only, no owner

// _beginthreadex / GetExitCodeThread / CloseHandle. The start returns null on failure.
ThreadHandle ui_thread_start(unsigned (*procedure)(void*), void* argument);
uint32_t ui_thread_exit_code(ThreadHandle thread);  // kStillActive while it runs
void ui_thread_close(ThreadHandle thread);

// Keeps the machine from sleeping while an update runs (1) and lets it sleep again (0).
void ui_keep_awake(int on);
