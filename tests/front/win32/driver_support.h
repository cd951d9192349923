// Driving a program's main dialog from another process, as a person or a test robot
// would: start it, find its "ZFLASHUSB" window, read control texts and states, press
// buttons, and wait for its exit code. Also: run a program under our own debugger to
// catch what it writes with OutputDebugStringA.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

struct DrivenProgram {
    HANDLE process = nullptr;
    DWORD processId = 0;
};

// Starts `program` with the argument text `arguments` (may be empty). Fails the test
// when the start fails.
DrivenProgram StartProgram(const std::string& program, const std::string& arguments);
// Waits for the end; returns the exit code, or -1 when it did not end within the time.
int WaitForExit(DrivenProgram* program, DWORD timeoutMs);
// Ends a program that a failed test left running, and closes the handle.
void EndProgram(DrivenProgram* program);

// The visible top-level window of class "ZFLASHUSB" that belongs to the program, or null.
HWND FindMainDialog(const DrivenProgram& program);
// Any top-level window of the program with this caption, visible or not, or null.
HWND FindWindowOfProgram(const DrivenProgram& program, const char* caption);

// Polls `condition` every 20 ms; true once it holds, false after `timeoutMs`.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs);

// Text of a control (WM_GETTEXT, with a time-out so that a busy dialog cannot hang us);
// "<no answer>" when the dialog did not answer in time.
std::string ControlText(HWND dialog, int controlId);
bool ControlEnabled(HWND dialog, int controlId);
bool ControlVisible(HWND dialog, int controlId);
// Progress bar position (PBM_GETPOS), -1 when there was no answer.
int ProgressPosition(HWND dialog);
// Presses a button as a click would (BM_CLICK), without waiting for the handling.
void ClickButton(HWND dialog, int controlId);

// Runs `commandLine` to its end under a debugger of ours. Every OutputDebugStringA text
// is collected, in order. Returns the exit code, or -1 on a time-out.
int RunUnderDebugger(const std::string& commandLine, DWORD timeoutMs,
                     std::vector<std::string>* debugOutput);

// The value of an environment variable, "" when unset.
std::string Environment(const char* name);
// A Unix path as Wine sees it (drive Z: is the root of the Unix file system).
std::string WindowsPath(const std::string& unixPath);
