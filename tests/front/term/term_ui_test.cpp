// The terminal's view: changes from another thread are carried out by the loop's thread
// while the caller waits; the progress bar, texts, the worker's thread handles, the
// instance lock and the argument join.
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
#include "front/term/term_view.h"
#include "platform/system.h"

namespace {

class TermUi : public ::testing::Test {
protected:
    View window;
    View* view = &window;
    void SetUp() override { term_view_begin(view, false, "", stdout); }
    void TearDown() override { term_view_end(view); }
    const char* Text(ViewText field) const { return view->dialog.texts[static_cast<int>(field)]; }

    // The main loop's part: wait for the wake-up, carry out what is queued.
    void ServeUntil(const std::atomic<bool>& done) {
        while (!done.load()) {
            term_view_run_queued_calls(view);
            std::this_thread::yield();
        }
        term_view_run_queued_calls(view);
    }
};

TEST_F(TermUi, WorkerChangeWaitsForTheMainThread) {
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        view_show_text(view, ViewText::Status, "Now Updating....");
        returned = true;
    });
    // Nothing happens until the main thread serves the queue.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(returned.load());
    EXPECT_STREQ(Text(ViewText::Status), "");
    // The wake descriptor tells the loop that a call is waiting.
    char byte = 0;
    EXPECT_EQ(read(term_view_wake_fd(), &byte, 1), 1);
    ServeUntil(returned);
    worker.join();
    EXPECT_STREQ(Text(ViewText::Status), "Now Updating....");
}

TEST_F(TermUi, ManyChangesFromAWorkerArriveInOrder) {
    std::atomic<bool> done{false};
    int positions = 0;
    std::thread worker([&] {
        view_show_progress(view, 0, 2000, true);
        for (int i = 0; i < 1500; ++i) {
            view_show_progress(view, static_cast<uint32_t>(i + 1), 2000, false);
            if (i % 100 == 0) {
                char text[32];
                std::snprintf(text, sizeof text, "step %d", i);
                view_show_text(view, ViewText::Status, text);
                view_enable_button(view, ViewButton::Exit, i % 200 != 0);
            }
        }
        positions = static_cast<int>(view->dialog.done);  // read after the last change was carried out
        done = true;
    });
    ServeUntil(done);
    worker.join();
    EXPECT_EQ(view->dialog.done, 1500u);
    EXPECT_EQ(view->dialog.total, 2000u);
    EXPECT_STREQ(Text(ViewText::Status), "step 1400");
    EXPECT_EQ(positions, 1500);
    EXPECT_FALSE(view->dialog.buttons[static_cast<int>(ViewButton::Exit)]);
}

TEST_F(TermUi, ProgressBar) {
    view_show_progress(view, 0, 570, true);
    EXPECT_EQ(view->dialog.total, 570u);
    EXPECT_EQ(view->dialog.done, 0u);
    view_show_progress(view, 568, 570, false);
    EXPECT_EQ(view->dialog.done, 568u);
    view_show_progress(view, 570, 570, false);
    EXPECT_EQ(view->dialog.done, 570u);
    // The bar stays within its total: past it the bar stays full.
    view_show_progress(view, 571, 570, false);
    EXPECT_EQ(view->dialog.done, 570u);
    view_show_progress(view, 0, 570, false);
    EXPECT_EQ(view->dialog.done, 0u);
}

TEST_F(TermUi, TextIsCutToTheWindowsField) {
    const std::string longText(kTextDialogTextCapacity + 50, 'w');
    view_show_text(view, ViewText::Notice, longText.c_str());
    EXPECT_EQ(std::string(Text(ViewText::Notice)), longText.substr(0, kTextDialogTextCapacity - 1));
    view_enable_progress(view, false);
    EXPECT_FALSE(view->dialog.barEnabled);
    view_show_window(view, true);
    EXPECT_TRUE(view->dialog.shown);
}

struct KeysCase {
    const char* typed;
    bool updateEnabled;
    const char* pressed;  // U for Update, E for Exit, in order
};

// Keys press only the buttons the dialog enables; escape sequences (arrows, function keys)
// press nothing, a lone Esc is Exit.
TEST_F(TermUi, KeysPressOnlyEnabledButtons) {
    const KeysCase cases[] = {
        {"u", true, "U"},         {"u", false, ""},          {"\r\nq", true, "UUE"},
        {"xEz", false, "E"},      {"\x1b[A\x1bOP", true, ""}, {"\x1b", true, "E"},
        {"\x1b[1;5Cu", true, "U"}, {"\x1b[", true, ""},
    };
    for (const KeysCase& c : cases) {
        view_enable_button(view, ViewButton::Update, c.updateEnabled);
        term_view_run_queued_calls(view);
        std::string pressed;
        size_t index = 0;
        ViewButton button;
        while (TextDialogNextPress(view->dialog, c.typed, std::strlen(c.typed), &index, &button)) {
            pressed += button == ViewButton::Update ? 'U' : 'E';
        }
        EXPECT_EQ(pressed, c.pressed) << c.typed;
    }
}

std::atomic<bool> letThreadEnd{false};
unsigned WaitingThread(void* result) {
    while (!letThreadEnd.load()) std::this_thread::yield();
    return *static_cast<unsigned*>(result);
}

TEST_F(TermUi, ThreadRunsUntilItsEndThenGivesItsResult) {
    unsigned result = 7;
    letThreadEnd = false;
    PlatThread* thread = plat_thread_start(WaitingThread, &result);
    ASSERT_NE(thread, nullptr);
    uint32_t code = 0;
    EXPECT_FALSE(plat_thread_ended(thread, &code));
    letThreadEnd = true;
    while (!plat_thread_ended(thread, &code)) std::this_thread::yield();
    EXPECT_EQ(code, 7u);
    plat_thread_close(thread);
}

TEST_F(TermUi, ClosingARunningThreadLeavesItRunning) {
    unsigned result = 2;
    letThreadEnd = false;
    PlatThread* thread = plat_thread_start(WaitingThread, &result);
    ASSERT_NE(thread, nullptr);
    plat_thread_close(thread);  // frees itself when it ends (the leak checker would notice)
    letThreadEnd = true;
    // Its end is its own business now; the process may end without waiting for it.
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

TEST(TermInstanceLock, SecondHolderIsRefused) {
    // In a folder of its own: the lock refuses one that others may write, as /tmp is.
    char folder[] = "/tmp/zorflash-lock-test-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string file = std::string(folder) + "/zorflash.lock";
    const char* path = file.c_str();
    close(open(path, O_CREAT | O_WRONLY | O_CLOEXEC, 0644));
    char reason[400];
    EXPECT_EQ(plat_lock_instance(path, reason, sizeof reason), InstanceLock::Taken);
    // Another open of the same file is another holder, as a second process would be.
    const int other = open(path, O_RDWR);
    ASSERT_GE(other, 0);
    EXPECT_NE(flock(other, LOCK_EX | LOCK_NB), 0);
    plat_unlock_instance();
    EXPECT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(plat_lock_instance(path, reason, sizeof reason), InstanceLock::Held);
    close(other);
    unlink(path);

    // A lock file it creates is writable by its creator only; a symbolic link planted in
    // its place is not followed (its target is neither created nor locked).
    EXPECT_EQ(plat_lock_instance(path, reason, sizeof reason), InstanceLock::Taken);
    struct stat made;
    ASSERT_EQ(stat(path, &made), 0);
    EXPECT_EQ(made.st_mode & 0022, 0u);
    plat_unlock_instance();
    unlink(path);
    const std::string target = std::string(path) + "-target";
    ASSERT_EQ(symlink(target.c_str(), path), 0);
    EXPECT_EQ(plat_lock_instance(path, reason, sizeof reason), InstanceLock::Unusable);
    EXPECT_STREQ(reason, "it is a symbolic link");
    EXPECT_NE(access(target.c_str(), F_OK), 0);
    plat_unlock_instance();
    unlink(path);

    // A folder others may write: nothing is made or locked in it.
    ASSERT_EQ(chmod(folder, 0777), 0);
    EXPECT_EQ(plat_lock_instance(path, reason, sizeof reason), InstanceLock::Unusable);
    EXPECT_EQ(std::string(reason).rfind(std::string("its folder ") + folder + " may be changed by others", 0), 0u) << reason;
    EXPECT_NE(access(path, F_OK), 0);
    rmdir(folder);
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
    const char* const kTooLong =
        "zorflash: the command line is longer than this program reads; see zorflash --help";
    const ArgumentCase cases[] = {
        {{"zorflash"}, 64, "", run, "", ""},
        {{"zorflash", "/F0", "image.bin"}, 64, "/F0 image.bin", run, "", ""},
        {{"zorflash", "a b", "c"}, 64, "a b c", run, "", ""},
        // A line that does not fit is refused, never cut into another command.
        {{"zorflash", "abcdef", "ghij"}, 8, "", usage, "", kTooLong},
        {{"zorflash", "abcdefghij"}, 4, "", usage, "", kTooLong},
        {{"zorflash", "abc", "/V", "/F3", "x"}, 12, "", usage, "", kTooLong},
        {{"zorflash", "abc", "/V", "/F3"}, 12, "abc /V /F3", run, "", ""},
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
        TakeLongOptionsFromLine(line, Edition{kEditionLinux, "zorflash"}, &fromLine, rest,
                                c.capacity);
        EXPECT_EQ(fromLine.outcome, c.outcome) << line;
        EXPECT_STREQ(fromLine.error, c.error) << line;
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

