// What the Windows view and the Windows front end share.
#pragma once

#include <windows.h>

#include <cstdint>

// The main dialog as the view knows it; the front end owns one and sets `dialog` when the
// window is created. The bar's range and position as last sent, to send each change as the
// dialog has always sent it.
struct View {
    HWND dialog;
    uint32_t range;     // 0: not set yet
    uint32_t position;
};

// Posted to the main dialog when a worker starts (wParam 1) and ends (wParam 0), so that
// the shutdown-block reason is set and removed on the dialog's own thread.
constexpr UINT kWin32MsgShutdownBlock = WM_APP + 1;
