// A dialog seam that records every control change instead of drawing it, for tests.
// Safe to call from the worker thread while the test thread reads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/ui.h"

enum class UiCallKind {
    SetText, Enable, ProgressRange, ProgressPosition, ProgressStep, SetTimer, KillTimer, Show,
    Destroy, PostQuit, MessageBox, KeepAwake, ThreadStart, ThreadClose,
};

struct UiCall {
    UiCallKind kind;
    int controlId;      // control or timer ID
    uint32_t value;     // SetTimer: the period; ProgressRange: the maximum; ProgressPosition
    std::string text;   // SetText, MessageBox (text + "|" + caption)
    int flag;           // Enable / Show / KeepAwake / PostQuit exit code
};

struct ControlState {
    std::string text;
    bool enabled = true;
    uint16_t rangeMax = 100;  // the bar runs from 0
    int pos = 0;
    int steps = 0;            // ui_step_progress calls received
};

// Clears the record; every control starts enabled, with empty text.
void recording_ui_reset();
std::vector<UiCall> recording_ui_calls();
ControlState recording_ui_control(int controlId);
// Exit code of the last ui_post_quit, or -1 when none was posted.
int recording_ui_quit_code();
bool recording_ui_timer_running(uint32_t timerId);
bool recording_ui_window_shown();
bool recording_ui_keep_awake();
// Texts that control `controlId` has shown, in order (repeats included).
std::vector<std::string> recording_ui_texts(int controlId);

// ui_destroy_window calls handler(context) (the app's destroy handling), as DestroyWindow
// sends WM_DESTROY.
void recording_ui_set_destroy_handler(void (*handler)(void* context), void* context);
// Makes ui_thread_start fail, as _beginthreadex does when no thread can be made.
void recording_ui_fail_thread_start(bool fail);
// Waits for every thread started so far to end (not a close: handles stay valid).
void recording_ui_join_threads();
// Handles started and closed so far.
int recording_ui_threads_started();
int recording_ui_threads_closed();
