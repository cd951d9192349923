// view.h over the real main dialog. Changes made from the update worker go through
// SendMessageA (SetDlgItemTextA and EnableWindow send too), which Windows carries out on the
// thread that owns the dialog while the calling thread waits: the synchronous change the
// seam promises. The progress bar is the common control (msctls_progress32) driven by its
// PBM_* messages.
#include <windows.h>
#include <commctrl.h>

#include <cstring>

#include "front/win32/resource.h"
#include "front/win32/main_dialog.h"
#include "platform/view.h"
#include "sensor/update_result.h"
#include "update/firmware_catalogue.h"  // kUnknownVersion

namespace {

const int kTextControls[] = {IDC_CURRENT_VERSION, IDC_NEW_VERSION, IDC_STATUS, IDC_NOTICE};

// The dialog's status texts carry the blanks that have always followed them in its
// fixed-width line; the program's own texts have none.
struct PaddedText {
    StatusText text;
    const char* shown;
};
const PaddedText kPaddedStatus[] = {
    {StatusText::Connecting, "Connecting ....               "},
    {StatusText::Erasing, "Erasing....               "},
    {StatusText::Programming, "Program....              "},
    {StatusText::Verifying, "Verify....          "},
};
// The version field rewritten over its old text (after an update) pads the unknown version.
const char kUnknownVersionOverText[] = "????       ";

const char* ShownText(View* view, ViewText field, const char* text) {
    if (field == ViewText::Status) {
        for (const PaddedText& padded : kPaddedStatus) {
            if (std::strcmp(text, StatusTextFor(padded.text)) == 0) return padded.shown;
        }
    }
    if (field == ViewText::CurrentVersion && std::strcmp(text, kUnknownVersion) == 0 &&
        GetWindowTextLengthA(GetDlgItem(view->dialog, IDC_CURRENT_VERSION)) > 0) {
        return kUnknownVersionOverText;
    }
    return text;
}

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
    SetDlgItemTextA(view->dialog, kTextControls[static_cast<int>(field)],
                    ShownText(view, field, text));
}

void view_enable_button(View* view, ViewButton button, bool enabled) {
    const int id = button == ViewButton::Update ? IDC_UPDATE : IDC_EXIT;
    EnableWindow(GetDlgItem(view->dialog, id), enabled ? TRUE : FALSE);
}

// A restart, or a new total, sets the range (a new bar stands at 0 already: the window's
// set-up sends no position); one more than the bar shows is the control's step; anything
// else a position. The sequence's restart sends the range and the position, as the dialog
// always has at that point.
void view_show_progress(View* view, uint32_t done, uint32_t total, bool restart) {
    if (restart) {
        SetRange(view, total);
        SetPosition(view, done);
        return;
    }
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

void view_enable_progress(View* view, bool enabled) {
    EnableWindow(GetDlgItem(view->dialog, IDC_PROGRESS), enabled ? TRUE : FALSE);
}

void view_show_window(View* view, bool show) { ShowWindow(view->dialog, show ? SW_SHOW : SW_HIDE); }

// The dialog's own words for a thread that could not be made, in its box.
void view_show_error(View*, ViewError error) {
    switch (error) {
    case ViewError::UpdateNotStarted:
        MessageBoxA(nullptr, "_beginthreadex ERROR", "ZORFLASH", MB_OK);
        break;
    }
}

// Posted, never sent: a worker never waits on a loop, which may have ended already (then
// the message finds no window and is dropped with the run).
void view_run_on_loop(View* view, void (*work)(void*), void* argument) {
    if (view == nullptr || view->dialog == nullptr) return;
    PostMessageA(view->dialog, kWin32MsgRunOnLoop, reinterpret_cast<WPARAM>(work),
                 reinterpret_cast<LPARAM>(argument));
}

// The dialog shows the run in its own texts, byte for byte: the state adds nothing to them.
void view_show_state(View*, const RunState&) {}
