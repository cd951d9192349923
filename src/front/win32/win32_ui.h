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

// Posted to the main dialog by view_run_on_loop: wParam is the work, lParam its argument.
constexpr UINT kWin32MsgRunOnLoop = WM_APP + 2;
