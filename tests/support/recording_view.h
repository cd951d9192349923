// A view that records every change instead of drawing it, the work handed to its loop, the
// keep-awake state, and a worker thread that can be joined or made to fail to start, for
// tests. Safe to call from the worker thread while the
// test thread reads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/system.h"
#include "platform/view.h"

// What the window holds: the four texts, the two buttons and the bar.
enum class RecordedPart : uint8_t { CurrentVersion, NewVersion, Status, Notice, Update, Exit, Progress };

enum class ViewCallKind { Text, Enable, Progress, ProgressStart, Show, Error, KeepAwake, ThreadStart, ThreadClose };

struct ViewCall {
    ViewCallKind kind;
    RecordedPart part;  // Text, Enable (Progress: the bar's enable state)
    uint32_t value;     // Progress: done; ProgressStart: the total; Error: the ViewError
    std::string text;   // Text
    int flag;           // Enable / Show / KeepAwake; Progress: the total
};

struct PartState {
    std::string text;
    bool enabled = true;
    uint32_t total = 100;  // the bar: `done` of `total`
    uint32_t done = 0;
    int steps = 0;         // calls that moved the bar on from where it stood
};

// Clears the record; every part starts enabled, with empty text.
void recording_view_reset();
std::vector<ViewCall> recording_view_calls();
PartState recording_view_part(RecordedPart part);
const char* recording_view_part_name(RecordedPart part);
bool recording_view_shown();
bool recording_view_keep_awake();
// The run's states shown so far, in order.
std::vector<RunState> recording_view_states();
// Texts that `part` has shown, in order (repeats included).
std::vector<std::string> recording_view_texts(RecordedPart part);

// Makes plat_thread_start fail, as _beginthreadex does when no thread can be made.
void recording_view_fail_thread_start(bool fail);
// Waits for every thread started so far to end (not a close: handles stay valid), then runs
// the work they handed to the loop, as the loop would.
void recording_view_join_threads();
// Runs the work handed to the loop (view_run_on_loop) so far, on the calling thread, which
// acts as the loop. Returns how many pieces ran.
int recording_view_run_loop_work();
// Handles started and closed so far.
int recording_view_threads_started();
int recording_view_threads_closed();
