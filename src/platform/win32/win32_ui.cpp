// The dialog, timer and thread services of ui.h over the real Windows calls. Control
// changes made from the update worker go through SendMessageA (SetDlgItemTextA and
// EnableWindow send too), which Windows carries out on the thread that owns the dialog
// while the calling thread waits: the synchronous change the seam promises. The progress
// bar is the common control (msctls_progress32) driven by its PBM_* messages.
#include <windows.h>
#include <commctrl.h>
#include <process.h>

#include "platform/ui.h"
#include "platform/win32/win32_ui.h"

namespace {

HWND Window(WindowHandle window) { return static_cast<HWND>(window); }

// _beginthreadex wants a __stdcall procedure; the seam's is a plain one. The pair lives
// on the process heap from the start until the new thread has read it.
struct ThreadStart {
    unsigned (*procedure)(void*);
    void* argument;
};

unsigned __stdcall ThreadTrampoline(void* parameter) {
    ThreadStart start = *static_cast<ThreadStart*>(parameter);
    HeapFree(GetProcessHeap(), 0, parameter);
    return start.procedure(start.argument);
}

}  // namespace

void ui_set_item_text(WindowHandle window, int controlId, const char* text) {
    SetDlgItemTextA(Window(window), controlId, text);
}

uint32_t ui_get_item_text(WindowHandle window, int controlId, char* buffer, uint32_t capacity) {
    if (capacity == 0) return 0;
    buffer[0] = '\0';
    return GetDlgItemTextA(Window(window), controlId, buffer, static_cast<int>(capacity));
}

void ui_enable_item(WindowHandle window, int controlId, bool enable) {
    EnableWindow(GetDlgItem(Window(window), controlId), enable ? TRUE : FALSE);
}

// The common control's own step is used, set to one unit with every range, so that the
// bar moves exactly as the dialog has always moved it.
void ui_set_progress_range(WindowHandle window, uint16_t maximum) {
    SendDlgItemMessageA(Window(window), kIdProgress, PBM_SETRANGE, 0, MAKELPARAM(0, maximum));
    SendDlgItemMessageA(Window(window), kIdProgress, PBM_SETSTEP, 1, 0);
}

void ui_set_progress_position(WindowHandle window, uint16_t position) {
    SendDlgItemMessageA(Window(window), kIdProgress, PBM_SETPOS, position, 0);
}

void ui_step_progress(WindowHandle window) {
    SendDlgItemMessageA(Window(window), kIdProgress, PBM_STEPIT, 0, 0);
}

void ui_set_timer(WindowHandle window, uint32_t timerId, uint32_t periodMs) {
    SetTimer(Window(window), timerId, periodMs, nullptr);
}

void ui_kill_timer(WindowHandle window, uint32_t timerId) { KillTimer(Window(window), timerId); }

void ui_show_window(WindowHandle window, bool show) {
    ShowWindow(Window(window), show ? SW_SHOW : SW_HIDE);
}

void ui_destroy_window(WindowHandle window) { DestroyWindow(Window(window)); }

void ui_post_quit(int exitCode) { PostQuitMessage(exitCode); }

void ui_message_box(const char* text, const char* caption) {
    MessageBoxA(nullptr, text, caption, MB_OK);
}

ThreadHandle ui_thread_start(unsigned (*procedure)(void*), void* argument) {
    auto* start = static_cast<ThreadStart*>(HeapAlloc(GetProcessHeap(), 0, sizeof(ThreadStart)));
    if (start == nullptr) return nullptr;
    start->procedure = procedure;
    start->argument = argument;
    const uintptr_t thread = _beginthreadex(nullptr, 0, ThreadTrampoline, start, 0, nullptr);
    if (thread == 0) {
        HeapFree(GetProcessHeap(), 0, start);
        return nullptr;
    }
    return reinterpret_cast<ThreadHandle>(thread);
}

// A thread that runs reports STILL_ACTIVE as its exit code; the workers return 0 or 2, so
// the two cannot be confused. A handle that cannot be asked counts as ended with 0.
bool ui_thread_ended(ThreadHandle thread, uint32_t* result) {
    DWORD code = 0;
    if (!GetExitCodeThread(static_cast<HANDLE>(thread), &code)) code = 0;
    if (code == STILL_ACTIVE) return false;
    if (result != nullptr) *result = code;
    return true;
}

void ui_thread_close(ThreadHandle thread) { CloseHandle(static_cast<HANDLE>(thread)); }

// The app calls this from the worker thread at the worker's first and last step. The
// execution state belongs to the calling thread (and ends with it at the latest), so it is
// set and cleared right here. The shutdown-block reason belongs to the dialog's thread
// (ShutdownBlockReasonCreate fails on any other), so that part is posted to the dialog;
// posting, not sending, so a worker never waits on a loop that has already ended.
void ui_keep_awake(WindowHandle window, bool on) {
    if (on) {
        SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
    } else {
        SetThreadExecutionState(ES_CONTINUOUS);
    }
    if (HWND dialog = Window(window)) {
        PostMessageA(dialog, kWin32MsgShutdownBlock, on ? 1 : 0, 0);
    }
}
