// The Windows front end: the main dialog's window procedure and the run of the whole program
// from start-up to the exit code.
#pragma once

#include <windows.h>

#include "app/long_options.h"

// Window procedure of the class "ZFLASHUSB".
LRESULT CALLBACK win32_main_window_proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Start-up, message loop and exit code: the body of WinMain. `commandLine` is the
// argument part of the command line, as WinMain receives it. --help, --version and a wrong
// long option are answered in a message box before anything else happens.
int win32_run_main_dialog(HINSTANCE instance, const char* commandLine, int showCommand,
                          const Edition& edition);
