#include "app/loop_mailbox.h"

#include <cstring>

namespace {

// Takes a free slot, waiting while the loop works through a full queue (the loop never waits
// for a caller), and wakes the loop. False when the loop closed meanwhile.
bool Queue(LoopMailbox* mailbox, std::unique_lock<std::mutex>* lock, const LoopMailboxCall& call) {
    mailbox->changed.wait(*lock, [mailbox] {
        return !mailbox->open || mailbox->length < kLoopMailboxSlots;
    });
    if (!mailbox->open) return false;
    mailbox->calls[mailbox->length++] = call;
    lock->unlock();
    if (mailbox->wake != nullptr) mailbox->wake(mailbox->wakeContext);
    lock->lock();
    return true;
}

}  // namespace

void LoopMailboxOpen(LoopMailbox* mailbox, void (*wake)(void*), void* wakeContext) {
    std::lock_guard<std::mutex> lock(mailbox->mutex);
    mailbox->length = 0;
    mailbox->loopThread = std::this_thread::get_id();
    mailbox->open = true;
    mailbox->wake = wake;
    mailbox->wakeContext = wakeContext;
}

void LoopMailboxClose(LoopMailbox* mailbox) {
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mailbox->mutex);
            int kept = 0;
            for (int i = 0; i < mailbox->length; ++i) {
                if (mailbox->calls[i].done != nullptr) mailbox->calls[kept++] = mailbox->calls[i];
            }
            mailbox->length = kept;
            if (kept == 0) {
                mailbox->open = false;
                mailbox->changed.notify_all();
                return;
            }
        }
        LoopMailboxRun(mailbox);
    }
}

void LoopMailboxCallOnLoop(LoopMailbox* mailbox, void (*run)(void*), void* argument) {
    std::unique_lock<std::mutex> lock(mailbox->mutex);
    if (!mailbox->open || std::this_thread::get_id() == mailbox->loopThread) {
        lock.unlock();
        run(argument);
        return;
    }
    bool done = false;
    if (Queue(mailbox, &lock, LoopMailboxCall{run, argument, &done})) {
        mailbox->changed.wait(lock, [&done] { return done; });
        return;
    }
    lock.unlock();
    run(argument);
}

void LoopMailboxPost(LoopMailbox* mailbox, void (*run)(void*), void* argument) {
    std::unique_lock<std::mutex> lock(mailbox->mutex);
    if (!mailbox->open) return;
    Queue(mailbox, &lock, LoopMailboxCall{run, argument, nullptr});
}

bool LoopMailboxRun(LoopMailbox* mailbox) {
    bool postedRan = false;
    std::unique_lock<std::mutex> lock(mailbox->mutex);
    while (mailbox->length > 0) {
        const LoopMailboxCall call = mailbox->calls[0];
        --mailbox->length;
        std::memmove(mailbox->calls, mailbox->calls + 1,
                     sizeof(mailbox->calls[0]) * static_cast<size_t>(mailbox->length));
        mailbox->changed.notify_all();
        // A caller waits for `done`, so its call stays valid while it runs unlocked.
        lock.unlock();
        call.run(call.argument);
        lock.lock();
        if (call.done != nullptr) {
            *call.done = true;
            mailbox->changed.notify_all();
        } else {
            postedRan = true;
        }
    }
    return postedRan;
}
