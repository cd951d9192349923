// The terminal front end's dialog seam: control changes from another thread are carried
// out by the main thread's loop while the caller waits; the progress bar, texts, timers,
// thread handles, the instance lock and the argument join.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "app/long_options.h"
#include "front/term/term_front.h"
#include "platform/term/term_model.h"

namespace {

WindowHandle const kWindow = &termModel;

class TermUi : public ::testing::Test {
protected:
    void SetUp() override { TermUiBegin(nullptr, nullptr); }
    void TearDown() override { TermUiEnd(); }

    // The main loop's part: wait for the wake-up, carry out what is queued.
    static void ServeUntil(const std::atomic<bool>& done) {
        while (!done.load()) {
            TermUiRunQueuedCalls();
            std::this_thread::yield();
        }
        TermUiRunQueuedCalls();
    }
};

TEST_F(TermUi, WorkerChangeWaitsForTheMainThread) {
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        ui_set_item_text(kWindow, kIdStatus, "Now Updating....");
        returned = true;
    });
    // Nothing happens until the main thread serves the queue.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(returned.load());
    EXPECT_STREQ(TermControlFor(kIdStatus)->text, "");
    // The wake descriptor tells the loop that a call is waiting.
    char byte = 0;
    EXPECT_EQ(read(TermUiWakeFd(), &byte, 1), 1);
    ServeUntil(returned);
    worker.join();
    EXPECT_STREQ(TermControlFor(kIdStatus)->text, "Now Updating....");
}

TEST_F(TermUi, ManyChangesFromAWorkerArriveInOrder) {
    std::atomic<bool> done{false};
    int positions = 0;
    std::thread worker([&] {
        ui_set_progress_range(kWindow, 2000);
        for (int i = 0; i < 1500; ++i) {
            ui_step_progress(kWindow);
            if (i % 100 == 0) {
                char text[32];
                std::snprintf(text, sizeof text, "step %d", i);
                ui_set_item_text(kWindow, kIdStatus, text);
                ui_enable_item(kWindow, kIdExit, i % 200 != 0);
            }
        }
        char buffer[64];
        positions = static_cast<int>(ui_get_item_text(kWindow, kIdStatus, buffer, sizeof buffer));
        done = true;
    });
    ServeUntil(done);
    worker.join();
    EXPECT_EQ(termModel.progress.position, 1500);
    EXPECT_EQ(termModel.progress.maximum, 2000);
    EXPECT_STREQ(TermControlFor(kIdStatus)->text, "step 1400");
    EXPECT_EQ(positions, 9);  // the length of "step 1400", read through the main thread
    EXPECT_FALSE(TermControlFor(kIdExit)->enabled);
}

TEST_F(TermUi, ProgressBar) {
    ui_set_progress_range(kWindow, 570);
    EXPECT_EQ(termModel.progress.maximum, 570);
    ui_set_progress_position(kWindow, 568);
    EXPECT_EQ(termModel.progress.position, 568);
    ui_step_progress(kWindow);
    ui_step_progress(kWindow);
    EXPECT_EQ(termModel.progress.position, 570);
    // The position stays within the range: past the maximum the bar stays full.
    ui_step_progress(kWindow);
    EXPECT_EQ(termModel.progress.position, 570);
    ui_set_progress_position(kWindow, 0);
    EXPECT_EQ(termModel.progress.position, 0);
}

TEST_F(TermUi, TextIsCutToTheCallersBuffer) {
    ui_set_item_text(kWindow, kIdFileName, "firmware.bin");
    char buffer[5];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(ui_get_item_text(kWindow, kIdFileName, buffer, sizeof buffer), 4u);
    EXPECT_STREQ(buffer, "firm");
    // A control the dialog does not have reads as empty and takes no text.
    ui_set_item_text(kWindow, 999, "nowhere");
    char other[8] = "abc";
    EXPECT_EQ(ui_get_item_text(kWindow, 999, other, sizeof other), 0u);
    EXPECT_STREQ(other, "");
}

TEST_F(TermUi, TimerSetAndKilled) {
    ui_set_timer(kWindow, kMainTimerId, 100);
    const uint64_t now = TermNowMs();
    ASSERT_EQ(termModel.timers[0].id, kMainTimerId);
    EXPECT_EQ(termModel.timers[0].periodMs, 100u);
    EXPECT_GE(termModel.timers[0].dueMs, now);
    EXPECT_LE(termModel.timers[0].dueMs, now + 100);
    ui_kill_timer(kWindow, kMainTimerId);
    EXPECT_EQ(termModel.timers[0].id, 0u);
}

TEST_F(TermUi, QuitCarriesTheExitCode) {
    ui_post_quit(4);
    EXPECT_TRUE(termModel.quitPosted);
    EXPECT_EQ(termModel.exitCode, 4);
}

std::atomic<bool> letThreadEnd{false};
unsigned WaitingThread(void* result) {
    while (!letThreadEnd.load()) std::this_thread::yield();
    return *static_cast<unsigned*>(result);
}

TEST_F(TermUi, ThreadRunsUntilItsEndThenGivesItsResult) {
    unsigned result = 7;
    letThreadEnd = false;
    ThreadHandle thread = ui_thread_start(WaitingThread, &result);
    ASSERT_NE(thread, nullptr);
    uint32_t code = 0;
    EXPECT_FALSE(ui_thread_ended(thread, &code));
    EXPECT_EQ(TermUiLiveThreads(), 1);
    letThreadEnd = true;
    while (!ui_thread_ended(thread, &code)) std::this_thread::yield();
    EXPECT_EQ(code, 7u);
    ui_thread_close(thread);
    while (TermUiLiveThreads() != 0) std::this_thread::yield();
}

TEST_F(TermUi, ClosingARunningThreadLeavesItRunning) {
    unsigned result = 2;
    letThreadEnd = false;
    ThreadHandle thread = ui_thread_start(WaitingThread, &result);
    ASSERT_NE(thread, nullptr);
    ui_thread_close(thread);  // frees itself when it ends (the leak checker would notice)
    EXPECT_EQ(TermUiLiveThreads(), 1);
    letThreadEnd = true;
    while (TermUiLiveThreads() != 0) std::this_thread::yield();
}

TEST(TermInstanceLock, SecondHolderIsRefused) {
    char path[] = "/tmp/zorflash-lock-test-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    char reason[256];
    EXPECT_EQ(TermLockInstance(path, reason, sizeof reason), TermLockResult::Taken);
    // Another open of the same file is another holder, as a second process would be.
    const int other = open(path, O_RDWR);
    ASSERT_GE(other, 0);
    EXPECT_NE(flock(other, LOCK_EX | LOCK_NB), 0);
    TermUnlockInstance();
    EXPECT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(TermLockInstance(path, reason, sizeof reason), TermLockResult::Held);
    close(other);
    unlink(path);

    // A lock file it creates is writable by its creator only; a symbolic link planted in
    // its place is not followed (its target is neither created nor locked).
    EXPECT_EQ(TermLockInstance(path, reason, sizeof reason), TermLockResult::Taken);
    struct stat made;
    ASSERT_EQ(stat(path, &made), 0);
    EXPECT_EQ(made.st_mode & 0022, 0u);
    TermUnlockInstance();
    unlink(path);
    const std::string target = std::string(path) + "-target";
    ASSERT_EQ(symlink(target.c_str(), path), 0);
    EXPECT_EQ(TermLockInstance(path, reason, sizeof reason), TermLockResult::Unusable);
    EXPECT_STREQ(reason, "it is a symbolic link");
    EXPECT_NE(access(target.c_str(), F_OK), 0);
    TermUnlockInstance();
    unlink(path);
}

// The words of the command line: long options taken off, the rest joined for the slash
// options' parser. No long option may ever reach that parser: "--version" would read as /V.
struct ArgumentCase {
    std::vector<const char*> arguments;
    size_t capacity;
    const char* rest;
    LongOptionsOutcome outcome;
    const char* firmwareDirectory;
    const char* error;
};

TEST(LongOptions, AreTakenOffTheCommandLine) {
    const LongOptionsOutcome run = LongOptionsOutcome::Run;
    const LongOptionsOutcome usage = LongOptionsOutcome::UsageError;
    const ArgumentCase cases[] = {
        {{"zorflash"}, 64, "", run, "", ""},
        {{"zorflash", "/F0", "image.bin"}, 64, "/F0 image.bin", run, "", ""},
        {{"zorflash", "a b", "c"}, 64, "a b c", run, "", ""},
        {{"zorflash", "abcdef", "ghij"}, 8, "abcdef ", run, "", ""},
        {{"zorflash", "abcdefghij"}, 4, "abc", run, "", ""},
        {{"zorflash", "--help", "/V"}, 64, "/V", LongOptionsOutcome::ShowHelp, "", ""},
        {{"zorflash", "/F0", "--version"}, 64, "/F0", LongOptionsOutcome::ShowVersion, "", ""},
        {{"zorflash", "--firmware-dir", "/srv/fw dir", "/V"}, 64, "/V", run, "/srv/fw dir", ""},
        {{"zorflash", "--firmware-dir=/srv/fw", "x"}, 64, "x", run, "/srv/fw", ""},
        {{"zorflash", "--verbose", "--help"}, 64, "", usage, "",
         "zorflash: unknown option --verbose; see zorflash --help"},
        {{"zorflash", "--"}, 64, "", usage, "", "zorflash: unknown option --; see zorflash --help"},
        {{"zorflash", "--firmware-dir"}, 64, "", usage, "",
         "zorflash: a value is missing after --firmware-dir; see zorflash --help"},
        {{"zorflash", "--help=me"}, 64, "", usage, "",
         "zorflash: no value is taken by --help=me; see zorflash --help"},
        {{"zorflash", "-V", "-F0"}, 64, "-V -F0", run, "", ""},
    };
    for (const ArgumentCase& c : cases) {
        LongOptions options;
        char rest[80];
        std::memset(rest, 'x', sizeof rest);
        TakeLongOptionsFromArguments(static_cast<int>(c.arguments.size()), c.arguments.data(),
                                     Edition{kEditionLinux, "zorflash"}, &options, rest,
                                     c.capacity);
        const std::string name = c.arguments.size() > 1 ? c.arguments[1] : "(none)";
        EXPECT_STREQ(rest, c.rest) << name;
        EXPECT_EQ(rest[c.capacity], 'x') << name << ": written past the capacity";
        EXPECT_EQ(options.outcome, c.outcome) << name;
        EXPECT_STREQ(options.firmwareDirectory, c.firmwareDirectory) << name;
        EXPECT_STREQ(options.error, c.error) << name;
        // The Windows edition splits its one command-line text the same way.
        char line[256] = "";
        for (size_t i = 1; i < c.arguments.size(); ++i) {
            if (std::strchr(c.arguments[i], ' ') != nullptr) continue;  // unquotable there
            std::strcat(line, i > 1 ? " " : "");
            std::strcat(line, c.arguments[i]);
        }
        LongOptions fromLine;
        TakeLongOptionsFromLine(line, Edition{kEditionLinux, "zorflash"}, &fromLine, rest, 80);
        EXPECT_EQ(fromLine.outcome, c.outcome) << line;
    }
    // --firmware-dir belongs to the editions that read files.
    LongOptions windows;
    char rest[64];
    TakeLongOptionsFromLine("--firmware-dir x", Edition{kEditionWindows, "zorflash"}, &windows,
                            rest, sizeof rest);
    EXPECT_STREQ(windows.error, "zorflash: unknown option --firmware-dir; see zorflash --help");
    // A line that does not fit is refused whole, never cut into another command.
    TakeLongOptionsFromLine("/F0 abcdefgh", Edition{kEditionWindows, "zorflash"}, &windows, rest, 8);
    EXPECT_EQ(windows.outcome, LongOptionsOutcome::UsageError);
    EXPECT_STREQ(rest, "");
}

}  // namespace

namespace {

int OpenDescriptors() {
    int count = 0;
    for (int fd = 0; fd < 1024; ++fd) count += fcntl(fd, F_GETFD) != -1;
    return count;
}

// Without logind (as on this build machine) nothing is held; with it, the inhibitor's
// descriptor is held between the two calls. Either way the pair leaves nothing open.
TEST(TermKeepAwake, OnThenOffLeavesNothingOpen) {
    const int before = OpenDescriptors();
    ui_keep_awake(nullptr, true);
    const int during = OpenDescriptors();
    EXPECT_LE(during - before, 1);
    ui_keep_awake(nullptr, true);  // a second "on" takes no second inhibitor
    EXPECT_EQ(OpenDescriptors(), during);
    ui_keep_awake(nullptr, false);
    EXPECT_EQ(OpenDescriptors(), before);
    ui_keep_awake(nullptr, false);
    EXPECT_EQ(OpenDescriptors(), before);
}

}  // namespace
