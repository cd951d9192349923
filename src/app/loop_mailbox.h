// How a window's loop takes calls from other threads. A window belongs to the thread that
// runs its loop; the update worker changes it too. A call from another thread waits in the
// mailbox, in order, until the loop has carried it out, so what the window shows follows the
// order of the calls and every change is synchronous, as the view promises. Posted work
// (view_run_on_loop) waits in the same queue but nobody waits for it.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

// Each waiting thread has at most one call queued; posted work is the worker's end.
constexpr int kLoopMailboxSlots = 8;

struct LoopMailboxCall {
    void (*run)(void* argument);
    void* argument;
    bool* done;  // set once run; null for posted work
};

struct LoopMailbox {
    std::mutex mutex;
    std::condition_variable changed;
    LoopMailboxCall calls[kLoopMailboxSlots];
    int length;
    std::thread::id loopThread;
    bool open;
    // Wakes the loop after a call was queued; called from the queueing thread.
    void (*wake)(void* context);
    void* wakeContext;
};

// Makes the calling thread the loop's and drops whatever an earlier run left.
void LoopMailboxOpen(LoopMailbox* mailbox, void (*wake)(void*), void* wakeContext);
// Carries out what waits (work posted but not run is dropped: its run is over); from here on
// calls run on the calling thread.
void LoopMailboxClose(LoopMailbox* mailbox);
// Runs `run(argument)` on the loop's thread and returns once it has run there. On the loop's
// thread, or with the mailbox closed, it runs at once.
void LoopMailboxCallOnLoop(LoopMailbox* mailbox, void (*run)(void*), void* argument);
// Hands `run(argument)` to the loop without waiting for it.
void LoopMailboxPost(LoopMailbox* mailbox, void (*run)(void*), void* argument);
// On the loop's thread: carries out every queued call in order. True when posted work ran.
bool LoopMailboxRun(LoopMailbox* mailbox);

// LoopMailboxCallOnLoop for a lambda that lives on the caller's stack.
template <typename Change>
void LoopMailboxChange(LoopMailbox* mailbox, Change change) {
    LoopMailboxCallOnLoop(mailbox, [](void* pointer) { (*static_cast<Change*>(pointer))(); }, &change);
}
