// plat_thread_* over _beginthreadex and the thread's exit code.
#include <windows.h>
#include <process.h>

#include "platform/system.h"

namespace {

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

PlatThread* plat_thread_start(unsigned (*procedure)(void*), void* argument) {
    auto* start = static_cast<ThreadStart*>(HeapAlloc(GetProcessHeap(), 0, sizeof(ThreadStart)));
    if (start == nullptr) return nullptr;
    start->procedure = procedure;
    start->argument = argument;
    const uintptr_t thread = _beginthreadex(nullptr, 0, ThreadTrampoline, start, 0, nullptr);
    if (thread == 0) {
        HeapFree(GetProcessHeap(), 0, start);
        return nullptr;
    }
    return reinterpret_cast<PlatThread*>(thread);
}

// A thread that runs reports STILL_ACTIVE as its exit code; the workers return 0 or 2, so
// the two cannot be confused. A handle that cannot be asked counts as ended with 0.
bool plat_thread_ended(PlatThread* thread, uint32_t* result) {
    DWORD code = 0;
    if (!GetExitCodeThread(reinterpret_cast<HANDLE>(thread), &code)) code = 0;
    if (code == STILL_ACTIVE) return false;
    if (result != nullptr) *result = code;
    return true;
}

void plat_thread_close(PlatThread* thread) { CloseHandle(reinterpret_cast<HANDLE>(thread)); }
