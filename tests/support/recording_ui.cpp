#include "recording_ui.h"

#include <atomic>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace {

struct RecordedThread {
    std::thread thread;
    std::atomic<bool> ended{false};
    uint32_t result = 0;  // written before `ended`
    bool closed = false;
};

struct RecordingState {
    std::mutex mutex;
    std::vector<UiCall> calls;
    std::map<int, ControlState> controls;
    std::map<uint32_t, bool> timers;
    int quitCode = -1;
    bool shown = false;
    bool keepAwake = false;
    bool failThreadStart = false;
    void (*destroyHandler)(void*) = nullptr;
    void* destroyContext = nullptr;
    std::vector<std::unique_ptr<RecordedThread>> threads;
    int threadsClosed = 0;
};

RecordingState& State() {
    static RecordingState state;
    return state;
}

void Record(const UiCall& call) { State().calls.push_back(call); }

}  // namespace

void recording_ui_reset() {
    recording_ui_join_threads();
    RecordingState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.calls.clear();
    s.controls.clear();
    s.timers.clear();
    s.quitCode = -1;
    s.shown = false;
    s.keepAwake = false;
    s.failThreadStart = false;
    s.destroyHandler = nullptr;
    s.destroyContext = nullptr;
    s.threads.clear();
    s.threadsClosed = 0;
}

std::vector<UiCall> recording_ui_calls() {
    std::lock_guard<std::mutex> lock(State().mutex);
    return State().calls;
}

ControlState recording_ui_control(int controlId) {
    std::lock_guard<std::mutex> lock(State().mutex);
    return State().controls[controlId];
}

int recording_ui_quit_code() {
    std::lock_guard<std::mutex> lock(State().mutex);
    return State().quitCode;
}

bool recording_ui_timer_running(uint32_t timerId) {
    std::lock_guard<std::mutex> lock(State().mutex);
    return State().timers[timerId];
}

bool recording_ui_window_shown() {
    std::lock_guard<std::mutex> lock(State().mutex);
    return State().shown;
}

bool recording_ui_keep_awake() {
    std::lock_guard<std::mutex> lock(State().mutex);
    return State().keepAwake;
}

std::vector<std::string> recording_ui_texts(int controlId) {
    std::lock_guard<std::mutex> lock(State().mutex);
    std::vector<std::string> texts;
    for (const UiCall& call : State().calls) {
        if (call.kind == UiCallKind::SetText && call.controlId == controlId) texts.push_back(call.text);
    }
    return texts;
}

void recording_ui_set_destroy_handler(void (*handler)(void*), void* context) {
    std::lock_guard<std::mutex> lock(State().mutex);
    State().destroyHandler = handler;
    State().destroyContext = context;
}

void recording_ui_fail_thread_start(bool fail) {
    std::lock_guard<std::mutex> lock(State().mutex);
    State().failThreadStart = fail;
}

void recording_ui_join_threads() {
    std::vector<RecordedThread*> running;
    {
        std::lock_guard<std::mutex> lock(State().mutex);
        for (auto& t : State().threads) running.push_back(t.get());
    }
    for (RecordedThread* t : running) {
        if (t->thread.joinable()) t->thread.join();
    }
}

int recording_ui_threads_started() {
    std::lock_guard<std::mutex> lock(State().mutex);
    return static_cast<int>(State().threads.size());
}

int recording_ui_threads_closed() {
    std::lock_guard<std::mutex> lock(State().mutex);
    return State().threadsClosed;
}

// ---- ui.h ------------------------------------------------------------------------------

void ui_set_item_text(WindowHandle, int controlId, const char* text) {
    std::lock_guard<std::mutex> lock(State().mutex);
    State().controls[controlId].text = text;
    Record({UiCallKind::SetText, controlId, 0, text, 0});
}

uint32_t ui_get_item_text(WindowHandle, int controlId, char* buffer, uint32_t capacity) {
    std::lock_guard<std::mutex> lock(State().mutex);
    if (capacity == 0) return 0;
    const std::string& text = State().controls[controlId].text;
    const size_t n = text.size() < capacity - 1 ? text.size() : capacity - 1;
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return static_cast<uint32_t>(n);
}

void ui_enable_item(WindowHandle, int controlId, bool enable) {
    std::lock_guard<std::mutex> lock(State().mutex);
    State().controls[controlId].enabled = enable;
    Record({UiCallKind::Enable, controlId, 0, {}, enable});
}

void ui_set_progress_range(WindowHandle, uint16_t maximum) {
    std::lock_guard<std::mutex> lock(State().mutex);
    ControlState& bar = State().controls[kIdProgress];
    bar.rangeMax = maximum;
    if (bar.pos > maximum) bar.pos = maximum;
    Record({UiCallKind::ProgressRange, kIdProgress, maximum, {}, 0});
}

void ui_set_progress_position(WindowHandle, uint16_t position) {
    std::lock_guard<std::mutex> lock(State().mutex);
    ControlState& bar = State().controls[kIdProgress];
    bar.pos = position < bar.rangeMax ? position : bar.rangeMax;
    Record({UiCallKind::ProgressPosition, kIdProgress, position, {}, 0});
}

void ui_step_progress(WindowHandle) {
    std::lock_guard<std::mutex> lock(State().mutex);
    ControlState& bar = State().controls[kIdProgress];
    if (bar.pos < bar.rangeMax) bar.pos++;
    bar.steps++;
    Record({UiCallKind::ProgressStep, kIdProgress, 0, {}, 0});
}

void ui_set_timer(WindowHandle, uint32_t timerId, uint32_t periodMs) {
    std::lock_guard<std::mutex> lock(State().mutex);
    State().timers[timerId] = true;
    Record({UiCallKind::SetTimer, static_cast<int>(timerId), periodMs, {}, 0});
}

void ui_kill_timer(WindowHandle, uint32_t timerId) {
    std::lock_guard<std::mutex> lock(State().mutex);
    State().timers[timerId] = false;
    Record({UiCallKind::KillTimer, static_cast<int>(timerId), 0, {}, 0});
}

void ui_show_window(WindowHandle, bool show) {
    std::lock_guard<std::mutex> lock(State().mutex);
    State().shown = show;
    Record({UiCallKind::Show, 0, 0, {}, show});
}

void ui_destroy_window(WindowHandle) {
    void (*handler)(void*) = nullptr;
    void* context = nullptr;
    {
        std::lock_guard<std::mutex> lock(State().mutex);
        Record({UiCallKind::Destroy, 0, 0, {}, 0});
        handler = State().destroyHandler;
        context = State().destroyContext;
    }
    if (handler != nullptr) handler(context);
}

void ui_post_quit(int exitCode) {
    std::lock_guard<std::mutex> lock(State().mutex);
    State().quitCode = exitCode;
    Record({UiCallKind::PostQuit, 0, 0, {}, exitCode});
}

void ui_message_box(const char* text, const char* caption) {
    std::lock_guard<std::mutex> lock(State().mutex);
    Record({UiCallKind::MessageBox, 0, 0, std::string(text) + "|" + caption, 0});
}

ThreadHandle ui_thread_start(unsigned (*procedure)(void*), void* argument) {
    std::lock_guard<std::mutex> lock(State().mutex);
    if (State().failThreadStart) return nullptr;
    auto t = std::make_unique<RecordedThread>();
    RecordedThread* raw = t.get();
    raw->thread = std::thread([=] { raw->result = procedure(argument); raw->ended = true; });
    State().threads.push_back(std::move(t));
    Record({UiCallKind::ThreadStart, 0, 0, {}, 0});
    return raw;
}

bool ui_thread_ended(ThreadHandle thread, uint32_t* result) {
    const RecordedThread* t = static_cast<RecordedThread*>(thread);
    if (t->ended.load() && result != nullptr) *result = t->result;
    return t->ended.load();
}

void ui_thread_close(ThreadHandle thread) {
    std::lock_guard<std::mutex> lock(State().mutex);
    static_cast<RecordedThread*>(thread)->closed = true;
    State().threadsClosed++;
    Record({UiCallKind::ThreadClose, 0, 0, {}, 0});
}

void ui_keep_awake(WindowHandle, bool on) {
    std::lock_guard<std::mutex> lock(State().mutex);
    State().keepAwake = on;
    Record({UiCallKind::KeepAwake, 0, 0, {}, on});
}
