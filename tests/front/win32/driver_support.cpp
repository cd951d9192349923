#include "driver_support.h"

#include <commctrl.h>
#include <gtest/gtest.h>

namespace {

constexpr DWORD kMessageTimeoutMs = 5000;
constexpr DWORD kPollMs = 20;

struct WindowSearch {
    DWORD processId;
    const char* className;  // null: any class
    const char* caption;    // null: any caption
    bool visibleOnly;
    HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<WindowSearch*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId) return TRUE;
    if (search->visibleOnly && !IsWindowVisible(window)) return TRUE;
    char text[256];
    if (search->className != nullptr) {
        if (!GetClassNameA(window, text, sizeof text) || strcmp(text, search->className) != 0) {
            return TRUE;
        }
    }
    if (search->caption != nullptr) {
        if (GetWindowTextA(window, text, sizeof text) < 0 || strcmp(text, search->caption) != 0) {
            return TRUE;
        }
    }
    search->found = window;
    return FALSE;
}

}  // namespace

DrivenProgram StartProgram(const std::string& program, const std::string& arguments) {
    std::string commandLine = "\"" + program + "\"";
    if (!arguments.empty()) commandLine += " " + arguments;
    std::vector<char> text(commandLine.begin(), commandLine.end());
    text.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    DrivenProgram started;
    if (!CreateProcessA(nullptr, text.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info)) {
        ADD_FAILURE() << "cannot start " << commandLine << ": error " << GetLastError();
        return started;
    }
    CloseHandle(info.hThread);
    started.process = info.hProcess;
    started.processId = info.dwProcessId;
    return started;
}

int WaitForExit(DrivenProgram* program, DWORD timeoutMs) {
    if (program->process == nullptr) return -1;
    if (WaitForSingleObject(program->process, timeoutMs) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(program->process, &code);
    CloseHandle(program->process);
    program->process = nullptr;
    return static_cast<int>(code);
}

void EndProgram(DrivenProgram* program) {
    if (program->process == nullptr) return;
    TerminateProcess(program->process, 99);
    WaitForSingleObject(program->process, 5000);
    CloseHandle(program->process);
    program->process = nullptr;
}

HWND FindMainDialog(const DrivenProgram& program) {
    WindowSearch search = {program.processId, "ZFLASHUSB", nullptr, true, nullptr};
    EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND FindWindowOfProgram(const DrivenProgram& program, const char* caption) {
    WindowSearch search = {program.processId, nullptr, caption, false, nullptr};
    EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (condition()) return true;
        if (GetTickCount() - start >= timeoutMs) return false;
        Sleep(kPollMs);
    }
}

std::string ControlText(HWND dialog, int controlId) {
    HWND control = GetDlgItem(dialog, controlId);
    if (control == nullptr) return "<no control>";
    char text[1024];
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(control, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                             SMTO_ABORTIFHUNG, kMessageTimeoutMs, &length)) {
        return "<no answer>";
    }
    return std::string(text, length);
}

bool ControlEnabled(HWND dialog, int controlId) {
    return IsWindowEnabled(GetDlgItem(dialog, controlId)) != FALSE;
}

bool ControlVisible(HWND dialog, int controlId) {
    return (GetWindowLongA(GetDlgItem(dialog, controlId), GWL_STYLE) & WS_VISIBLE) != 0;
}

int ProgressPosition(HWND dialog) {
    DWORD_PTR position = 0;
    if (!SendMessageTimeoutA(GetDlgItem(dialog, 1003), PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG,
                             kMessageTimeoutMs, &position)) {
        return -1;
    }
    return static_cast<int>(position);
}

void ClickButton(HWND dialog, int controlId) {
    PostMessageA(GetDlgItem(dialog, controlId), BM_CLICK, 0, 0);
}

int RunUnderDebugger(const std::string& commandLine, DWORD timeoutMs,
                     std::vector<std::string>* debugOutput) {
    std::vector<char> text(commandLine.begin(), commandLine.end());
    text.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessA(nullptr, text.data(), nullptr, nullptr, FALSE, DEBUG_ONLY_THIS_PROCESS,
                        nullptr, nullptr, &startup, &info)) {
        ADD_FAILURE() << "cannot start " << commandLine << " under the debugger: error "
                      << GetLastError();
        return -1;
    }
    int exitCode = -1;
    const DWORD start = GetTickCount();
    bool running = true;
    while (running) {
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeoutMs) {
            TerminateProcess(info.hProcess, 99);
            break;
        }
        DEBUG_EVENT event;
        if (!WaitForDebugEvent(&event, timeoutMs - elapsed)) continue;
        DWORD continueStatus = DBG_CONTINUE;
        switch (event.dwDebugEventCode) {
        case OUTPUT_DEBUG_STRING_EVENT: {
            const OUTPUT_DEBUG_STRING_INFO& output = event.u.DebugString;
            std::string line(output.nDebugStringLength, '\0');
            SIZE_T read = 0;
            ReadProcessMemory(info.hProcess, output.lpDebugStringData, &line[0],
                              output.nDebugStringLength, &read);
            line.resize(read);
            // The length counts the terminating NUL.
            while (!line.empty() && line.back() == '\0') line.pop_back();
            debugOutput->push_back(line);
            break;
        }
        case CREATE_PROCESS_DEBUG_EVENT:
            if (event.u.CreateProcessInfo.hFile) CloseHandle(event.u.CreateProcessInfo.hFile);
            break;
        case LOAD_DLL_DEBUG_EVENT:
            if (event.u.LoadDll.hFile) CloseHandle(event.u.LoadDll.hFile);
            break;
        case EXCEPTION_DEBUG_EVENT:
            // Only the loader's initial breakpoint is ours to swallow.
            if (event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT) {
                continueStatus = DBG_EXCEPTION_NOT_HANDLED;
            }
            break;
        case EXIT_PROCESS_DEBUG_EVENT:
            exitCode = static_cast<int>(event.u.ExitProcess.dwExitCode);
            running = false;
            break;
        default:
            break;
        }
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, continueStatus);
    }
    WaitForSingleObject(info.hProcess, 5000);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return exitCode;
}

std::string Environment(const char* name) {
    char value[2048];
    const DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    if (length == 0 || length >= sizeof value) return std::string();
    return std::string(value, length);
}

std::string WindowsPath(const std::string& unixPath) {
    std::string path = "Z:" + unixPath;
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}
