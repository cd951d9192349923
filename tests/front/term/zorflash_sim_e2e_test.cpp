// zorflash-sim as a user runs it: in a pseudo-terminal with keys, or with its standard
// streams on pipes as a script runs it. The simulated machine runs on its virtual clock
// (ZORFLASH_SIM_FAST=1) except where a test needs the update to take real time.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "expected_texts.h"
#include "run_program.h"

#ifndef ZORFLASH_SIM_PROGRAM
#error "ZORFLASH_SIM_PROGRAM names the program under test"
#endif

namespace {

constexpr int kDeadlineMs = 60000;

struct Child {
    pid_t pid = -1;
    int input = -1;   // keys to the program
    int output = -1;  // what it writes (the terminal, or standard output)
    int errors = -1;  // standard error when on pipes
    std::string seen;
    std::string seenErrors;
};

// A lock of the child's own: zorflash-sim locks in XDG_RUNTIME_DIR, a folder only the user
// may write, here one per child below a folder removed when the test ends.
std::string LockPath() {
    static int counter = 0;
    // A folder of the user's own, as XDG_RUNTIME_DIR is, in the test's temporary folder.
    const std::string folder = test_temp_folder() + "/" + std::to_string(counter++);
    mkdir(folder.c_str(), 0700);
    return folder + "/zorflash-sim.lock";
}

// The environment of the child: the case, the clock, a lock of its own.
void SetChildEnvironment(const char* scenario, bool fast, const std::string& lock) {
    setenv("ZORFLASH_SIM", scenario, 1);
    if (fast) {
        setenv("ZORFLASH_SIM_FAST", "1", 1);
    } else {
        unsetenv("ZORFLASH_SIM_FAST");
    }
    setenv("XDG_RUNTIME_DIR", lock.substr(0, lock.rfind('/')).c_str(), 1);
    setenv("TERM", "xterm", 1);
}

void Exec(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(ZORFLASH_SIM_PROGRAM));
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(ZORFLASH_SIM_PROGRAM, argv.data());
    _exit(127);
}

Child StartInTerminal(const char* scenario, bool fast, const std::vector<std::string>& arguments,
                      const std::string& lock) {
    Child child;
    winsize size{};
    size.ws_row = 40;
    size.ws_col = 100;
    int master = -1;
    child.pid = forkpty(&master, nullptr, nullptr, &size);
    if (child.pid == 0) {
        SetChildEnvironment(scenario, fast, lock);
        Exec(arguments);
    }
    child.input = master;
    child.output = master;
    return child;
}

Child StartOnPipes(const char* scenario, bool fast, const std::vector<std::string>& arguments,
                   const std::string& lock) {
    int in[2], out[2], err[2];
    if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) return Child{};
    Child child;
    child.pid = fork();
    if (child.pid == 0) {
        dup2(in[0], STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        close(in[1]);
        close(out[0]);
        close(err[0]);
        SetChildEnvironment(scenario, fast, lock);
        Exec(arguments);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    child.input = in[1];
    child.output = out[0];
    child.errors = err[0];
    return child;
}

// Reads what the program writes until `done` holds for it or the deadline passes; false
// when the deadline passed or the program closed its output first.
template <typename Done>
bool ReadUntil(Child* child, Done done, int deadlineMs = kDeadlineMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(deadlineMs);
    while (!done(child->seen)) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now()).count();
        if (left <= 0) return false;
        pollfd fds[2] = {{child->output, POLLIN, 0}, {child->errors, POLLIN, 0}};
        const nfds_t count = child->errors >= 0 ? 2 : 1;
        if (poll(fds, count, static_cast<int>(left)) <= 0) continue;
        char buffer[4096];
        if (count == 2 && (fds[1].revents & POLLIN)) {
            const ssize_t n = read(child->errors, buffer, sizeof buffer);
            if (n > 0) child->seenErrors.append(buffer, static_cast<size_t>(n));
        }
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            const ssize_t n = read(child->output, buffer, sizeof buffer);
            if (n <= 0) return done(child->seen);  // the terminal closed: the program ended
            child->seen.append(buffer, static_cast<size_t>(n));
        }
    }
    return true;
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

auto Seen(const std::string& part) {
    return [part](const std::string& text) { return Contains(text, part); };
}

void Send(const Child& child, const char* keys) {
    ASSERT_EQ(write(child.input, keys, std::strlen(keys)), static_cast<ssize_t>(std::strlen(keys)));
}

// Waits for the program's end and returns its exit code (-1 on a deadline or a signal).
int Finish(Child* child, int deadlineMs = kDeadlineMs) {
    ReadUntil(child, [](const std::string&) { return false; }, 0);
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(deadlineMs);
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(child->pid, &status, WNOHANG);
        if (done == child->pid) break;
        if (std::chrono::steady_clock::now() > end) {
            kill(child->pid, SIGKILL);
            waitpid(child->pid, &status, 0);
            return -1;
        }
        // Keep draining so that the program never blocks on a full terminal.
        pollfd fd{child->output, POLLIN, 0};
        if (poll(&fd, 1, 20) > 0) {
            char buffer[4096];
            const ssize_t n = read(child->output, buffer, sizeof buffer);
            if (n > 0) child->seen.append(buffer, static_cast<size_t>(n));
        }
    }
    if (child->errors >= 0) {
        char buffer[4096];
        ssize_t n;
        while ((n = read(child->errors, buffer, sizeof buffer)) > 0) {
            child->seenErrors.append(buffer, static_cast<size_t>(n));
        }
        close(child->errors);
    }
    if (child->input != child->output) close(child->input);
    close(child->output);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ZorflashSimTerminal, FirstTickUpdateAndExit) {
    Child child = StartInTerminal("family0", true, {}, LockPath());
    ASSERT_GT(child.pid, 0);
    ASSERT_TRUE(ReadUntil(&child, [](const std::string& s) {
        return Contains(s, "Current Version : 0140") && Contains(s, "New Version      : 0610");
    })) << child.seen;
    EXPECT_TRUE(Contains(child.seen, TEXT_CAPTION));
    EXPECT_TRUE(Contains(child.seen, "[ Update ]"));
    const size_t beforeUpdate = child.seen.size();
    Send(child, "u");
    ASSERT_TRUE(ReadUntil(&child, Seen(TEXT_UPDATE_COMPLETE))) << child.seen;
    // Exit is enabled again at the end (drawn in brackets), Update stays disabled.
    ASSERT_TRUE(ReadUntil(&child, [](const std::string& s) {
        const size_t last = s.rfind(TEXT_UPDATE_COMPLETE);
        return last != std::string::npos && Contains(s.substr(last), "[ Exit ]");
    })) << child.seen;
    const std::string update = child.seen.substr(beforeUpdate);
    // Frames are drawn at most every 30 ms, so short-lived stage texts may be skipped on
    // the virtual clock; the notice stays for the whole update.
    EXPECT_TRUE(Contains(update, "Update firmware takes several minutes."));
    EXPECT_TRUE(Contains(update, "During updating, you should NOT shut down and restart PC."));
    // The bar moved: many different percentages were drawn on the way.
    std::set<std::string> percents;
    const std::regex percent("\\] +([0-9]+)%");
    for (auto it = std::sregex_iterator(update.begin(), update.end(), percent);
         it != std::sregex_iterator(); ++it) {
        percents.insert((*it)[1]);
    }
    EXPECT_GE(percents.size(), 20u);
    EXPECT_TRUE(percents.count("50"));
    Send(child, "e");
    EXPECT_EQ(Finish(&child), 2) << child.seen;
    // The version read back after the update.
    EXPECT_TRUE(Contains(child.seen.substr(beforeUpdate), "Current Version : 0610"));
}

TEST(ZorflashSimTerminal, EscapeEndsWithoutUpdate) {
    Child child = StartInTerminal("family1", true, {}, LockPath());
    ASSERT_TRUE(ReadUntil(&child, Seen("New Version      : 0139 P0006"))) << child.seen;
    EXPECT_TRUE(Contains(child.seen, "Current Version : 0139 P0002"));
    Send(child, "\x1b");
    EXPECT_EQ(Finish(&child), 2);
}

TEST(ZorflashSimTerminal, CtrlCDuringAnUpdateWaitsForItsEnd) {
    // Real time: the boot loader of this case takes seconds to appear and is then refused,
    // so the worker is certainly running when Ctrl-C arrives, and ends a moment later.
    Child child = StartInTerminal("old-bootloader", false, {}, LockPath());
    ASSERT_TRUE(ReadUntil(&child, Seen("New Version      : 0610"))) << child.seen;
    Send(child, "u");
    ASSERT_TRUE(ReadUntil(&child, Seen(TEXT_UPDATING))) << child.seen;
    // The switch and the wait for the boot loader show nothing else: the seconds go by
    // beside the status.
    ASSERT_TRUE(ReadUntil(&child, Seen(TEXT_UPDATING "\x1b[2m  1 s"))) << child.seen;
    Send(child, "\x03");
    ASSERT_TRUE(ReadUntil(&child, Seen("the update goes on"))) << child.seen;
    // The program ends by itself once the worker has ended, with the worker's result.
    EXPECT_EQ(Finish(&child), 2) << child.seen;
    EXPECT_TRUE(Contains(child.seen,
                         TEXT_MCU_MISMATCH));
}

TEST(ZorflashSimLines, ScriptFollowsTheDialogLineByLine) {
    Child child = StartOnPipes("family0", true, {}, LockPath());
    ASSERT_TRUE(ReadUntil(&child, Seen("New Version      : 0610\n"))) << child.seen;
    EXPECT_TRUE(Contains(child.seen, "Current Version : 0140\n"));
    // The script's keys end with the Update: the update runs to its end, then the end of
    // the input acts as Exit.
    Send(child, "u\n");
    close(child.input);
    child.input = -1;
    ASSERT_TRUE(ReadUntil(&child, Seen("Status : " TEXT_UPDATE_COMPLETE "\n"))) << child.seen;
    ASSERT_TRUE(ReadUntil(&child, Seen("Exit button : enabled\n"))) << child.seen;
    EXPECT_TRUE(Contains(child.seen, "Status : " TEXT_UPDATING "\n"));
    EXPECT_TRUE(Contains(child.seen, "Status : Erasing....\n"));
    EXPECT_TRUE(Contains(child.seen, "Progress : 50%\n"));
    EXPECT_TRUE(Contains(child.seen, "Update button : disabled\n"));
    EXPECT_FALSE(Contains(child.seen, "\x1b["));  // no control sequences in a log
    EXPECT_EQ(Finish(&child), 2);
}

TEST(ZorflashSimLines, NoSensorThenExitGivesZero) {
    Child child = StartOnPipes("nosensor", true, {}, LockPath());
    ASSERT_TRUE(ReadUntil(&child, Seen("Current Version : ????\n"))) << child.seen;
    Send(child, "u");
    ASSERT_TRUE(ReadUntil(&child, Seen("Status : " TEXT_NO_CONNECTION "\n"))) << child.seen;
    Send(child, "e");
    EXPECT_EQ(Finish(&child), 0);
}

struct UnattendedRun {
    const char* name;
    const char* scenario;
    std::vector<std::string> arguments;
    int exitCode;
    const char* lastStatus;  // null: no status line at all
};

TEST(ZorflashSimLines, UnattendedRunsEndByThemselves) {
    const UnattendedRun runs[] = {
        {"F0", "family0", {"/F0", "fw.bin"}, 2, "Status : " TEXT_UPDATE_COMPLETE "\n"},
        {"V", "uptodate", {"/V"}, 2,
         "Status : " TEXT_UP_TO_DATE "\n"},
        {"VNoSensor", "nosensor", {"/V"}, 0,
         "Status : " TEXT_NO_CONNECTION "\n"},
        {"F0NoFile", "family0", {"/F0"}, 4, nullptr},
        {"F2Refused", "refused-block", {"/F2", "x"}, 2, "Status : Program Error. \n"},
        // `zorflash < /dev/null`: the versions are shown, then the ended input exits.
        {"NoKeys", "family0", {}, 2, nullptr},
    };
    for (const UnattendedRun& run : runs) {
        SCOPED_TRACE(run.name);
        Child child = StartOnPipes(run.scenario, true, run.arguments, LockPath());
        close(child.input);  // no keys: nobody is there
        child.input = -1;
        EXPECT_EQ(Finish(&child), run.exitCode) << child.seen;
        if (run.lastStatus != nullptr) {
            const size_t last = child.seen.rfind("Status : ");
            ASSERT_NE(last, std::string::npos) << child.seen;
            EXPECT_EQ(child.seen.substr(last, std::strlen(run.lastStatus)), run.lastStatus);
        } else {
            EXPECT_FALSE(Contains(child.seen, "Status : ")) << child.seen;
        }
    }
}

TEST(ZorflashSimLines, HangUpDuringAnUpdateWaitsForItsEnd) {
    Child child = StartOnPipes("old-bootloader", false, {}, LockPath());
    ASSERT_TRUE(ReadUntil(&child, Seen("New Version      : 0610\n"))) << child.seen;
    Send(child, "u");
    ASSERT_TRUE(ReadUntil(&child, Seen("Status : " TEXT_UPDATING "\n"))) << child.seen;
    kill(child.pid, SIGHUP);
    EXPECT_EQ(Finish(&child), 2) << child.seen;
}

TEST(ZorflashSimLines, SecondInstanceIsRefused) {
    const std::string lock = LockPath();
    const int fd = open(lock.c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);  // as a running instance holds it
    Child child = StartOnPipes("family0", true, {"/F0", "fw.bin"}, lock);
    EXPECT_EQ(Finish(&child), 2);
    EXPECT_TRUE(Contains(child.seenErrors, "another instance is already running"))
        << child.seenErrors;
    EXPECT_FALSE(Contains(child.seen, "Current Version"));  // nothing was shown or queried
    close(fd);
    unlink(lock.c_str());
}

TEST(ZorflashSimLines, UnknownCaseIsNamed) {
    Child child = StartOnPipes("no-such-case", true, {}, LockPath());
    EXPECT_EQ(Finish(&child), 2);
    EXPECT_TRUE(Contains(child.seenErrors, "no-such-case")) << child.seenErrors;
    EXPECT_TRUE(Contains(child.seenErrors, "refused-block")) << child.seenErrors;
}

// The README's first command on a fresh machine: root, no login session, so neither
// XDG_RUNTIME_DIR nor /run/user/0. The run updates, locking in /run (here a /run of its own).
TEST(ZorflashSimLines, RootWithoutARuntimeFolderLocksInRun) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root for a mount namespace of its own";
    const std::string line =
        "env -u XDG_RUNTIME_DIR ZORFLASH_SIM=family0 ZORFLASH_SIM_FAST=1 unshare -m sh -c '"
        "mount -n -t tmpfs -o mode=0755 none /run && " ZORFLASH_SIM_PROGRAM " /V </dev/null >/dev/null; "
        "test $? = 2 && test -f /run/zorflash-sim.lock'";
    EXPECT_EQ(std::system(line.c_str()), 0);
}

}  // namespace
