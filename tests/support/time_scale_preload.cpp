// Loaded into a program under test (LD_PRELOAD) so that its time runs
// ZORFLASH_TEST_TIME_SCALE (1 to 1000) times faster than the real one: the monotonic clocks it reads
// go that much faster, and each of its sleeps, timed waits, poll timeouts and timers lasts
// that much less. The emulated sensor runs its clock at the same rate (EmulatedSensorOptions::
// timeScale), so the program and the sensor see the same seconds go by while the
// protocol's fixed waits, seconds each, cost a fraction of them.
//
// A scaled clock goes on from where it stood when the library loaded: it reads
// base + (real - base) * scale, base being that clock's real reading at load. It starts
// where the machine's clock stands, as in an unscaled run, rather than at the machine's
// uptime times the scale, a reading no real run sees. A deadline on a scaled clock is
// mapped back on the same line: the first real moment at which the scaled clock has reached
// it. Lengths are divided by the scale, rounded up, so that a wait that runs its course finds
// the scaled clock at or past its end, as the real one is after a real wait.
//
// Only the monotonic clocks are scaled: the wall clock stays the real one, as file times
// compare against it. A timed wait of a condition or semaphore with a deadline on the wall
// clock (POSIX's way of giving their timeout) waits the time left to it, scaled; a sleep or
// timer set to a wall time wakes at that time.
//
// The library tells whoever started the program that it is in effect (SayLoaded), and
// exports its arithmetic for its own tests (time_scale_test.cpp calls it in the built
// library; time_scale_probe.cpp checks the calls under it).

// This library defines poll and its kin itself: none of the header's inline wrappers.
#undef _FORTIFY_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <pthread.h>
#include <semaphore.h>
#include <sys/epoll.h>
#include <sys/select.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" {

// The line between a scaled clock and the real one, in nanoseconds; a result beyond the
// range of int64_t saturates. `scale` is at least 1.

// The scaled clock's reading at real time `real`: base + (real - base) * scale.
int64_t zorflash_time_scale_clock(int64_t scale, int64_t base, int64_t real);
// The real time at which the scaled clock reaches `deadline`: base + (deadline - base) /
// scale, rounded up. With base 0 it is the real length of a wait of `deadline`.
int64_t zorflash_time_scale_real_deadline(int64_t scale, int64_t base, int64_t deadline);
// A deadline on the wall clock for a timed wait, the wall clock reading `now`: now plus
// the time left, scaled (rounded up); a deadline already past stays as it is.
int64_t zorflash_time_scale_wall_deadline(int64_t scale, int64_t now, int64_t deadline);

// This process's line: the scale, and the base of `clock` (-1 for a clock not scaled).
int64_t zorflash_time_scale_factor();
int64_t zorflash_time_scale_base(clockid_t clock);

}  // extern "C"

namespace {

constexpr int64_t kNanosPerSecond = 1000000000;
constexpr int64_t kMaxScale = 1000;

int64_t Saturated(__int128 value) {
    if (value > INT64_MAX) return INT64_MAX;
    if (value < INT64_MIN) return INT64_MIN;
    return static_cast<int64_t>(value);
}

// Which base a clock reads from. CLOCK_BOOTTIME_ALARM reads as CLOCK_BOOTTIME does.
enum ClockBase { kOtherClock = -2, kWallClock = -1, kMonotonicBase, kRawBase, kCoarseBase,
                 kBootBase, kBaseCount };
struct ClockRow {
    clockid_t clock;
    int base;
};
constexpr ClockRow kClocks[] = {
    {CLOCK_MONOTONIC, kMonotonicBase},     {CLOCK_MONOTONIC_RAW, kRawBase},
    {CLOCK_MONOTONIC_COARSE, kCoarseBase}, {CLOCK_BOOTTIME, kBootBase},
    {CLOCK_BOOTTIME_ALARM, kBootBase},     {CLOCK_REALTIME, kWallClock},
    {CLOCK_REALTIME_COARSE, kWallClock},   {CLOCK_REALTIME_ALARM, kWallClock},
    {CLOCK_TAI, kWallClock},
};
constexpr clockid_t kBaseClocks[kBaseCount] = {CLOCK_MONOTONIC, CLOCK_MONOTONIC_RAW,
                                               CLOCK_MONOTONIC_COARSE, CLOCK_BOOTTIME};

// A CPU-time clock, or one this table does not know, is neither scaled nor the wall clock.
int BaseOf(clockid_t clock) {
    for (const ClockRow& row : kClocks) {
        if (row.clock == clock) return row.base;
    }
    return kOtherClock;
}

// The C library's calls that these stand in front of. dlsym gives a name's default version,
// the one a program linked against this C library imports (pthread_cond_timedwait@@GLIBC_2.3.2,
// not the compat GLIBC_2.2.5 one of programs linked before 2003), and this library's
// unversioned definitions answer a program's versioned references to them.
struct NextCalls {
    int (*clockGettime)(clockid_t, timespec*);
    int (*nanosleep)(const timespec*, timespec*);
    int (*clockNanosleep)(clockid_t, int, const timespec*, timespec*);
    int (*usleep)(useconds_t);
    int (*poll)(pollfd*, nfds_t, int);
    int (*pollChk)(pollfd*, nfds_t, int, size_t);
    int (*ppoll)(pollfd*, nfds_t, const timespec*, const sigset_t*);
    int (*ppollChk)(pollfd*, nfds_t, const timespec*, const sigset_t*, size_t);
    int (*select)(int, fd_set*, fd_set*, fd_set*, timeval*);
    int (*pselect)(int, fd_set*, fd_set*, fd_set*, const timespec*, const sigset_t*);
    int (*epollWait)(int, epoll_event*, int, int);
    int (*epollPwait)(int, epoll_event*, int, int, const sigset_t*);
    int (*epollPwait2)(int, epoll_event*, int, const timespec*, const sigset_t*);
    int (*condTimedwait)(pthread_cond_t*, pthread_mutex_t*, const timespec*);
    int (*condClockwait)(pthread_cond_t*, pthread_mutex_t*, clockid_t, const timespec*);
    int (*semTimedwait)(sem_t*, const timespec*);
    int (*semClockwait)(sem_t*, clockid_t, const timespec*);
    int (*timerfdSettime)(int, int, const itimerspec*, itimerspec*);
    int (*timerfdGettime)(int, itimerspec*);
};

// Set once, on the first call or at load, whichever comes first (another preload's
// constructor may read the clock before this library's runs).
struct Loaded {
    int64_t scale;
    int64_t bases[kBaseCount];
    NextCalls next;
};
Loaded loaded;
pthread_once_t loadOnce = PTHREAD_ONCE_INIT;

template <typename Function>
void Resolve(Function* call, const char* name) {
    *call = reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

// A condition keeps the clock of its deadlines in its __wrefs word: glibc's
// pthread_cond_init sets bit 1 for CLOCK_MONOTONIC. The load checks that on a condition of
// each clock before a wait relies on it.
constexpr unsigned kCondMonotonicBit = 2;

bool CondIsMonotonic(pthread_cond_t* condition) {
    return (__atomic_load_n(&condition->__data.__wrefs, __ATOMIC_RELAXED) & kCondMonotonicBit) != 0;
}

bool CondClockBitHolds() {
    pthread_condattr_t monotonicClock;
    pthread_condattr_init(&monotonicClock);
    pthread_condattr_setclock(&monotonicClock, CLOCK_MONOTONIC);
    pthread_cond_t onWallClock = PTHREAD_COND_INITIALIZER, onMonotonic;
    pthread_cond_init(&onMonotonic, &monotonicClock);
    const bool holds = !CondIsMonotonic(&onWallClock) && CondIsMonotonic(&onMonotonic);
    pthread_cond_destroy(&onMonotonic);
    pthread_condattr_destroy(&monotonicClock);
    return holds;
}

void LoadOnce() {
    NextCalls& n = loaded.next;
    Resolve(&n.clockGettime, "clock_gettime");
    Resolve(&n.nanosleep, "nanosleep");
    Resolve(&n.clockNanosleep, "clock_nanosleep");
    Resolve(&n.usleep, "usleep");
    Resolve(&n.poll, "poll");
    Resolve(&n.pollChk, "__poll_chk");
    Resolve(&n.ppoll, "ppoll");
    Resolve(&n.ppollChk, "__ppoll_chk");
    Resolve(&n.select, "select");
    Resolve(&n.pselect, "pselect");
    Resolve(&n.epollWait, "epoll_wait");
    Resolve(&n.epollPwait, "epoll_pwait");
    Resolve(&n.epollPwait2, "epoll_pwait2");
    Resolve(&n.condTimedwait, "pthread_cond_timedwait");
    Resolve(&n.condClockwait, "pthread_cond_clockwait");
    Resolve(&n.semTimedwait, "sem_timedwait");
    Resolve(&n.semClockwait, "sem_clockwait");
    Resolve(&n.timerfdSettime, "timerfd_settime");
    Resolve(&n.timerfdGettime, "timerfd_gettime");
    const char* text = std::getenv("ZORFLASH_TEST_TIME_SCALE");
    const long value = text != nullptr ? std::strtol(text, nullptr, 10) : 1;
    loaded.scale = value >= 1 && value <= kMaxScale ? value : 1;
    for (int base = 0; base < kBaseCount; ++base) {
        timespec now{};
        n.clockGettime(kBaseClocks[base], &now);
        loaded.bases[base] = static_cast<int64_t>(now.tv_sec) * kNanosPerSecond + now.tv_nsec;
    }
    if (!CondClockBitHolds()) {
        std::fputs("time-scale preload: this C library keeps a condition's clock elsewhere; "
                   "its timed waits cannot be scaled\n", stderr);
        std::abort();
    }
}

const Loaded& Load() {
    pthread_once(&loadOnce, LoadOnce);
    return loaded;
}

// Tells the harness that started this process (tests/support/time_scale.cpp) that the
// library is in effect here: a line "<scale> <program>" on the pipe that
// ZORFLASH_TEST_TIME_SCALE_MARK_FD names. Each process of the run that loads the library
// writes its own (a launcher such as setpriv, then the program it starts).
__attribute__((constructor)) void SayLoaded() {
    const Loaded& l = Load();
    const char* text = std::getenv("ZORFLASH_TEST_TIME_SCALE_MARK_FD");
    if (text == nullptr) return;
    const int fd = std::atoi(text);
    // Only into a pipe: a process that inherited the name but not the pipe may hold another
    // file under that number.
    struct stat status;
    if (fstat(fd, &status) != 0 || !S_ISFIFO(status.st_mode)) return;
    char line[PIPE_BUF];
    const int length = std::snprintf(line, sizeof line, "%lld %s\n",
                                     static_cast<long long>(l.scale), program_invocation_name);
    if (length <= 0) return;
    // One write of at most PIPE_BUF bytes: whole, never mixed with another process's line.
    if (write(fd, line, std::min<size_t>(static_cast<size_t>(length), sizeof line - 1)) < 0) return;
}

// A time or length the system would take; anything else goes to it as it is, for the
// system's own answer (EINVAL).
bool Valid(const timespec* t) {
    return t != nullptr && t->tv_sec >= 0 && t->tv_nsec >= 0 && t->tv_nsec < kNanosPerSecond;
}

int64_t ToNanos(const timespec& t) {
    return Saturated(static_cast<__int128>(t.tv_sec) * kNanosPerSecond + t.tv_nsec);
}

timespec FromNanos(int64_t nanos) {
    if (nanos < 0) nanos = 0;
    return timespec{static_cast<time_t>(nanos / kNanosPerSecond),
                    static_cast<long>(nanos % kNanosPerSecond)};
}

int64_t RealLength(int64_t length) {
    return length <= 0 ? length : zorflash_time_scale_real_deadline(Load().scale, 0, length);
}

// The wait `wanted` as a real length in `real`, or `wanted` itself when it is not one.
const timespec* RealLength(const timespec* wanted, timespec* real) {
    if (!Valid(wanted)) return wanted;
    *real = FromNanos(RealLength(ToNanos(*wanted)));
    return real;
}

int RealTimeoutMs(int timeoutMs) { return static_cast<int>(RealLength(timeoutMs)); }

// What an interrupted wait of `wanted` left, as the kernel wrote it in `remaining`, on the
// scaled clock (never more than was asked).
void ScaledRemaining(const timespec* wanted, timespec* remaining) {
    if (!Valid(wanted) || remaining == nullptr) return;
    const int64_t left = Saturated(static_cast<__int128>(ToNanos(*remaining)) * Load().scale);
    *remaining = FromNanos(std::min(left, ToNanos(*wanted)));
}

// `deadline` on `clock` as a deadline on the real one, in `real`, or `deadline` itself. A
// deadline on the wall clock is a timeout in disguise for a timed wait (`asTimeout`): such a
// wait ends before the wall clock reaches it, and a caller that checks the wall clock waits
// again for the rest, never past the deadline. For a sleep or a timer it is kept.
const timespec* RealDeadline(clockid_t clock, const timespec* deadline, bool asTimeout,
                             timespec* real) {
    const Loaded& l = Load();
    const int base = BaseOf(clock);
    if (!Valid(deadline)) return deadline;
    if (base >= 0) {
        const int64_t nanos = ToNanos(*deadline);
        *real = FromNanos(zorflash_time_scale_real_deadline(l.scale, l.bases[base], nanos));
        return real;
    }
    timespec now;
    if (base != kWallClock || !asTimeout || l.next.clockGettime(clock, &now) != 0) return deadline;
    *real = FromNanos(zorflash_time_scale_wall_deadline(l.scale, ToNanos(now), ToNanos(*deadline)));
    return real;
}

// The clock of timer `fd` and whether it was last set to an absolute time, from the
// kernel's description of the file ("clockid: 1", "settime flags: 01"). Read with the system
// calls themselves: the device mock's preload redirects paths it opens.
bool TimerOf(int fd, clockid_t* clock, bool* absolute) {
    char path[48];
    std::snprintf(path, sizeof path, "/proc/self/fdinfo/%d", fd);
    const long file = syscall(SYS_openat, AT_FDCWD, path, O_RDONLY | O_CLOEXEC);
    if (file < 0) return false;
    char text[512];
    const long length = syscall(SYS_read, file, text, sizeof text - 1);
    syscall(SYS_close, file);
    if (length <= 0) return false;
    text[length] = '\0';
    const char* clockLine = std::strstr(text, "clockid: ");
    const char* flagsLine = std::strstr(text, "settime flags: ");
    if (clockLine == nullptr || flagsLine == nullptr) return false;
    *clock = static_cast<clockid_t>(std::strtol(clockLine + 9, nullptr, 10));
    *absolute = (std::strtol(flagsLine + 15, nullptr, 8) & TFD_TIMER_ABSTIME) != 0;
    return true;
}

// A timer set to a wall time runs on the wall clock; any other on a scaled clock or the wall
// clock runs its lengths scaled.
bool TimerScaled(clockid_t clock, bool absolute) {
    const int base = BaseOf(clock);
    return base >= 0 || (base == kWallClock && !absolute);
}

void ScaleTimerUp(itimerspec* timer) {
    const int64_t scale = Load().scale;
    for (timespec* t : {&timer->it_value, &timer->it_interval}) {
        *t = FromNanos(Saturated(static_cast<__int128>(ToNanos(*t)) * scale));
    }
}

bool IsZero(const timespec& t) { return t.tv_sec == 0 && t.tv_nsec == 0; }

}  // namespace

extern "C" {

int64_t zorflash_time_scale_clock(int64_t scale, int64_t base, int64_t real) {
    return Saturated(base + (static_cast<__int128>(real) - base) * scale);
}

int64_t zorflash_time_scale_real_deadline(int64_t scale, int64_t base, int64_t deadline) {
    const __int128 ahead = static_cast<__int128>(deadline) - base;
    // Division truncates toward zero: up for a deadline before the base, down after it.
    return Saturated(base + ahead / scale + (ahead % scale > 0 ? 1 : 0));
}

int64_t zorflash_time_scale_wall_deadline(int64_t scale, int64_t now, int64_t deadline) {
    return deadline <= now ? deadline : zorflash_time_scale_real_deadline(scale, now, deadline);
}

int64_t zorflash_time_scale_factor() { return Load().scale; }

int64_t zorflash_time_scale_base(clockid_t clock) {
    const int base = BaseOf(clock);
    return base >= 0 ? Load().bases[base] : -1;
}

int clock_gettime(clockid_t clock, timespec* now) {
    const Loaded& l = Load();
    const int result = l.next.clockGettime(clock, now);
    const int base = BaseOf(clock);
    if (result == 0 && base >= 0) {
        *now = FromNanos(zorflash_time_scale_clock(l.scale, l.bases[base], ToNanos(*now)));
    }
    return result;
}

int nanosleep(const timespec* wanted, timespec* remaining) {
    timespec real;
    const int result = Load().next.nanosleep(RealLength(wanted, &real), remaining);
    if (result != 0 && errno == EINTR) ScaledRemaining(wanted, remaining);
    return result;
}

// A length on a CPU-time clock is CPU time, which is not scaled.
int clock_nanosleep(clockid_t clock, int flags, const timespec* wanted, timespec* remaining) {
    const auto next = Load().next.clockNanosleep;
    timespec real;
    if ((flags & TIMER_ABSTIME) != 0) {
        return next(clock, flags, RealDeadline(clock, wanted, false, &real), remaining);
    }
    if (BaseOf(clock) == kOtherClock) return next(clock, flags, wanted, remaining);
    const int result = next(clock, flags, RealLength(wanted, &real), remaining);
    if (result == EINTR) ScaledRemaining(wanted, remaining);
    return result;
}

int usleep(useconds_t microseconds) {
    return Load().next.usleep(static_cast<useconds_t>(RealLength(microseconds)));
}

// The C library's sleep() calls its nanosleep directly, past the one above.
unsigned int sleep(unsigned int seconds) {
    const timespec wanted{static_cast<time_t>(seconds), 0};
    timespec real, remaining{};
    if (Load().next.nanosleep(RealLength(&wanted, &real), &remaining) == 0) return 0;
    ScaledRemaining(&wanted, &remaining);
    return static_cast<unsigned int>(remaining.tv_sec + (remaining.tv_nsec > 0 ? 1 : 0));
}

int poll(pollfd* fds, nfds_t count, int timeoutMs) {
    return Load().next.poll(fds, count, RealTimeoutMs(timeoutMs));
}

// poll and ppoll as a program built with _FORTIFY_SOURCE calls them.
int __poll_chk(pollfd* fds, nfds_t count, int timeoutMs, size_t fdsLength) {
    return Load().next.pollChk(fds, count, RealTimeoutMs(timeoutMs), fdsLength);
}

int ppoll(pollfd* fds, nfds_t count, const timespec* timeout, const sigset_t* mask) {
    timespec real;
    return Load().next.ppoll(fds, count, RealLength(timeout, &real), mask);
}

int __ppoll_chk(pollfd* fds, nfds_t count, const timespec* timeout, const sigset_t* mask,
                size_t fdsLength) {
    timespec real;
    return Load().next.ppollChk(fds, count, RealLength(timeout, &real), mask, fdsLength);
}

// Linux leaves the time not waited in select's timeout; it is given back scaled.
int select(int count, fd_set* readable, fd_set* writable, fd_set* failed, timeval* timeout) {
    const auto next = Load().next.select;
    if (timeout == nullptr || timeout->tv_sec < 0 || timeout->tv_usec < 0 ||
        timeout->tv_usec >= 1000000) {
        return next(count, readable, writable, failed, timeout);
    }
    const timespec wanted{timeout->tv_sec, timeout->tv_usec * 1000};
    const int64_t micros = (RealLength(ToNanos(wanted)) + 999) / 1000;
    timeval real{static_cast<time_t>(micros / 1000000), static_cast<suseconds_t>(micros % 1000000)};
    const int result = next(count, readable, writable, failed, &real);
    timespec left{real.tv_sec, real.tv_usec * 1000};
    ScaledRemaining(&wanted, &left);
    *timeout = timeval{left.tv_sec, static_cast<suseconds_t>(left.tv_nsec / 1000)};
    return result;
}

int pselect(int count, fd_set* readable, fd_set* writable, fd_set* failed,
            const timespec* timeout, const sigset_t* mask) {
    timespec real;
    return Load().next.pselect(count, readable, writable, failed, RealLength(timeout, &real), mask);
}

int epoll_wait(int epoll, epoll_event* events, int capacity, int timeoutMs) {
    return Load().next.epollWait(epoll, events, capacity, RealTimeoutMs(timeoutMs));
}

int epoll_pwait(int epoll, epoll_event* events, int capacity, int timeoutMs, const sigset_t* mask) {
    return Load().next.epollPwait(epoll, events, capacity, RealTimeoutMs(timeoutMs), mask);
}

int epoll_pwait2(int epoll, epoll_event* events, int capacity, const timespec* timeout,
                 const sigset_t* mask) {
    timespec real;
    return Load().next.epollPwait2(epoll, events, capacity, RealLength(timeout, &real), mask);
}

int pthread_cond_timedwait(pthread_cond_t* condition, pthread_mutex_t* mutex,
                           const timespec* deadline) {
    const clockid_t clock = CondIsMonotonic(condition) ? CLOCK_MONOTONIC : CLOCK_REALTIME;
    timespec real;
    return Load().next.condTimedwait(condition, mutex, RealDeadline(clock, deadline, true, &real));
}

int pthread_cond_clockwait(pthread_cond_t* condition, pthread_mutex_t* mutex, clockid_t clock,
                           const timespec* deadline) {
    timespec real;
    return Load().next.condClockwait(condition, mutex, clock,
                                     RealDeadline(clock, deadline, true, &real));
}

int sem_timedwait(sem_t* semaphore, const timespec* deadline) {
    timespec real;
    return Load().next.semTimedwait(semaphore, RealDeadline(CLOCK_REALTIME, deadline, true, &real));
}

int sem_clockwait(sem_t* semaphore, clockid_t clock, const timespec* deadline) {
    timespec real;
    return Load().next.semClockwait(semaphore, clock, RealDeadline(clock, deadline, true, &real));
}

// A zero time disarms the timer, and a zero interval makes it fire once: both stay zero.
int timerfd_settime(int fd, int flags, const itimerspec* value, itimerspec* old) {
    const auto next = Load().next.timerfdSettime;
    clockid_t clock;
    bool wasAbsolute;
    if (value == nullptr || !Valid(&value->it_value) || !Valid(&value->it_interval) ||
        !TimerOf(fd, &clock, &wasAbsolute)) {
        return next(fd, flags, value, old);
    }
    const bool absolute = (flags & TFD_TIMER_ABSTIME) != 0;
    itimerspec real = *value;
    if (TimerScaled(clock, absolute)) {
        if (absolute && !IsZero(value->it_value)) {
            RealDeadline(clock, &value->it_value, false, &real.it_value);
        }
        if (!absolute) RealLength(&value->it_value, &real.it_value);
        RealLength(&value->it_interval, &real.it_interval);
    }
    const int result = next(fd, flags, &real, old);
    if (result == 0 && old != nullptr && TimerScaled(clock, wasAbsolute)) ScaleTimerUp(old);
    return result;
}

int timerfd_gettime(int fd, itimerspec* current) {
    const int result = Load().next.timerfdGettime(fd, current);
    clockid_t clock;
    bool absolute;
    if (result == 0 && TimerOf(fd, &clock, &absolute) && TimerScaled(clock, absolute)) {
        ScaleTimerUp(current);
    }
    return result;
}

}  // extern "C"
