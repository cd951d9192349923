// Time, the run's stamp, error texts, the diagnostic sink and where notices go.
#include <sched.h>
#include <sys/random.h>
#include <syslog.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>

#include "platform/linux/hidraw_node.h"
#include "platform/linux/linux_internal.h"
#include "platform/system.h"

namespace {

std::atomic<int> chosenSink{kDiagSinkAuto};
std::once_flag syslogOpened;

// Set once at the start; read by the scan and the record's notes on any thread.
std::mutex noticeMutex;
PlatNoticeHandler noticeHandler = nullptr;
void* noticeContext = nullptr;

LinuxDiagSink ResolveSink() {
    const int sink = chosenSink.load();
    if (sink != kDiagSinkAuto) return static_cast<LinuxDiagSink>(sink);
    // The terminal front end draws its dialog on the terminal when standard output is one;
    // a line on a standard error that shares that terminal would tear the picture.
    return isatty(STDOUT_FILENO) && isatty(STDERR_FILENO) ? kDiagSinkSyslog : kDiagSinkStderr;
}

}  // namespace

void linux_set_diag_sink(LinuxDiagSink sink) { chosenSink.store(sink); }

void plat_set_notice_handler(PlatNoticeHandler handler, void* context) {
    std::lock_guard<std::mutex> lock(noticeMutex);
    noticeHandler = handler;
    noticeContext = context;
}

void linux_notice(const PlatNotice& notice) {
    PlatNoticeHandler handler = nullptr;
    void* context = nullptr;
    {
        std::lock_guard<std::mutex> lock(noticeMutex);
        handler = noticeHandler;
        context = noticeContext;
    }
    if (handler != nullptr) handler(notice, context);
}

void plat_sleep(uint32_t milliseconds) {
    if (milliseconds == 0) {
        sched_yield();
        return;
    }
    timespec remaining{static_cast<time_t>(milliseconds / 1000),
                       static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}

uint32_t plat_tick_count() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    // Milliseconds modulo 2^32, as GetTickCount wraps.
    const uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000u +
                        static_cast<uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

void plat_run_stamp(RunStamp* stamp) {
    const time_t now = time(nullptr);
    tm utc{};
    gmtime_r(&now, &utc);
    if (strftime(stamp->startTime, sizeof stamp->startTime, "%Y-%m-%dT%H:%M:%SZ", &utc) == 0) {
        std::snprintf(stamp->startTime, sizeof stamp->startTime, "1970-01-01T00:00:00Z");
    }
    // The kernel's random source; should it be unavailable (a kernel before getrandom()),
    // the clock and the process number still tell runs of one machine apart.
    uint64_t id = 0;
    ssize_t got = -1;
    do {
        got = getrandom(&id, sizeof id, 0);
    } while (got < 0 && errno == EINTR);
    if (got != static_cast<ssize_t>(sizeof id)) {
        timespec fine{};
        clock_gettime(CLOCK_REALTIME, &fine);
        id = (static_cast<uint64_t>(fine.tv_sec) << 32) ^ static_cast<uint64_t>(fine.tv_nsec) ^
             (static_cast<uint64_t>(getpid()) << 20);
    }
    std::snprintf(stamp->runId, sizeof stamp->runId, "%016llx",
                  static_cast<unsigned long long>(id));
}

// The system's text for an errno value, with a line feed where Windows' texts end in CR LF,
// so that a diagnostic line with the system text still ends its line. Unknown codes (glibc
// has no description) answer 0, which makes the log fall back to "Error Code = %x".
size_t plat_error_text(uint32_t code, char* buffer, size_t capacity) {
    if (capacity == 0) return 0;
    buffer[0] = '\0';
    if (code > INT_MAX) return 0;
    const char* text = strerrordesc_np(static_cast<int>(code));
    if (text == nullptr) return 0;
    const size_t length = std::strlen(text);
    if (length + 2 > capacity) return 0;
    std::memcpy(buffer, text, length);
    buffer[length] = '\n';
    buffer[length + 1] = '\0';
    return length + 1;
}

// One call, one line. On standard error the line gets a closing line feed when its text
// has none, as every OutputDebugStringA call is an entry of its own for a debugger; the
// system log keeps each call as one entry anyway.
void plat_debug_output(const char* text) {
    if (ResolveSink() == kDiagSinkSyslog) {
        std::call_once(syslogOpened, [] { openlog("zorflash", LOG_PID, LOG_USER); });
        syslog(LOG_NOTICE, "%s", text);
        return;
    }
    char line[kDiagLineCapacity + 1];
    size_t length = std::strlen(text);
    if (length > kDiagLineCapacity - 1) length = kDiagLineCapacity - 1;
    std::memcpy(line, text, length);
    if (length == 0 || line[length - 1] != '\n') line[length++] = '\n';
    size_t written = 0;
    while (written < length) {
        const ssize_t n = write(STDERR_FILENO, line + written, length - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        written += static_cast<size_t>(n);
    }
}
