// The state of the terminal dialog: control texts, enable states, the progress bar, the
// timer and the quit request. Owned by the main thread; other threads reach it only through
// calls that the main thread carries out for them (term_ui.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "platform/ui.h"

constexpr int kTermFirstControl = kIdFileName;
constexpr int kTermControlCount = kIdExit - kIdFileName + 1;
// Longer than every text the program shows, the longest file name (MAX_PATH) included.
constexpr uint32_t kTermTextCapacity = 384;

struct TermControl {
    char text[kTermTextCapacity];
    bool enabled;
};

// From 0 to `maximum`; the position never passes the maximum.
struct TermProgress {
    uint16_t maximum;
    uint16_t position;
};

struct TermTimer {
    uint32_t id;         // 0: slot free
    uint32_t periodMs;
    uint64_t dueMs;      // on the front end's monotonic clock
};

constexpr int kTermTimerSlots = 4;

struct TermModel {
    TermControl controls[kTermControlCount];
    TermProgress progress;
    TermTimer timers[kTermTimerSlots];
    bool shown;
    bool quitPosted;
    int exitCode;
};

extern TermModel termModel;

// The control of `controlId`, or null for an ID the dialog does not have.
TermControl* TermControlFor(int controlId);
// Milliseconds on a monotonic clock.
uint64_t TermNowMs();

// ---- term_ui.cpp: running calls on the main thread -------------------------------------

// Marks the calling thread as the one that owns the dialog, and clears the model.
// ui_destroy_window calls `onDestroy(context)`, as DestroyWindow sends WM_DESTROY.
void TermUiBegin(void (*onDestroy)(void* context), void* context);
// File descriptor that becomes readable when another thread has queued a call, a worker
// thread has ended, or a signal arrived.
int TermUiWakeFd();
// Wakes the main loop (async-signal-safe).
void TermUiWake();
// Empties the wake descriptor and carries out the queued calls.
void TermUiRunQueuedCalls();
// Worker threads started and not yet ended.
int TermUiLiveThreads();
void TermUiEnd();

// ---- term_render.cpp: showing the model ------------------------------------------------

// `terminal`: draw the dialog in place with control sequences, under `caption`; otherwise
// print each change as one line.
void TermRenderBegin(bool terminal, const char* caption, FILE* stream);
// Called after each change of a control (text, enable state, progress).
void TermRenderChanged(int controlId);
// Draws the dialog when something changed since the last frame.
void TermRenderFlush();
// True while a change waits for the next frame.
bool TermRenderPending();
// A line of the program's own (message box, notes): printed below the dialog.
void TermRenderNote(const char* text);
// Stops all output to the terminal (after a hang-up).
void TermRenderSilence();
void TermRenderEnd();

// ---- term_instance_lock.cpp --------------------------------------

enum class TermLockResult {
    Taken,     // this is the only instance
    Held,      // another instance holds it
    Unusable,  // the path is no lock file that can be opened and locked: `reason` says why
};
// Takes the lock at `path`, never through a link and never waiting.
TermLockResult TermLockInstance(const char* path, char* reason, size_t capacity);
void TermUnlockInstance();
