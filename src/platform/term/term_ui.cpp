// ui.h for the terminal front end. The dialog's model belongs to the main thread; a call from
// the update worker is queued, the main loop is woken through a pipe, carries the call out
// and only then lets the worker go on, so every control change is synchronous as
// SendMessageA is, and the main loop keeps dispatching during a whole update.
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "app/main_window.h"
#include "platform/term/term_model.h"

TermModel termModel;

namespace {

enum class CallKind { SetText, GetText, Enable, Message, SetTimer, KillTimer, Show, Destroy,
                      PostQuit, MessageBox };

// One call waiting for the main thread; it lives on the calling thread's stack.
struct QueuedCall {
    CallKind kind;
    WindowHandle window;
    int controlId;
    const char* text;
    const char* caption;  // message box
    char* buffer;
    uint32_t capacity;
    uint32_t message;
    uintptr_t wParam;
    intptr_t lParam;
    intptr_t result;
    bool done;
};

// Each waiting thread has at most one call queued, so a few slots are plenty.
constexpr int kQueueSlots = 8;

std::mutex queueMutex;
std::condition_variable queueDone;
QueuedCall* queue[kQueueSlots];
int queueLength = 0;
std::thread::id mainThreadId;
std::atomic<bool> mainThreadSet{false};
int wakePipe[2] = {-1, -1};
std::atomic<int> liveThreads{0};

void CopyText(char* to, const char* from) {
    std::snprintf(to, kTermTextCapacity, "%s", from);
}

intptr_t ProgressMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    TermProgress& bar = termModel.progress;
    intptr_t previous = bar.position;
    switch (message) {
    case kPbmSetRange:
        previous = static_cast<intptr_t>(bar.minimum) |
                   (static_cast<intptr_t>(bar.maximum) << 16);
        bar.minimum = static_cast<uint16_t>(lParam & 0xFFFF);
        bar.maximum = static_cast<uint16_t>((lParam >> 16) & 0xFFFF);
        break;
    case kPbmSetPos:
        bar.position = static_cast<int32_t>(wParam);
        break;
    case kPbmSetStep:
        previous = bar.step;
        bar.step = static_cast<int32_t>(wParam);
        break;
    case kPbmStepIt:
        // As the common control does: past the maximum the bar starts over from the minimum.
        bar.position += bar.step;
        if (bar.position > bar.maximum) {
            bar.position = bar.minimum + (bar.position - bar.maximum);
        }
        break;
    default:
        return 0;
    }
    if (bar.position < bar.minimum) bar.position = bar.minimum;
    return previous;
}

void SetTimer(uint32_t id, uint32_t periodMs) {
    TermTimer* slot = nullptr;
    for (TermTimer& timer : termModel.timers) {
        if (timer.id == id) slot = &timer;
    }
    for (TermTimer& timer : termModel.timers) {
        if (slot == nullptr && timer.id == 0) slot = &timer;
    }
    if (slot != nullptr) {
        *slot = TermTimer{id, periodMs, TermNowMs() + periodMs};
    }
}

void Execute(QueuedCall* call) {
    TermControl* control = TermControlFor(call->controlId);
    switch (call->kind) {
    case CallKind::SetText:
        if (control != nullptr && std::strncmp(control->text, call->text, kTermTextCapacity) != 0) {
            CopyText(control->text, call->text);
            TermRenderChanged(call->controlId);
        }
        break;
    case CallKind::GetText:
        call->result = 0;
        if (call->capacity > 0) {
            std::snprintf(call->buffer, call->capacity, "%s", control ? control->text : "");
            call->result = static_cast<intptr_t>(std::strlen(call->buffer));
        }
        break;
    case CallKind::Enable:
        if (control != nullptr && control->enabled != (call->wParam != 0)) {
            control->enabled = call->wParam != 0;
            TermRenderChanged(call->controlId);
        }
        break;
    case CallKind::Message:
        call->result = 0;
        if (call->controlId == kIdProgress) {
            call->result = ProgressMessage(call->message, call->wParam, call->lParam);
            TermRenderChanged(kIdProgress);
        }
        break;
    case CallKind::SetTimer:
        SetTimer(static_cast<uint32_t>(call->controlId), call->message);
        break;
    case CallKind::KillTimer:
        for (TermTimer& timer : termModel.timers) {
            if (timer.id == static_cast<uint32_t>(call->controlId)) timer = TermTimer{0, 0, 0};
        }
        break;
    case CallKind::Show:
        termModel.shown = call->wParam != 0;
        TermRenderChanged(0);
        break;
    case CallKind::Destroy:
        // DestroyWindow sends WM_DESTROY to the window procedure.
        MainWindowOnDestroy(call->window);
        break;
    case CallKind::PostQuit:
        termModel.quitPosted = true;
        termModel.exitCode = static_cast<int>(call->lParam);
        break;
    case CallKind::MessageBox: {
        char line[kTermTextCapacity];
        std::snprintf(line, sizeof line, "%s: %s", call->caption, call->text);
        TermRenderNote(line);
        break;
    }
    }
}

bool OnMainThread() {
    return !mainThreadSet.load() || std::this_thread::get_id() == mainThreadId;
}

// Carries the call out on the main thread and returns when it is done.
intptr_t Perform(QueuedCall call) {
    call.done = false;
    call.result = 0;
    if (OnMainThread()) {
        Execute(&call);
        return call.result;
    }
    std::unique_lock<std::mutex> lock(queueMutex);
    queueDone.wait(lock, [] { return queueLength < kQueueSlots; });
    queue[queueLength++] = &call;
    TermUiWake();
    queueDone.wait(lock, [&call] { return call.done; });
    return call.result;
}

QueuedCall Call(CallKind kind, WindowHandle window, int controlId) {
    QueuedCall call{};
    call.kind = kind;
    call.window = window;
    call.controlId = controlId;
    return call;
}

// A worker thread and its exit code. Closing the handle of a thread that still runs leaves
// the record to the thread, which frees it when it ends.
struct TermThread {
    std::thread thread;
    std::mutex mutex;
    uint32_t exitCode = kStillActive;
    bool closed = false;
};

}  // namespace

TermControl* TermControlFor(int controlId) {
    const int index = controlId - kTermFirstControl;
    if (index < 0 || index >= kTermControlCount) return nullptr;
    return &termModel.controls[index];
}

uint64_t TermNowMs() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch()).count());
}

void TermUiBegin() {
    std::memset(&termModel, 0, sizeof termModel);
    for (TermControl& control : termModel.controls) control.enabled = true;
    termModel.progress = TermProgress{0, 100, 0, 10};
    if (wakePipe[0] < 0 && pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        wakePipe[0] = wakePipe[1] = -1;
    }
    mainThreadId = std::this_thread::get_id();
    mainThreadSet = true;
}

int TermUiWakeFd() { return wakePipe[0]; }

void TermUiWake() {
    if (wakePipe[1] >= 0) {
        const char byte = 1;
        // A full pipe already wakes the loop; nothing is lost by a failed write.
        ssize_t written = write(wakePipe[1], &byte, 1);
        (void)written;
    }
}

void TermUiRunQueuedCalls() {
    char drain[64];
    while (wakePipe[0] >= 0 && read(wakePipe[0], drain, sizeof drain) > 0) {
    }
    std::unique_lock<std::mutex> lock(queueMutex);
    while (queueLength > 0) {
        QueuedCall* call = queue[0];
        std::memmove(queue, queue + 1, sizeof(queue[0]) * static_cast<size_t>(queueLength - 1));
        --queueLength;
        // The caller waits for `done`, so the call stays valid while it runs unlocked.
        lock.unlock();
        Execute(call);
        lock.lock();
        call->done = true;
        queueDone.notify_all();
    }
}

int TermUiLiveThreads() { return liveThreads.load(); }

void TermUiEnd() {
    mainThreadSet = false;
}

// ---- ui.h ------------------------------------------------------------------------------

void ui_set_item_text(WindowHandle window, int controlId, const char* text) {
    QueuedCall call = Call(CallKind::SetText, window, controlId);
    call.text = text;
    Perform(call);
}

uint32_t ui_get_item_text(WindowHandle window, int controlId, char* buffer, uint32_t capacity) {
    QueuedCall call = Call(CallKind::GetText, window, controlId);
    call.buffer = buffer;
    call.capacity = capacity;
    return static_cast<uint32_t>(Perform(call));
}

void ui_enable_item(WindowHandle window, int controlId, int enable) {
    QueuedCall call = Call(CallKind::Enable, window, controlId);
    call.wParam = enable != 0;
    Perform(call);
}

intptr_t ui_send_item_message(WindowHandle window, int controlId, uint32_t message,
                              uintptr_t wParam, intptr_t lParam) {
    QueuedCall call = Call(CallKind::Message, window, controlId);
    call.message = message;
    call.wParam = wParam;
    call.lParam = lParam;
    return Perform(call);
}

void ui_set_timer(WindowHandle window, uint32_t timerId, uint32_t periodMs) {
    QueuedCall call = Call(CallKind::SetTimer, window, static_cast<int>(timerId));
    call.message = periodMs;
    Perform(call);
}

void ui_kill_timer(WindowHandle window, uint32_t timerId) {
    Perform(Call(CallKind::KillTimer, window, static_cast<int>(timerId)));
}

void ui_show_window(WindowHandle window, int show) {
    QueuedCall call = Call(CallKind::Show, window, 0);
    call.wParam = show != 0;
    Perform(call);
}

void ui_destroy_window(WindowHandle window) {
    Perform(Call(CallKind::Destroy, window, 0));
}

void ui_post_quit(int exitCode) {
    QueuedCall call = Call(CallKind::PostQuit, nullptr, 0);
    call.lParam = exitCode;
    Perform(call);
}

void ui_message_box(const char* text, const char* caption) {
    QueuedCall call = Call(CallKind::MessageBox, nullptr, 0);
    call.text = text;
    call.caption = caption;
    Perform(call);
}

ThreadHandle ui_thread_start(unsigned (*procedure)(void*), void* argument) {
    TermThread* record = new TermThread;
    liveThreads.fetch_add(1);
    try {
        record->thread = std::thread([record, procedure, argument] {
            const unsigned result = procedure(argument);
            bool orphaned = false;
            {
                std::lock_guard<std::mutex> lock(record->mutex);
                record->exitCode = result;
                orphaned = record->closed;
            }
            if (orphaned) delete record;
            liveThreads.fetch_sub(1);
            // The main loop may be waiting for this end (a deferred close or Exit).
            TermUiWake();
        });
    } catch (const std::system_error&) {
        liveThreads.fetch_sub(1);
        delete record;
        return nullptr;
    }
    return record;
}

uint32_t ui_thread_exit_code(ThreadHandle thread) {
    TermThread* record = static_cast<TermThread*>(thread);
    std::lock_guard<std::mutex> lock(record->mutex);
    return record->exitCode;
}

void ui_thread_close(ThreadHandle thread) {
    TermThread* record = static_cast<TermThread*>(thread);
    {
        std::lock_guard<std::mutex> lock(record->mutex);
        if (record->exitCode == kStillActive) {
            // Not stopped, as closing a handle does not stop a thread; it frees itself.
            record->closed = true;
            record->thread.detach();
            return;
        }
    }
    // The thread has set its result and is about to return: joining costs nothing.
    record->thread.join();
    delete record;
}
