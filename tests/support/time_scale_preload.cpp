// Loaded into a program under test (LD_PRELOAD) so that its time runs
// ZORFLASH_TEST_TIME_SCALE times faster than the real one: the monotonic clocks it reads
// go that much faster, and each of its sleeps, timed waits and poll timeouts lasts that
// much less. The emulated sensor runs its clock at the same rate (EmulatedSensorOptions::
// timeScale), so the program and the sensor see the same seconds go by while the
// protocol's fixed waits, seconds each, cost a fraction of them.
//
// Only the monotonic clocks are scaled: the wall clock stays the real one, as file times
// compare against it.
#include <dlfcn.h>
#include <poll.h>
#include <pthread.h>
#include <time.h>

#include <cstdint>
#include <cstdlib>

namespace {

constexpr int64_t kNanosPerSecond = 1000000000;

int64_t Scale() {
    static const int64_t scale = [] {
        const char* text = std::getenv("ZORFLASH_TEST_TIME_SCALE");
        const long value = text != nullptr ? std::strtol(text, nullptr, 10) : 1;
        return static_cast<int64_t>(value >= 1 && value <= 1000 ? value : 1);
    }();
    return scale;
}

bool IsMonotonic(clockid_t clock) {
    return clock == CLOCK_MONOTONIC || clock == CLOCK_MONOTONIC_RAW ||
           clock == CLOCK_MONOTONIC_COARSE || clock == CLOCK_BOOTTIME;
}

int64_t ToNanos(const timespec& t) { return static_cast<int64_t>(t.tv_sec) * kNanosPerSecond + t.tv_nsec; }

timespec FromNanos(int64_t nanos) {
    if (nanos < 0) nanos = 0;
    return timespec{static_cast<time_t>(nanos / kNanosPerSecond),
                    static_cast<long>(nanos % kNanosPerSecond)};
}

template <typename Function>
Function Next(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" {

int clock_gettime(clockid_t clock, timespec* now) {
    static const auto next = Next<int (*)(clockid_t, timespec*)>("clock_gettime");
    const int result = next(clock, now);
    if (result == 0 && IsMonotonic(clock) && Scale() > 1) *now = FromNanos(ToNanos(*now) * Scale());
    return result;
}

int nanosleep(const timespec* wanted, timespec* remaining) {
    static const auto next = Next<int (*)(const timespec*, timespec*)>("nanosleep");
    if (wanted == nullptr || Scale() == 1) return next(wanted, remaining);
    const timespec shorter = FromNanos(ToNanos(*wanted) / Scale());
    const int result = next(&shorter, remaining);
    if (result != 0 && remaining != nullptr) *remaining = FromNanos(ToNanos(*remaining) * Scale());
    return result;
}

int clock_nanosleep(clockid_t clock, int flags, const timespec* wanted, timespec* remaining) {
    static const auto next =
        Next<int (*)(clockid_t, int, const timespec*, timespec*)>("clock_nanosleep");
    if (wanted == nullptr || Scale() == 1 || (flags == TIMER_ABSTIME && !IsMonotonic(clock))) {
        return next(clock, flags, wanted, remaining);
    }
    // A deadline on the scaled clock is that point of the real one.
    const timespec real = FromNanos(ToNanos(*wanted) / Scale());
    const int result = next(clock, flags, &real, remaining);
    if (result != 0 && flags != TIMER_ABSTIME && remaining != nullptr) {
        *remaining = FromNanos(ToNanos(*remaining) * Scale());
    }
    return result;
}

int pthread_cond_clockwait(pthread_cond_t* condition, pthread_mutex_t* mutex, clockid_t clock,
                           const timespec* deadline) {
    static const auto next =
        Next<int (*)(pthread_cond_t*, pthread_mutex_t*, clockid_t, const timespec*)>(
            "pthread_cond_clockwait");
    if (Scale() == 1 || !IsMonotonic(clock)) return next(condition, mutex, clock, deadline);
    const timespec real = FromNanos(ToNanos(*deadline) / Scale());
    return next(condition, mutex, clock, &real);
}

int poll(pollfd* fds, nfds_t count, int timeoutMs) {
    static const auto next = Next<int (*)(pollfd*, nfds_t, int)>("poll");
    if (timeoutMs > 0) timeoutMs = static_cast<int>((timeoutMs + Scale() - 1) / Scale());
    return next(fds, count, timeoutMs);
}

}  // extern "C"
