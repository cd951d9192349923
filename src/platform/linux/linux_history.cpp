// The history of updates on Linux: one entry per update in the system journal, with the
// versions, the result, the attempts, the duration and the SHA-256 of the image written as
// fields of their own (`journalctl -t zorflash -o verbose`), and a line a person can read.
//
// libsystemd is loaded at run time, as for the sleep inhibitor: without it, or without a
// journal to take the entry, nothing is recorded and nothing fails.
#include <dlfcn.h>

#include <mutex>

#include "platform/records.h"

namespace {

typedef int (*JournalSend)(const char* format, ...);

JournalSend LoadJournalSend() {
    static std::once_flag loaded;
    static JournalSend send = nullptr;
    std::call_once(loaded, [] {
        void* library = dlopen("libsystemd.so.0", RTLD_NOW | RTLD_LOCAL);
        if (library != nullptr) {
            send = reinterpret_cast<JournalSend>(dlsym(library, "sd_journal_send"));
        }
    });
    return send;
}

}  // namespace

void plat_record_update(const UpdateRecord* record) {
    const JournalSend send = LoadJournalSend();
    if (send == nullptr) return;
    // An update that did not end in success is worth a warning in the log.
    send("MESSAGE=%s", record->summary, "PRIORITY=%d", record->result == 0 ? 5 : 4,
         "SYSLOG_IDENTIFIER=zorflash", "ZORFLASH_VERSION_BEFORE=%s", record->versionBefore,
         "ZORFLASH_VERSION_AFTER=%s", record->versionAfter, "ZORFLASH_RESULT=%u",
         record->result, "ZORFLASH_STATUS=%s", record->status, "ZORFLASH_ATTEMPTS=%u",
         record->attempts, "ZORFLASH_DURATION_MS=%u", record->durationMs,
         "ZORFLASH_SHA256=%s", record->imageSha256, nullptr);
}
