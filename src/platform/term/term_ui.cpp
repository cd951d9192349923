// ui.h for the terminal front end. The dialog's model belongs to the main thread: a change
// asked for by another thread (the update worker) is handed to the main loop through a
// queue, the loop is woken through a pipe, carries it out and only then lets the caller go
// on. So every control change is synchronous, as the seam promises, and the main loop keeps
// dispatching keys, signals and timers during a whole update.
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/term/term_model.h"

TermModel termModel;

namespace {

// A change waiting for the main thread; it lives on the calling thread's stack.
struct MainThreadCall {
    void (*run)(void* change);
    void* change;
    bool done;
};

// Each waiting thread has at most one call queued, so a few slots are plenty.
constexpr int kQueueSlots = 8;

std::mutex queueMutex;
std::condition_variable queueDone;
MainThreadCall* queue[kQueueSlots];
int queueLength = 0;
std::thread::id mainThreadId;
std::atomic<bool> mainThreadSet{false};
int wakePipe[2] = {-1, -1};
std::atomic<int> liveThreads{0};
void (*destroyHandler)(void* context) = nullptr;
void* destroyContext = nullptr;

bool OnMainThread() {
    return !mainThreadSet.load() || std::this_thread::get_id() == mainThreadId;
}

// Carries `change()` out on the main thread and returns when it is done.
template <typename Change>
void RunOnMainThread(Change change) {
    void (*run)(void*) = [](void* pointer) { (*static_cast<Change*>(pointer))(); };
    if (OnMainThread()) {
        run(&change);
        return;
    }
    MainThreadCall call{run, &change, false};
    std::unique_lock<std::mutex> lock(queueMutex);
    queueDone.wait(lock, [] { return queueLength < kQueueSlots; });
    queue[queueLength++] = &call;
    TermUiWake();
    queueDone.wait(lock, [&call] { return call.done; });
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

void ChangeProgress(uint16_t maximum, uint16_t position) {
    TermProgress& bar = termModel.progress;
    bar.maximum = maximum;
    bar.position = position < maximum ? position : maximum;
    TermRenderChanged(kIdProgress);
}

// A worker thread and its end. Closing the handle of a thread that still runs leaves the
// record to the thread, which frees it when it ends.
struct TermThread {
    std::thread thread;
    std::mutex mutex;
    bool ended = false;
    uint32_t result = 0;
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

void TermUiBegin(void (*onDestroy)(void* context), void* context) {
    std::memset(&termModel, 0, sizeof termModel);
    for (TermControl& control : termModel.controls) control.enabled = true;
    termModel.progress = TermProgress{100, 0};
    if (wakePipe[0] < 0 && pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        wakePipe[0] = wakePipe[1] = -1;
    }
    destroyHandler = onDestroy;
    destroyContext = context;
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
        MainThreadCall* call = queue[0];
        std::memmove(queue, queue + 1, sizeof(queue[0]) * static_cast<size_t>(queueLength - 1));
        --queueLength;
        // The caller waits for `done`, so the call stays valid while it runs unlocked.
        lock.unlock();
        call->run(call->change);
        lock.lock();
        call->done = true;
        queueDone.notify_all();
    }
}

int TermUiLiveThreads() { return liveThreads.load(); }

void TermUiEnd() {
    mainThreadSet = false;
    destroyHandler = nullptr;
    destroyContext = nullptr;
}

// ---- ui.h ------------------------------------------------------------------------------

void ui_set_item_text(WindowHandle, int controlId, const char* text) {
    RunOnMainThread([controlId, text] {
        TermControl* control = TermControlFor(controlId);
        if (control != nullptr && std::strncmp(control->text, text, kTermTextCapacity) != 0) {
            std::snprintf(control->text, kTermTextCapacity, "%s", text);
            TermRenderChanged(controlId);
        }
    });
}

uint32_t ui_get_item_text(WindowHandle, int controlId, char* buffer, uint32_t capacity) {
    uint32_t length = 0;
    RunOnMainThread([controlId, buffer, capacity, &length] {
        if (capacity == 0) return;
        const TermControl* control = TermControlFor(controlId);
        std::snprintf(buffer, capacity, "%s", control ? control->text : "");
        length = static_cast<uint32_t>(std::strlen(buffer));
    });
    return length;
}

void ui_enable_item(WindowHandle, int controlId, bool enable) {
    RunOnMainThread([controlId, enable] {
        TermControl* control = TermControlFor(controlId);
        if (control != nullptr && control->enabled != enable) {
            control->enabled = enable;
            TermRenderChanged(controlId);
        }
    });
}

void ui_set_progress_range(WindowHandle, uint16_t maximum) {
    RunOnMainThread([maximum] { ChangeProgress(maximum, termModel.progress.position); });
}

void ui_set_progress_position(WindowHandle, uint16_t position) {
    RunOnMainThread([position] { ChangeProgress(termModel.progress.maximum, position); });
}

void ui_step_progress(WindowHandle) {
    RunOnMainThread([] {
        const TermProgress bar = termModel.progress;
        ChangeProgress(bar.maximum, static_cast<uint16_t>(bar.position + 1));
    });
}

void ui_set_timer(WindowHandle, uint32_t timerId, uint32_t periodMs) {
    RunOnMainThread([timerId, periodMs] { SetTimer(timerId, periodMs); });
}

void ui_kill_timer(WindowHandle, uint32_t timerId) {
    RunOnMainThread([timerId] {
        for (TermTimer& timer : termModel.timers) {
            if (timer.id == timerId) timer = TermTimer{0, 0, 0};
        }
    });
}

void ui_show_window(WindowHandle, bool show) {
    RunOnMainThread([show] {
        termModel.shown = show;
        TermRenderChanged(0);
    });
}

void ui_destroy_window(WindowHandle) {
    // As DestroyWindow sends WM_DESTROY: the front end's destroy handling runs before this
    // returns.
    RunOnMainThread([] {
        if (destroyHandler != nullptr) destroyHandler(destroyContext);
    });
}

void ui_post_quit(int exitCode) {
    RunOnMainThread([exitCode] {
        termModel.quitPosted = true;
        termModel.exitCode = exitCode;
    });
}

void ui_message_box(const char* text, const char* caption) {
    RunOnMainThread([text, caption] {
        char line[kTermTextCapacity];
        std::snprintf(line, sizeof line, "%s: %s", caption, text);
        TermRenderNote(line);
    });
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
                record->ended = true;
                record->result = result;
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

bool ui_thread_ended(ThreadHandle thread, uint32_t* result) {
    TermThread* record = static_cast<TermThread*>(thread);
    std::lock_guard<std::mutex> lock(record->mutex);
    if (record->ended && result != nullptr) *result = record->result;
    return record->ended;
}

void ui_thread_close(ThreadHandle thread) {
    TermThread* record = static_cast<TermThread*>(thread);
    {
        std::lock_guard<std::mutex> lock(record->mutex);
        if (!record->ended) {
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
