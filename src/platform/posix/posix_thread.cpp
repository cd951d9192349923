// plat_thread_* over std::thread. Closing the handle of a thread that still runs leaves its
// record to the thread, which frees it when it ends, as closing a handle does not stop a
// thread.
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/system.h"

struct PlatThread {
    std::thread thread;
    std::mutex mutex;
    bool ended = false;
    uint32_t result = 0;
    bool closed = false;
};

PlatThread* plat_thread_start(unsigned (*procedure)(void*), void* argument) {
    PlatThread* record = new PlatThread;
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
        });
    } catch (const std::system_error&) {
        delete record;
        return nullptr;
    }
    return record;
}

bool plat_thread_ended(PlatThread* thread, uint32_t* result) {
    std::lock_guard<std::mutex> lock(thread->mutex);
    if (thread->ended && result != nullptr) *result = thread->result;
    return thread->ended;
}

void plat_thread_close(PlatThread* thread) {
    {
        std::lock_guard<std::mutex> lock(thread->mutex);
        if (!thread->ended) {
            thread->closed = true;
            thread->thread.detach();
            return;
        }
    }
    // The thread has set its result and is about to return: joining costs nothing.
    thread->thread.join();
    delete thread;
}
