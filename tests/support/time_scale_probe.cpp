// Run under the time-scale preload by time_scale_test.cpp. With the name of a wait, makes that
// wait kWaitSeconds long on its own clock, and fails unless it timed out and its monotonic
// clock went at least that far meanwhile (the test bounds the real time it takes). With
// "clock", checks a monotonic reading against the preload's line between two real readings
// and prints the clock's base.
#include <dlfcn.h>
#include <errno.h>
#include <poll.h>
#include <pthread.h>
#include <semaphore.h>
#include <sys/epoll.h>
#include <sys/select.h>
#include <sys/syscall.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace {

constexpr int kWaitSeconds = 60;
constexpr timespec kWait{kWaitSeconds, 0};

int64_t Nanos(const timespec& t) { return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec; }

timespec Now(clockid_t clock) {
    timespec t;
    clock_gettime(clock, &t);
    return t;
}

timespec Later(clockid_t clock) {
    timespec t = Now(clock);
    t.tv_sec += kWaitSeconds;
    return t;
}

bool CondTimesOut(clockid_t clock, bool clockwait) {
    pthread_condattr_t attr;
    pthread_condattr_init(&attr);
    pthread_condattr_setclock(&attr, clock);
    pthread_cond_t condition;
    pthread_cond_init(&condition, &attr);
    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
    pthread_mutex_lock(&mutex);
    const timespec deadline = Later(clock);
    return (clockwait ? pthread_cond_clockwait(&condition, &mutex, clock, &deadline)
                      : pthread_cond_timedwait(&condition, &mutex, &deadline)) == ETIMEDOUT;
}

bool SemTimesOut(bool clockwait) {
    sem_t semaphore;
    sem_init(&semaphore, 0, 0);
    const timespec deadline = Later(clockwait ? CLOCK_MONOTONIC : CLOCK_REALTIME);
    return (clockwait ? sem_clockwait(&semaphore, CLOCK_MONOTONIC, &deadline)
                      : sem_timedwait(&semaphore, &deadline)) != 0 && errno == ETIMEDOUT;
}

// The timer's interval reads back as it was set (scaled down, then up); a read waits for
// its first expiry.
bool TimerExpires(int flags) {
    const int fd = timerfd_create(CLOCK_MONOTONIC, 0);
    const itimerspec set{kWait, flags != 0 ? Later(CLOCK_MONOTONIC) : kWait};
    itimerspec got;
    uint64_t expiries;
    return timerfd_settime(fd, flags, &set, nullptr) == 0 && timerfd_gettime(fd, &got) == 0 &&
           Nanos(got.it_interval) == Nanos(kWait) && read(fd, &expiries, sizeof expiries) == 8;
}

bool EpollTimesOut(bool pwait) {
    epoll_event event;
    const int fd = epoll_create1(0), ms = kWaitSeconds * 1000;
    return (pwait ? epoll_pwait(fd, &event, 1, ms, nullptr) : epoll_wait(fd, &event, 1, ms)) == 0;
}

timeval selectTimeout{kWaitSeconds, 0};

struct Wait {
    const char* name;
    bool (*timesOut)();
};
const Wait kWaits[] = {
    {"usleep", [] { return usleep(kWaitSeconds * 1000000u) == 0; }},
    {"sleep", [] { return sleep(kWaitSeconds) == 0; }},
    {"nanosleep", [] { return nanosleep(&kWait, nullptr) == 0; }},
    {"clock_nanosleep", [] { return clock_nanosleep(CLOCK_MONOTONIC, 0, &kWait, nullptr) == 0; }},
    {"clock_nanosleep_wall", [] { return clock_nanosleep(CLOCK_REALTIME, 0, &kWait, nullptr) == 0; }},
    {"clock_nanosleep_deadline", [] {
         const timespec deadline = Later(CLOCK_BOOTTIME);
         return clock_nanosleep(CLOCK_BOOTTIME, TIMER_ABSTIME, &deadline, nullptr) == 0;
     }},
    {"poll", [] { return poll(nullptr, 0, kWaitSeconds * 1000) == 0; }},
    {"ppoll", [] { return ppoll(nullptr, 0, &kWait, nullptr) == 0; }},
    {"select", [] { return select(0, nullptr, nullptr, nullptr, &selectTimeout) == 0; }},
    {"pselect", [] { return pselect(0, nullptr, nullptr, nullptr, &kWait, nullptr) == 0; }},
    {"epoll_wait", [] { return EpollTimesOut(false); }},
    {"epoll_pwait", [] { return EpollTimesOut(true); }},
    {"cond_timedwait_monotonic", [] { return CondTimesOut(CLOCK_MONOTONIC, false); }},
    {"cond_timedwait_wall", [] { return CondTimesOut(CLOCK_REALTIME, false); }},
    {"cond_clockwait", [] { return CondTimesOut(CLOCK_MONOTONIC, true); }},
    {"sem_timedwait", [] { return SemTimesOut(false); }},
    {"sem_clockwait", [] { return SemTimesOut(true); }},
    {"timerfd", [] { return TimerExpires(0); }},
    {"timerfd_deadline", [] { return TimerExpires(TFD_TIMER_ABSTIME); }},
};

// A reading between two real ones lies between their places on the preload's line.
int CheckClock() {
    using Line = int64_t (*)(int64_t, int64_t, int64_t);
    const auto line = reinterpret_cast<Line>(dlsym(RTLD_DEFAULT, "zorflash_time_scale_clock"));
    const auto base =
        reinterpret_cast<int64_t (*)(clockid_t)>(dlsym(RTLD_DEFAULT, "zorflash_time_scale_base"));
    const auto scale = reinterpret_cast<int64_t (*)()>(dlsym(RTLD_DEFAULT, "zorflash_time_scale_factor"));
    if (line == nullptr || base == nullptr || scale == nullptr) return std::puts("no preload"), 1;
    timespec before, after;
    syscall(SYS_clock_gettime, CLOCK_MONOTONIC, &before);
    const int64_t scaled = Nanos(Now(CLOCK_MONOTONIC));
    syscall(SYS_clock_gettime, CLOCK_MONOTONIC, &after);
    const int64_t at = base(CLOCK_MONOTONIC);
    std::printf("%" PRId64 "\n", at);
    return at <= Nanos(before) && line(scale(), at, Nanos(before)) <= scaled &&
                   scaled <= line(scale(), at, Nanos(after)) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    if (std::strcmp(argv[1], "clock") == 0) return CheckClock();
    for (const Wait& wait : kWaits) {
        if (std::strcmp(wait.name, argv[1]) != 0) continue;
        const int64_t start = Nanos(Now(CLOCK_MONOTONIC));
        if (!wait.timesOut()) return std::printf("%s did not time out\n", wait.name), 1;
        const int64_t passed = Nanos(Now(CLOCK_MONOTONIC)) - start;
        if (passed >= Nanos(kWait)) return 0;
        return std::printf("%s ended after %" PRId64 " ns\n", wait.name, passed), 1;
    }
    return 2;
}
