// The Windows front end: the main dialog as the view knows it, and the run of the whole
// program from start-up to the exit code.
#pragma once

#include <windows.h>

#include <cstdint>

#include "app/long_options.h"

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

// The body of WinMain: `commandLine` is the argument part of the command line, as WinMain
// receives it. Returns the exit code.
int win32_run_main_dialog(HINSTANCE instance, const char* commandLine, int showCommand,
                          const Edition& edition);
