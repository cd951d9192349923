// The main window and the update launch over the simulated sensor (virtual clock) and the
// recording dialog: each row of the launch-mode table run as a whole program, from the
// dialog's creation to the posted exit code.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "app/main_window.h"
#include "platform/sim/sim_control.h"
#include "support/recording_ui.h"

namespace {

WindowHandle const kWindow = reinterpret_cast<WindowHandle>(0x5151);
const char kNoConnection[] = "A connection was not established. Update can not be performed.";
const char kUpToDate[] = "The current version matches this version. No update is needed.";

SimScenario Scenario(const char* name) {
    SimScenario scenario;
    EXPECT_TRUE(sim_scenario_by_name(name, &scenario)) << name;
    return scenario;
}

class Program : public ::testing::Test {
protected:
    MainWindowState state;
    void SetUp() override {
        recording_ui_reset();
        ResetMainWindowState(&state);
        recording_ui_set_destroy_handler(
            [](void* s) { MainWindowOnDestroy(static_cast<MainWindowState*>(s)); }, &state);
    }
    void TearDown() override { recording_ui_join_threads(); }

    // Creation, start-up and show, as each platform's entry does them.
    void Start(const char* scenario, const char* commandLine) {
        sim_reset(Scenario(scenario));
        MainWindowOnCreate(&state, kWindow);
        MainWindowStartup(&state, commandLine);
        ui_show_window(kWindow, true);
    }

    // One tick of timer 1, if it is running; the loop delivers nothing otherwise.
    bool Tick() {
        if (!recording_ui_timer_running(kMainTimerId)) return false;
        MainWindowOnTimer(&state, kMainTimerId);
        return true;
    }

    // Ticks until the program posts its exit code (the worker may run meanwhile).
    int TickUntilQuit(int maxTicks = 100) {
        for (int i = 0; i < maxTicks && recording_ui_quit_code() < 0; ++i) {
            recording_ui_join_threads();
            if (!Tick()) break;
        }
        return recording_ui_quit_code();
    }

    static std::string Text(int id) { return recording_ui_control(id).text; }

    static int Count(UiCallKind kind) {
        int n = 0;
        for (const UiCall& call : recording_ui_calls()) n += call.kind == kind;
        return n;
    }
};

TEST_F(Program, CreationStartsTheTimerAndStartupPreparesTheBar) {
    Start("family0", "");
    EXPECT_EQ(state.window, kWindow);
    const std::vector<UiCall> calls = recording_ui_calls();
    ASSERT_GE(calls.size(), 4u);
    EXPECT_EQ(calls[0].kind, UiCallKind::SetTimer);
    EXPECT_EQ(calls[0].controlId, 1);
    EXPECT_EQ(calls[0].value, 100u);
    const ControlState bar = recording_ui_control(kIdProgress);
    EXPECT_EQ(calls[1].kind, UiCallKind::ProgressRange);
    EXPECT_EQ(bar.rangeMax, 544);
    EXPECT_FALSE(bar.enabled);
    EXPECT_EQ(state.options.launchMode, 255);
}

// ---- Interactive ---------------------------------------------------------------------------

TEST_F(Program, InteractiveUpdateThenExitGivesTwo) {
    Start("family0", "");
    ASSERT_TRUE(Tick());
    EXPECT_FALSE(recording_ui_timer_running(kMainTimerId));  // the first tick runs once
    EXPECT_EQ(Text(kIdCurrentVersion), "0140");
    EXPECT_EQ(Text(kIdNewVersion), "0610");
    MainWindowOnCommand(&state, kIdUpdate);
    recording_ui_join_threads();
    EXPECT_EQ(Text(kIdStatus), "Update complete.");
    EXPECT_EQ(sim_sensor_version(), 0x0610);
    EXPECT_EQ(recording_ui_quit_code(), -1);  // no tick ends an interactive run
    MainWindowOnCommand(&state, kIdExit);
    EXPECT_EQ(recording_ui_quit_code(), 2);
    EXPECT_FALSE(recording_ui_window_shown());
    EXPECT_EQ(recording_ui_threads_closed(), 1);
}

TEST_F(Program, InteractiveUpToDate) {
    Start("uptodate", "");
    Tick();
    EXPECT_EQ(Text(kIdCurrentVersion), "0610");
    EXPECT_EQ(Text(kIdNewVersion), "0610");
    MainWindowOnCommand(&state, kIdUpdate);
    recording_ui_join_threads();
    EXPECT_EQ(Text(kIdStatus), kUpToDate);
    EXPECT_EQ(sim_sensor_counters().switchRequests, 0u);
    MainWindowOnCommand(&state, kIdExit);
    EXPECT_EQ(recording_ui_quit_code(), 2);
}

TEST_F(Program, InteractiveFamilyOne) {
    Start("family1", "");
    Tick();
    EXPECT_EQ(Text(kIdCurrentVersion), "0139 P0002");
    EXPECT_EQ(Text(kIdNewVersion), "0139 P0006");
}

TEST_F(Program, InteractiveNoSensorQueriesThreeTimesThenExitGivesZero) {
    Start("nosensor", "");
    const uint64_t before = sim_now_ms();
    const SimCounters countersBefore = sim_counters();
    Tick();
    EXPECT_EQ(sim_counters().listCreates - countersBefore.listCreates, 3u);
    EXPECT_EQ(sim_now_ms() - before, 3000u);  // the pause follows the third query too
    EXPECT_EQ(Text(kIdCurrentVersion), "????");
    EXPECT_EQ(Text(kIdNewVersion), "");
    EXPECT_TRUE(recording_ui_control(kIdUpdate).enabled);

    MainWindowOnCommand(&state, kIdUpdate);
    recording_ui_join_threads();
    EXPECT_EQ(Text(kIdStatus), kNoConnection);
    // Again: a new worker with the same record; the sensor is not queried again.
    const uint32_t lists = sim_counters().listCreates;
    MainWindowOnCommand(&state, kIdUpdate);
    recording_ui_join_threads();
    EXPECT_EQ(recording_ui_threads_started(), 2);
    EXPECT_EQ(sim_counters().listCreates, lists);
    EXPECT_EQ(recording_ui_texts(kIdStatus).back(), kNoConnection);
    MainWindowOnCommand(&state, kIdExit);
    EXPECT_EQ(recording_ui_quit_code(), 0);
}

TEST_F(Program, InteractiveExitWithoutUpdateGivesTwo) {
    Start("family0", "");
    Tick();
    MainWindowOnCommand(&state, kIdExit);
    EXPECT_EQ(recording_ui_quit_code(), 2);
    EXPECT_EQ(recording_ui_threads_started(), 0);
}

TEST_F(Program, InteractiveCloseWithoutWorkerEndsLikeExit) {
    Start("family0", "");
    Tick();
    EXPECT_FALSE(MainWindowOnClose(&state));
    EXPECT_EQ(recording_ui_quit_code(), 2);
}

TEST_F(Program, InteractiveFailedUpdateGivesTwo) {
    Start("refused-block", "");
    Tick();
    MainWindowOnCommand(&state, kIdUpdate);
    recording_ui_join_threads();
    EXPECT_EQ(Text(kIdStatus), "Program Error. ");
    MainWindowOnCommand(&state, kIdExit);
    EXPECT_EQ(recording_ui_quit_code(), 2);
}

TEST_F(Program, ThreadStartFailureShowsTheMessageBox) {
    Start("family0", "");
    Tick();
    recording_ui_fail_thread_start(true);
    MainWindowOnCommand(&state, kIdUpdate);
    EXPECT_EQ(state.worker, nullptr);
    ASSERT_EQ(Count(UiCallKind::MessageBox), 1);
    for (const UiCall& call : recording_ui_calls()) {
        if (call.kind == UiCallKind::MessageBox) {
            EXPECT_EQ(call.text, "_beginthreadex ERROR|ZORFLASH");
        }
    }
    MainWindowOnCommand(&state, kIdExit);
    EXPECT_EQ(recording_ui_quit_code(), 2);
}

// ---- While a worker runs --------------------------------------------------------------------

// A worker that runs until the test lets it go, to hold the program in the "worker runs"
// state for as long as a check needs.
std::atomic<bool> releaseWorker{false};
unsigned HeldWorker(void*) {
    while (!releaseWorker.load()) std::this_thread::yield();
    return 2;
}

class WhileWorkerRuns : public Program {
protected:
    void SetUp() override {
        Program::SetUp();
        Start("family0", "");
        Tick();
        releaseWorker = false;
        state.worker = ui_thread_start(HeldWorker, nullptr);
        ASSERT_NE(state.worker, nullptr);
    }
    void TearDown() override {
        releaseWorker = true;
        Program::TearDown();
    }
};

TEST_F(WhileWorkerRuns, CloseIsRefusedUntilTheWorkerHasEnded) {
    EXPECT_TRUE(WorkerRunning(&state));
    EXPECT_TRUE(MainWindowOnClose(&state));
    EXPECT_EQ(recording_ui_quit_code(), -1);
    EXPECT_EQ(Count(UiCallKind::Destroy), 0);
    releaseWorker = true;
    recording_ui_join_threads();
    EXPECT_FALSE(WorkerRunning(&state));
    EXPECT_FALSE(MainWindowOnClose(&state));
    EXPECT_EQ(recording_ui_quit_code(), 2);
}

TEST_F(WhileWorkerRuns, ExitIsRefused) {
    MainWindowOnCommand(&state, kIdExit);
    EXPECT_EQ(recording_ui_quit_code(), -1);
    releaseWorker = true;
    recording_ui_join_threads();
    MainWindowOnCommand(&state, kIdExit);
    EXPECT_EQ(recording_ui_quit_code(), 2);
}

TEST_F(WhileWorkerRuns, ExitDuringTheWorkersLastMomentEndsTheProgramWhenItHasEnded) {
    // The interactive timer stopped after the first tick; the Exit brings it back so that
    // the end of the worker is seen.
    ASSERT_FALSE(recording_ui_timer_running(kMainTimerId));
    MainWindowOnCommand(&state, kIdExit);
    EXPECT_EQ(recording_ui_quit_code(), -1);
    EXPECT_TRUE(recording_ui_timer_running(kMainTimerId));
    MainWindowOnTimer(&state, kMainTimerId);
    EXPECT_EQ(recording_ui_quit_code(), -1) << "the worker still runs";
    releaseWorker = true;
    recording_ui_join_threads();
    MainWindowOnTimer(&state, kMainTimerId);
    EXPECT_EQ(recording_ui_quit_code(), 2) << "the worker's result";
    EXPECT_FALSE(recording_ui_timer_running(kMainTimerId));
}

TEST_F(WhileWorkerRuns, SecondUpdateIsRefused) {
    MainWindowOnCommand(&state, kIdUpdate);
    EXPECT_EQ(recording_ui_threads_started(), 1);
    EXPECT_EQ(recording_ui_threads_closed(), 0);
    releaseWorker = true;
    recording_ui_join_threads();
    MainWindowOnCommand(&state, kIdUpdate);  // after the end a new worker may start
    recording_ui_join_threads();
    EXPECT_EQ(recording_ui_threads_started(), 2);
    EXPECT_EQ(recording_ui_threads_closed(), 1);
}

// ---- Unattended ----------------------------------------------------------------------------

struct UnattendedCase {
    const char* name;
    const char* scenario;
    const char* commandLine;
    int exitCode;
    int workers;          // workers started
    uint16_t versionAfter;  // the sensor's version when the program has ended
    const char* status;   // the last status line, or null when none was shown
};

const UnattendedCase kUnattended[] = {
    {"F0Updates", "family0", "/F0 fw.bin", 2, 1, 0x0610, "Update complete."},
    {"F1Updates", "family0", "/F1 fw.bin", 2, 1, 0x0610, "Update complete."},
    {"F2Updates", "family0", "/F2 fw.bin", 2, 1, 0x0610, "Update complete."},
    {"F0FamilyOne", "family1", "/F0 fw.bin", 2, 1, 0x0139, "Update complete."},
    {"F0UpToDate", "uptodate", "/F0 fw.bin", 2, 1, 0x0610, kUpToDate},
    {"F0NoSensor", "nosensor", "/F0 fw.bin", 0, 1, 0x0140, kNoConnection},
    {"F0RefusedBlock", "refused-block", "/F0 fw.bin", 2, 1, 0x0140, "Program Error. "},
    {"F0EmptyFileName", "family0", "/F0", 4, 0, 0x0140, nullptr},
    {"F1TrailingBlank", "family0", "/F1 ", 4, 0, 0x0140, nullptr},
    {"F2EmptyFileName", "family0", "/F2", 4, 0, 0x0140, nullptr},
    {"F3EmptyFileName", "family0", "/F3", 4, 0, 0x0140, nullptr},
    {"VWithoutFileName", "family0", "/V", 2, 1, 0x0610, "Update complete."},
    {"VNoSensor", "nosensor", "/V", 0, 1, 0x0140, kNoConnection},
    {"VBootLoaderRunning", "bootloader", "/V x", 2, 1, 0x0610, "Update complete."},
};

class Unattended : public Program, public ::testing::WithParamInterface<UnattendedCase> {};

TEST_P(Unattended, EndsWithTheExitCodeOfItsRow) {
    const UnattendedCase& c = GetParam();
    Start(c.scenario, c.commandLine);
    EXPECT_LT(state.options.launchMode, 5);
    EXPECT_EQ(TickUntilQuit(), c.exitCode);
    EXPECT_EQ(recording_ui_threads_started(), c.workers);
    EXPECT_EQ(sim_sensor_version(), c.versionAfter);
    // The quit for a missing file name leaves the timer as it is; the loop ends anyway.
    EXPECT_EQ(recording_ui_timer_running(kMainTimerId), c.exitCode == 4);
    EXPECT_FALSE(recording_ui_window_shown());
    if (c.status != nullptr) {
        EXPECT_EQ(Text(kIdStatus), c.status);
    } else {
        EXPECT_TRUE(recording_ui_texts(kIdStatus).empty());
    }
    EXPECT_EQ(Count(UiCallKind::PostQuit), 1);
}

INSTANTIATE_TEST_SUITE_P(Rows, Unattended, ::testing::ValuesIn(kUnattended),
                         [](const ::testing::TestParamInfo<UnattendedCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(Program, UnattendedWorkerStartsOnTheFirstTickAndEndsOnTheNextAfterIt) {
    Start("family0", "/F0 fw.bin");
    EXPECT_EQ(recording_ui_threads_started(), 0);
    Tick();
    EXPECT_EQ(recording_ui_threads_started(), 1);
    recording_ui_join_threads();
    EXPECT_EQ(recording_ui_quit_code(), -1);
    Tick();  // the first tick after the worker's end destroys the window
    EXPECT_EQ(recording_ui_quit_code(), 2);
    EXPECT_EQ(Count(UiCallKind::Destroy), 1);
}

TEST_F(Program, UnattendedWorkerThatCannotStartEndsWithTwo) {
    Start("family0", "/F0 fw.bin");
    recording_ui_fail_thread_start(true);
    Tick();
    EXPECT_EQ(recording_ui_quit_code(), 2);
    EXPECT_EQ(Count(UiCallKind::MessageBox), 1);
    EXPECT_FALSE(recording_ui_timer_running(kMainTimerId));
    EXPECT_EQ(sim_sensor_counters().switchRequests, 0u);
    // --update, which a script runs, shows no box that would wait: it ends with 1.
    SetUp();
    state.updateExitStatus = true;
    Start("family0", "/V");
    recording_ui_fail_thread_start(true);
    Tick();
    EXPECT_EQ(recording_ui_quit_code(), 1);
    EXPECT_EQ(Count(UiCallKind::MessageBox), 0);
}

TEST_F(Program, ModeThreeWithFileNameWaitsForTheButtons) {
    Start("family0", "/F3 fw.bin");
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(Tick());
    EXPECT_EQ(recording_ui_threads_started(), 0);
    EXPECT_EQ(recording_ui_quit_code(), -1);
    EXPECT_EQ(sim_counters().listCreates, 0u);  // the sensor is not touched by the ticks
    // Update identifies the sensor first, then the first tick after the worker ends quits.
    MainWindowOnCommand(&state, kIdUpdate);
    recording_ui_join_threads();
    EXPECT_EQ(Text(kIdCurrentVersion), "0610");
    EXPECT_EQ(Text(kIdStatus), "Update complete.");
    EXPECT_EQ(recording_ui_quit_code(), -1);
    Tick();
    EXPECT_EQ(recording_ui_quit_code(), 2);
}

TEST_F(Program, ModeThreeExitWithoutUpdateGivesTwo) {
    Start("family0", "/F3 fw.bin");
    Tick();
    MainWindowOnCommand(&state, kIdExit);
    EXPECT_EQ(recording_ui_quit_code(), 2);
}

TEST_F(Program, UnattendedEmptyFileNameHidesAndStartsNothing) {
    Start("family0", "/F0");
    Tick();
    EXPECT_EQ(recording_ui_quit_code(), 4);
    EXPECT_FALSE(recording_ui_window_shown());
    EXPECT_EQ(sim_counters().listCreates, 0u);
}

TEST_F(Program, KeepAwakeFollowsTheWorker) {
    Start("family0", "");
    Tick();
    MainWindowOnCommand(&state, kIdUpdate);
    recording_ui_join_threads();
    std::vector<int> flags;
    for (const UiCall& call : recording_ui_calls()) {
        if (call.kind == UiCallKind::KeepAwake) flags.push_back(call.flag);
    }
    EXPECT_EQ(flags, (std::vector<int>{1, 0}));
    // Awake from before the worker's first control change to after its last.
    const std::vector<UiCall> calls = recording_ui_calls();
    size_t on = 0, off = 0, firstText = 0, lastEnable = 0;
    for (size_t i = 0; i < calls.size(); ++i) {
        if (calls[i].kind == UiCallKind::KeepAwake) (calls[i].flag ? on : off) = i;
        if (calls[i].kind == UiCallKind::SetText && calls[i].controlId == kIdNotice &&
            firstText == 0) {
            firstText = i;
        }
        if (calls[i].kind == UiCallKind::Enable && calls[i].controlId == kIdExit) lastEnable = i;
    }
    EXPECT_LT(on, firstText);
    EXPECT_GT(off, lastEnable);
    EXPECT_FALSE(recording_ui_keep_awake());
}

}  // namespace
