#include "recording_view.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

struct PlatThread {
    std::thread thread;
    std::atomic<bool> ended{false};
    uint32_t result = 0;  // written before `ended`
    bool closed = false;
};

namespace {

struct RecordingState {
    std::mutex mutex;
    std::vector<ViewCall> calls;
    std::map<RecordedPart, PartState> parts;
    bool shown = false;
    bool keepAwake = false;
    bool failThreadStart = false;
    std::vector<std::unique_ptr<PlatThread>> threads;
    int threadsClosed = 0;
    std::vector<RunState> states;
    // Work handed to the loop, run by the test's thread when it acts as the loop.
    std::vector<std::pair<void (*)(void*), void*>> loopWork;
};

RecordingState& State() {
    static RecordingState state;
    return state;
}

void Record(const ViewCall& call) { State().calls.push_back(call); }

RecordedPart PartOf(ViewText field) {
    switch (field) {
    case ViewText::CurrentVersion: return RecordedPart::CurrentVersion;
    case ViewText::NewVersion: return RecordedPart::NewVersion;
    case ViewText::Status: return RecordedPart::Status;
    case ViewText::Notice: break;
    }
    return RecordedPart::Notice;
}

}  // namespace

void recording_view_reset() {
    recording_view_join_threads();
    RecordingState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.calls.clear();
    s.parts.clear();
    s.shown = false;
    s.keepAwake = false;
    s.failThreadStart = false;
    s.threads.clear();
    s.threadsClosed = 0;
    s.loopWork.clear();
    s.states.clear();
}

std::vector<ViewCall> recording_view_calls() {
    std::lock_guard<std::mutex> lock(State().mutex);
    return State().calls;
}

PartState recording_view_part(RecordedPart part) {
    std::lock_guard<std::mutex> lock(State().mutex);
    return State().parts[part];
}

const char* recording_view_part_name(RecordedPart part) {
    static const char* const names[] = {"CurrentVersion", "NewVersion", "Status", "Notice",
                                        "Update", "Exit", "Progress"};
    return names[static_cast<int>(part)];
}

bool recording_view_shown() {
    std::lock_guard<std::mutex> lock(State().mutex);
    return State().shown;
}

std::vector<RunState> recording_view_states() {
    std::lock_guard<std::mutex> lock(State().mutex);
    return State().states;
}

bool recording_view_keep_awake() {
    std::lock_guard<std::mutex> lock(State().mutex);
    return State().keepAwake;
}

std::vector<std::string> recording_view_texts(RecordedPart part) {
    std::lock_guard<std::mutex> lock(State().mutex);
    std::vector<std::string> texts;
    for (const ViewCall& call : State().calls) {
        if (call.kind == ViewCallKind::Text && call.part == part) texts.push_back(call.text);
    }
    return texts;
}

void recording_view_fail_thread_start(bool fail) {
    std::lock_guard<std::mutex> lock(State().mutex);
    State().failThreadStart = fail;
}

void recording_view_join_threads() {
    std::vector<PlatThread*> running;
    {
        std::lock_guard<std::mutex> lock(State().mutex);
        for (auto& t : State().threads) running.push_back(t.get());
    }
    for (PlatThread* t : running) {
        if (t->thread.joinable()) t->thread.join();
    }
    recording_view_run_loop_work();
}

int recording_view_run_loop_work() {
    int ran = 0;
    for (;;) {
        std::pair<void (*)(void*), void*> work;
        {
            std::lock_guard<std::mutex> lock(State().mutex);
            if (State().loopWork.empty()) return ran;
            work = State().loopWork.front();
            State().loopWork.erase(State().loopWork.begin());
        }
        work.first(work.second);
        ++ran;
    }
}

int recording_view_threads_started() {
    std::lock_guard<std::mutex> lock(State().mutex);
    return static_cast<int>(State().threads.size());
}

int recording_view_threads_closed() {
    std::lock_guard<std::mutex> lock(State().mutex);
    return State().threadsClosed;
}

// ---- view.h ------------------------------------------------------------------------------

void view_show_text(View*, ViewText field, const char* text) {
    std::lock_guard<std::mutex> lock(State().mutex);
    State().parts[PartOf(field)].text = text;
    Record({ViewCallKind::Text, PartOf(field), 0, text, 0});
}

void view_enable_button(View*, ViewButton button, bool enabled) {
    const RecordedPart part = button == ViewButton::Update ? RecordedPart::Update : RecordedPart::Exit;
    std::lock_guard<std::mutex> lock(State().mutex);
    State().parts[part].enabled = enabled;
    Record({ViewCallKind::Enable, part, 0, {}, enabled});
}

void view_show_progress(View*, uint32_t done, uint32_t total, bool restart) {
    std::lock_guard<std::mutex> lock(State().mutex);
    PartState& bar = State().parts[RecordedPart::Progress];
    if (restart) {
        bar.total = total;
        bar.done = 0;
        Record({ViewCallKind::ProgressStart, RecordedPart::Progress, total, {}, 0});
        return;
    }
    if (done > 0 && done != bar.done) bar.steps++;
    bar.total = total;
    bar.done = done;
    Record({ViewCallKind::Progress, RecordedPart::Progress, done, {}, static_cast<int>(total)});
}

void view_enable_progress(View*, bool enabled) {
    std::lock_guard<std::mutex> lock(State().mutex);
    State().parts[RecordedPart::Progress].enabled = enabled;
    Record({ViewCallKind::Enable, RecordedPart::Progress, 0, {}, enabled});
}

void view_show_window(View*, bool show) {
    std::lock_guard<std::mutex> lock(State().mutex);
    State().shown = show;
    Record({ViewCallKind::Show, RecordedPart::Status, 0, {}, show});
}

void view_show_error(View*, ViewError error) {
    std::lock_guard<std::mutex> lock(State().mutex);
    Record({ViewCallKind::Error, RecordedPart::Status, static_cast<uint32_t>(error), {}, 0});
}

void view_show_state(View*, const RunState& state) {
    std::lock_guard<std::mutex> lock(State().mutex);
    State().states.push_back(state);
}

void view_run_on_loop(View*, void (*work)(void*), void* argument) {
    std::lock_guard<std::mutex> lock(State().mutex);
    State().loopWork.emplace_back(work, argument);
}

// ---- platform.h: keeping awake -------------------------------------------------------------

void plat_keep_awake(bool on) {
    std::lock_guard<std::mutex> lock(State().mutex);
    State().keepAwake = on;
    Record({ViewCallKind::KeepAwake, RecordedPart::Status, 0, {}, on});
}

// ---- system.h: the worker's thread -------------------------------------------------------

PlatThread* plat_thread_start(unsigned (*procedure)(void*), void* argument) {
    std::lock_guard<std::mutex> lock(State().mutex);
    if (State().failThreadStart) return nullptr;
    auto t = std::make_unique<PlatThread>();
    PlatThread* raw = t.get();
    raw->thread = std::thread([=] { raw->result = procedure(argument); raw->ended = true; });
    State().threads.push_back(std::move(t));
    Record({ViewCallKind::ThreadStart, RecordedPart::Status, 0, {}, 0});
    return raw;
}

bool plat_thread_ended(PlatThread* thread, uint32_t* result) {
    if (thread->ended.load() && result != nullptr) *result = thread->result;
    return thread->ended.load();
}

void plat_thread_close(PlatThread* thread) {
    std::lock_guard<std::mutex> lock(State().mutex);
    thread->closed = true;
    State().threadsClosed++;
    Record({ViewCallKind::ThreadClose, RecordedPart::Status, 0, {}, 0});
}
