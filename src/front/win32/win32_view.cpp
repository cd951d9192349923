// view.h over the real main dialog. Changes made from the update worker go through
// SendMessageA (SetDlgItemTextA and EnableWindow send too), which Windows carries out on the
// thread that owns the dialog while the calling thread waits: the synchronous change the
// seam promises. The progress bar is the common control (msctls_progress32) driven by its
// PBM_* messages.
#include <windows.h>
#include <commctrl.h>

#include "front/win32/resource.h"
#include "front/win32/win32_ui.h"
#include "platform/view.h"

namespace {

const int kTextControls[] = {IDC_CURRENT_VERSION, IDC_NEW_VERSION, IDC_STATUS, IDC_NOTICE};

// The common control's own step is used, set to one unit with every range, so that the
// bar moves exactly as the dialog has always moved it.
void SetRange(View* view, uint32_t total) {
    SendDlgItemMessageA(view->dialog, IDC_PROGRESS, PBM_SETRANGE, 0,
                        MAKELPARAM(0, static_cast<WORD>(total)));
    SendDlgItemMessageA(view->dialog, IDC_PROGRESS, PBM_SETSTEP, 1, 0);
    view->range = total;
    if (view->position > total) view->position = total;
}

void SetPosition(View* view, uint32_t done) {
    SendDlgItemMessageA(view->dialog, IDC_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(done), 0);
    view->position = done;
}

}  // namespace

void view_show_text(View* view, ViewText field, const char* text) {
    SetDlgItemTextA(view->dialog, kTextControls[static_cast<int>(field)], text);
}

void view_enable_button(View* view, ViewButton button, bool enabled) {
    const int id = button == ViewButton::Update ? IDC_UPDATE : IDC_EXIT;
    EnableWindow(GetDlgItem(view->dialog, id), enabled ? TRUE : FALSE);
}

// A new total sets the range (a new bar stands at 0 already: the window's set-up sends no
// position); one more than the bar shows is the control's step; anything else a position.
void view_show_progress(View* view, uint32_t done, uint32_t total) {
    if (total != view->range) {
        SetRange(view, total);
        if (done == view->position) return;
    }
    if (done == view->position + 1) {
        SendDlgItemMessageA(view->dialog, IDC_PROGRESS, PBM_STEPIT, 0, 0);
        view->position = done;
    } else {
        SetPosition(view, done);
    }
}

void view_start_progress(View* view, uint32_t total) {
    SetRange(view, total);
    SetPosition(view, 0);
}

void view_enable_progress(View* view, bool enabled) {
    EnableWindow(GetDlgItem(view->dialog, IDC_PROGRESS), enabled ? TRUE : FALSE);
}

void view_show_window(View* view, bool show) { ShowWindow(view->dialog, show ? SW_SHOW : SW_HIDE); }

void view_message_box(View*, const char* text, const char* caption) {
    MessageBoxA(nullptr, text, caption, MB_OK);
}

// The app calls this from the worker thread at the worker's first and last step. The
// execution state belongs to the calling thread (and ends with it at the latest), so it is
// set and cleared right here. The shutdown-block reason belongs to the dialog's thread
// (ShutdownBlockReasonCreate fails on any other), so that part is posted to the dialog;
// posting, not sending, so a worker never waits on a loop that has already ended.
void view_keep_awake(View* view, bool on) {
    if (on) {
        SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
    } else {
        SetThreadExecutionState(ES_CONTINUOUS);
    }
    if (view != nullptr && view->dialog != nullptr) {
        PostMessageA(view->dialog, kWin32MsgShutdownBlock, on ? 1 : 0, 0);
    }
}
