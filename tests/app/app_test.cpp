// The app over the simulated sensor (virtual clock) and the recording view: each row of the
// launch-mode table run as a whole program, from the window's start to the exit code.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "app/app.h"
#include "app/app_loop.h"
#include "app/program.h"
#include "app/window_model.h"
#include "platform/sim/sim_control.h"
#include "support/expected_texts.h"
#include "support/recording_view.h"

namespace {

View* const kView = reinterpret_cast<View*>(0x5151);
const char kNoConnection[] = TEXT_NO_CONNECTION;
const char kUpToDate[] = TEXT_UP_TO_DATE;

// A name with "-unrecorded" after it: the scenario on a machine that has met no sensor.
SimScenario Scenario(const char* name) {
    SimScenario scenario;
    const std::string base = std::string(name).substr(0, std::string(name).find("-unrecorded"));
    EXPECT_TRUE(sim_scenario_by_name(base.c_str(), &scenario)) << name;
    if (base != name) sim_scenario_set_products_met(&scenario, nullptr, 0);
    return scenario;
}

class Program : public ::testing::Test {
protected:
    AppState state;
    AppSettings settings = {nullptr, false, kSensorNone, nullptr, false, false};
    void SetUp() override {
        recording_view_reset();
        settings = AppSettings{nullptr, false, kSensorNone, nullptr, false, false};
    }
    void TearDown() override { recording_view_join_threads(); }

    // The window's start and show, as each front end does them.
    void Start(const char* scenario, const char* commandLine) {
        sim_reset(Scenario(scenario));
        LaunchOptions options;
        ResetLaunchOptions(&options);
        ParseCommandLine(commandLine, &options);
        AppStart(&state, kView, options, settings);
        view_show_window(kView, true);
    }

    // One tick, if the app wants ticks; the loop delivers nothing otherwise.
    bool Tick() {
        if (!AppWantsTicks(&state)) return false;
        AppTick(&state);
        return true;
    }

    // The exit code once the run is over, else -1.
    int QuitCode() const {
        int code = -1;
        return AppFinished(&state, &code) ? code : -1;
    }

    // Ticks until the run is over (the worker may run meanwhile).
    int TickUntilQuit(int maxTicks = 100) {
        for (int i = 0; i < maxTicks && QuitCode() < 0; ++i) {
            recording_view_join_threads();
            if (!Tick()) break;
        }
        return QuitCode();
    }

    static std::string Text(RecordedPart part) { return recording_view_part(part).text; }

    static int Count(ViewCallKind kind) {
        int n = 0;
        for (const ViewCall& call : recording_view_calls()) n += call.kind == kind;
        return n;
    }
};

TEST_F(Program, StartWantsTicksAndPreparesTheBar) {
    Start("family0", "");
    EXPECT_EQ(state.view, kView);
    EXPECT_TRUE(AppWantsTicks(&state));
    EXPECT_EQ(kAppTickMs, 100u);
    const std::vector<ViewCall> calls = recording_view_calls();
    ASSERT_GE(calls.size(), 3u);
    const PartState bar = recording_view_part(RecordedPart::Progress);
    EXPECT_EQ(calls[0].kind, ViewCallKind::Progress);
    EXPECT_EQ(bar.total, 544u);
    EXPECT_EQ(bar.done, 0u);
    EXPECT_FALSE(bar.enabled);
    EXPECT_EQ(state.options.launchMode, 255);
}

// ---- Interactive ---------------------------------------------------------------------------

TEST_F(Program, InteractiveUpdateThenExitGivesTwo) {
    Start("family0", "");
    ASSERT_TRUE(Tick());
    EXPECT_FALSE(AppWantsTicks(&state));  // the first tick runs once
    EXPECT_EQ(Text(RecordedPart::CurrentVersion), "0140");
    EXPECT_EQ(Text(RecordedPart::NewVersion), "0610");
    AppPress(&state, AppButton::Update);
    recording_view_join_threads();
    EXPECT_EQ(Text(RecordedPart::Status), TEXT_UPDATE_COMPLETE);
    EXPECT_EQ(sim_sensor_version(), 0x0610);
    EXPECT_EQ(QuitCode(), -1);  // no tick ends an interactive run
    AppPress(&state, AppButton::Exit);
    EXPECT_EQ(QuitCode(), 2);
    EXPECT_FALSE(recording_view_shown());
    EXPECT_EQ(recording_view_threads_closed(), 1);
}

TEST_F(Program, InteractiveUpToDate) {
    Start("uptodate", "");
    Tick();
    EXPECT_EQ(Text(RecordedPart::CurrentVersion), "0610");
    EXPECT_EQ(Text(RecordedPart::NewVersion), "0610");
    AppPress(&state, AppButton::Update);
    recording_view_join_threads();
    EXPECT_EQ(Text(RecordedPart::Status), kUpToDate);
    EXPECT_EQ(sim_sensor_counters().switchRequests, 0u);
    AppPress(&state, AppButton::Exit);
    EXPECT_EQ(QuitCode(), 2);
}

TEST_F(Program, InteractiveFamilyOne) {
    Start("family1", "");
    Tick();
    EXPECT_EQ(Text(RecordedPart::CurrentVersion), "0139 P0002");
    EXPECT_EQ(Text(RecordedPart::NewVersion), "0139 P0006");
}

TEST_F(Program, InteractiveNoSensorQueriesThreeTimesThenExitGivesZero) {
    Start("nosensor", "");
    const uint64_t before = sim_now_ms();
    const SimCounters countersBefore = sim_counters();
    Tick();
    EXPECT_EQ(sim_counters().listCreates - countersBefore.listCreates, 3u);
    EXPECT_EQ(sim_now_ms() - before, 3000u);  // the pause follows the third query too
    EXPECT_EQ(Text(RecordedPart::CurrentVersion), "????");
    EXPECT_EQ(Text(RecordedPart::NewVersion), "");
    EXPECT_TRUE(recording_view_part(RecordedPart::Update).enabled);

    AppPress(&state, AppButton::Update);
    recording_view_join_threads();
    EXPECT_EQ(Text(RecordedPart::Status), kNoConnection);
    // Again: a new worker with the same record; the sensor is not queried again.
    const uint32_t lists = sim_counters().listCreates;
    AppPress(&state, AppButton::Update);
    recording_view_join_threads();
    EXPECT_EQ(recording_view_threads_started(), 2);
    EXPECT_EQ(sim_counters().listCreates, lists);
    EXPECT_EQ(recording_view_texts(RecordedPart::Status).back(), kNoConnection);
    AppPress(&state, AppButton::Exit);
    EXPECT_EQ(QuitCode(), 0);
}

TEST_F(Program, InteractiveExitWithoutUpdateGivesTwo) {
    Start("family0", "");
    Tick();
    AppPress(&state, AppButton::Exit);
    EXPECT_EQ(QuitCode(), 2);
    EXPECT_EQ(recording_view_threads_started(), 0);
}

TEST_F(Program, InteractiveCloseWithoutWorkerEndsLikeExit) {
    Start("family0", "");
    Tick();
    EXPECT_FALSE(AppClose(&state));
    EXPECT_EQ(QuitCode(), 2);
}

TEST_F(Program, InteractiveFailedUpdateGivesTwo) {
    Start("refused-block", "");
    Tick();
    AppPress(&state, AppButton::Update);
    recording_view_join_threads();
    EXPECT_EQ(Text(RecordedPart::Status), "Program Error. ");
    AppPress(&state, AppButton::Exit);
    EXPECT_EQ(QuitCode(), 2);
}

TEST_F(Program, ThreadStartFailureShowsTheError) {
    Start("family0", "");
    Tick();
    recording_view_fail_thread_start(true);
    AppPress(&state, AppButton::Update);
    EXPECT_EQ(state.worker, nullptr);
    ASSERT_EQ(Count(ViewCallKind::Error), 1);
    for (const ViewCall& call : recording_view_calls()) {
        if (call.kind == ViewCallKind::Error) {
            EXPECT_EQ(call.value, static_cast<uint32_t>(ViewError::UpdateNotStarted));
        }
    }
    AppPress(&state, AppButton::Exit);
    EXPECT_EQ(QuitCode(), 2);
}

// ---- While a worker runs --------------------------------------------------------------------

// The worker is held at its first call of the sensor until the test lets it go, to hold the
// program in the "worker runs" state for as long as a check needs.
std::atomic<bool> releaseWorker{false};
void HoldWorker(void*, uint32_t) {
    while (!releaseWorker.load()) std::this_thread::yield();
}

class WhileWorkerRuns : public Program {
protected:
    void SetUp() override {
        Program::SetUp();
        Start("family0", "");
        Tick();
        releaseWorker = false;
        sim_set_step_hook(HoldWorker, nullptr);
        AppPress(&state, AppButton::Update);
        ASSERT_NE(state.worker, nullptr);
    }
    void TearDown() override {
        releaseWorker = true;
        Program::TearDown();
        sim_set_step_hook(nullptr, nullptr);
    }
};

TEST_F(WhileWorkerRuns, CloseIsRefusedUntilTheWorkersEndHasReachedTheLoop) {
    EXPECT_TRUE(AppUpdating(&state));
    EXPECT_TRUE(AppClose(&state));
    EXPECT_EQ(QuitCode(), -1);
    releaseWorker = true;
    recording_view_join_threads();
    EXPECT_FALSE(AppUpdating(&state));
    EXPECT_FALSE(AppClose(&state));
    EXPECT_EQ(QuitCode(), 2);
}

TEST_F(WhileWorkerRuns, ExitIsRefused) {
    AppPress(&state, AppButton::Exit);
    EXPECT_EQ(QuitCode(), -1);
    releaseWorker = true;
    recording_view_join_threads();
    EXPECT_EQ(QuitCode(), 2) << "the Exit that came meanwhile";
}

// Nothing polls for the worker's end: no tick runs while it works, and its end, handed to the
// loop, carries out an Exit or a signal's close that came meanwhile.
TEST_F(WhileWorkerRuns, ExitOrSignalMeanwhileEndsTheRunWhenTheEndReachesTheLoop) {
    for (const bool signal : {false, true}) {
        if (signal) {
            SetUp();
            EXPECT_TRUE(AppCloseWhenDone(&state));
        } else {
            AppPress(&state, AppButton::Exit);
        }
        EXPECT_FALSE(AppWantsTicks(&state));
        EXPECT_EQ(QuitCode(), -1);
        releaseWorker = true;
        recording_view_join_threads();
        EXPECT_EQ(QuitCode(), 2) << "the worker's outcome, signal " << signal;
        EXPECT_EQ(sim_sensor_version(), 0x0610) << "the update finished, signal " << signal;
    }
}

// The loop's rule every front end follows: a close kept for the update's end is said once, the
// window's refused close each time, and the run ends, without a tick, when the worker's end
// reaches the loop.
TEST_F(WhileWorkerRuns, TheLoopSaysAKeptCloseOnceAndEndsWithTheWorker) {
    AppLoop loop;
    AppLoopStart(&loop, &state, true);
    const AppLoopNext kept = AppLoopClose(&loop, true);
    EXPECT_TRUE(kept.closeRefused);
    EXPECT_TRUE(kept.updating);
    EXPECT_TRUE(kept.stopTimer) << "no tick runs while the worker works";
    EXPECT_FALSE(kept.finished);
    EXPECT_FALSE(AppLoopClose(&loop, true).closeRefused) << "a kept close is said once";
    EXPECT_TRUE(AppLoopClose(&loop, false).closeRefused) << "the window's close, each time";
    releaseWorker = true;
    recording_view_join_threads();
    const AppLoopNext end = AppLoopFollow(&loop);
    EXPECT_TRUE(end.finished);
    EXPECT_EQ(end.exitCode, 2);
    EXPECT_FALSE(end.updating || end.startTimer || end.closeRefused);
}

// The window's other button is Cancel while the model question is open: it closes the
// question and never presses Exit, which would end the run with the worker's end.
TEST_F(WhileWorkerRuns, CancelClosesTheModelQuestionWithoutExit) {
    AppLoop loop;
    AppLoopStart(&loop, &state, true);
    WindowModel window;
    WindowModelReset(&window);
    WindowChooseModel(&window, true);
    EXPECT_FALSE(AppLoopDismiss(&loop, &window).finished);
    EXPECT_FALSE(window.choosingModel);
    releaseWorker = true;
    recording_view_join_threads();
    EXPECT_FALSE(AppLoopFollow(&loop).finished) << "Cancel pressed no Exit";
    EXPECT_TRUE(AppLoopDismiss(&loop, &window).finished) << "without the question, Exit";
}

TEST_F(WhileWorkerRuns, SecondUpdateIsRefused) {
    AppPress(&state, AppButton::Update);
    EXPECT_EQ(recording_view_threads_started(), 1);
    EXPECT_EQ(recording_view_threads_closed(), 0);
    releaseWorker = true;
    recording_view_join_threads();
    EXPECT_EQ(recording_view_threads_closed(), 1) << "released once its end reached the loop";
    AppPress(&state, AppButton::Update);  // after the end a new worker may start
    recording_view_join_threads();
    EXPECT_EQ(recording_view_threads_started(), 2);
    EXPECT_EQ(recording_view_threads_closed(), 2);
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
    {"F0Updates", "family0", "/F0 fw.bin", 2, 1, 0x0610, TEXT_UPDATE_COMPLETE},
    {"F1Updates", "family0", "/F1 fw.bin", 2, 1, 0x0610, TEXT_UPDATE_COMPLETE},
    {"F2Updates", "family0", "/F2 fw.bin", 2, 1, 0x0610, TEXT_UPDATE_COMPLETE},
    {"F0FamilyOne", "family1", "/F0 fw.bin", 2, 1, 0x0139, TEXT_UPDATE_COMPLETE},
    {"F0UpToDate", "uptodate", "/F0 fw.bin", 2, 1, 0x0610, kUpToDate},
    {"F0NoSensor", "nosensor", "/F0 fw.bin", 0, 1, 0x0140, kNoConnection},
    {"F0RefusedBlock", "refused-block", "/F0 fw.bin", 2, 1, 0x0140, "Program Error. "},
    {"F0EmptyFileName", "family0", "/F0", 4, 0, 0x0140, nullptr},
    {"F1TrailingBlank", "family0", "/F1 ", 4, 0, 0x0140, nullptr},
    {"F2EmptyFileName", "family0", "/F2", 4, 0, 0x0140, nullptr},
    {"F3EmptyFileName", "family0", "/F3", 4, 0, 0x0140, nullptr},
    {"VWithoutFileName", "family0", "/V", 2, 1, 0x0610, TEXT_UPDATE_COMPLETE},
    {"VNoSensor", "nosensor", "/V", 0, 1, 0x0140, kNoConnection},
    {"VBootLoaderRunning", "bootloader", "/V x", 2, 1, 0x0610, TEXT_UPDATE_COMPLETE},
};

class Unattended : public Program, public ::testing::WithParamInterface<UnattendedCase> {};

TEST_P(Unattended, EndsWithTheExitCodeOfItsRow) {
    const UnattendedCase& c = GetParam();
    Start(c.scenario, c.commandLine);
    EXPECT_LT(state.options.launchMode, 5);
    EXPECT_EQ(TickUntilQuit(), c.exitCode);
    EXPECT_EQ(recording_view_threads_started(), c.workers);
    EXPECT_EQ(sim_sensor_version(), c.versionAfter);
    // The end for a missing file name leaves the ticks as they are; the loop ends anyway.
    EXPECT_EQ(AppWantsTicks(&state), c.exitCode == 4);
    EXPECT_FALSE(recording_view_shown());
    if (c.status != nullptr) {
        EXPECT_EQ(Text(RecordedPart::Status), c.status);
    } else {
        EXPECT_TRUE(recording_view_texts(RecordedPart::Status).empty());
    }
    int code = -1;
    EXPECT_TRUE(AppFinished(&state, &code));
}

INSTANTIATE_TEST_SUITE_P(Rows, Unattended, ::testing::ValuesIn(kUnattended),
                         [](const ::testing::TestParamInfo<UnattendedCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(Program, UnattendedWorkerStartsOnTheFirstTickAndEndsWhenItsEndReachesTheLoop) {
    Start("family0", "/F0 fw.bin");
    EXPECT_EQ(recording_view_threads_started(), 0);
    Tick();
    EXPECT_EQ(recording_view_threads_started(), 1);
    EXPECT_FALSE(AppWantsTicks(&state)) << "no tick watches the worker";
    recording_view_join_threads();
    EXPECT_EQ(QuitCode(), 2);
    EXPECT_FALSE(recording_view_shown());
}

// Nobody watches an unattended run: a worker that cannot start shows nothing that waits, and
// the run ends with 2 (the slash options) or 1 (--update).
TEST_F(Program, UnattendedWorkerThatCannotStartEndsWithoutABox) {
    for (const bool update : {false, true}) {
        SetUp();
        settings.unattended = true;
        settings.updateExitStatus = update;
        Start("family0", update ? "/V" : "/F0 fw.bin");
        recording_view_fail_thread_start(true);
        Tick();
        EXPECT_EQ(QuitCode(), update ? 1 : 2);
        EXPECT_EQ(Count(ViewCallKind::Error), 0);
        EXPECT_FALSE(AppWantsTicks(&state));
        EXPECT_EQ(sim_sensor_counters().switchRequests, 0u);
    }
}

TEST_F(Program, ModeThreeWithFileNameWaitsForTheButtons) {
    Start("family0", "/F3 fw.bin");
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(Tick());
    EXPECT_EQ(recording_view_threads_started(), 0);
    EXPECT_EQ(QuitCode(), -1);
    EXPECT_EQ(sim_counters().listCreates, 0u);  // the sensor is not touched by the ticks
    // Update identifies the sensor first; the worker's end ends the run.
    AppPress(&state, AppButton::Update);
    recording_view_join_threads();
    EXPECT_EQ(Text(RecordedPart::CurrentVersion), "0610");
    EXPECT_EQ(Text(RecordedPart::Status), TEXT_UPDATE_COMPLETE);
    EXPECT_EQ(QuitCode(), 2);
}

TEST_F(Program, ModeThreeExitWithoutUpdateGivesTwo) {
    Start("family0", "/F3 fw.bin");
    Tick();
    AppPress(&state, AppButton::Exit);
    EXPECT_EQ(QuitCode(), 2);
}

TEST_F(Program, UnattendedEmptyFileNameHidesAndStartsNothing) {
    Start("family0", "/F0");
    Tick();
    EXPECT_EQ(QuitCode(), 4);
    EXPECT_FALSE(recording_view_shown());
    EXPECT_EQ(sim_counters().listCreates, 0u);
}

TEST_F(Program, KeepAwakeFollowsTheWorker) {
    Start("family0", "");
    Tick();
    AppPress(&state, AppButton::Update);
    recording_view_join_threads();
    std::vector<int> flags;
    for (const ViewCall& call : recording_view_calls()) {
        if (call.kind == ViewCallKind::KeepAwake) flags.push_back(call.flag);
    }
    EXPECT_EQ(flags, (std::vector<int>{1, 0}));
    // Awake from before the worker's first control change to after its last.
    const std::vector<ViewCall> calls = recording_view_calls();
    size_t on = 0, off = 0, firstText = 0, lastEnable = 0;
    for (size_t i = 0; i < calls.size(); ++i) {
        if (calls[i].kind == ViewCallKind::KeepAwake) (calls[i].flag ? on : off) = i;
        if (calls[i].kind == ViewCallKind::Text && calls[i].part == RecordedPart::Notice &&
            firstText == 0) {
            firstText = i;
        }
        if (calls[i].kind == ViewCallKind::Enable && calls[i].part == RecordedPart::Exit) lastEnable = i;
    }
    EXPECT_LT(on, firstText);
    EXPECT_GT(off, lastEnable);
    EXPECT_FALSE(recording_view_keep_awake());
}

// ---- The run as data --------------------------------------------------------------------

struct RunStateCase {
    const char* scenario;
    std::vector<RunStage> stages;  // as shown, in order
    uint32_t lastAttempt;          // the attempt of the last write-and-verify run
    RunEnd end;
    uint16_t versionAtEnd;         // the sensor's version in the ended state
};

// The stages in the order the run goes through them, each attempt's from the switch to its
// return, the attempt counted from 1 of 10, and the end as the enum with the sensor after it.
TEST_F(Program, TheRunsStateFollowsItsStagesAttemptsAndEnd) {
    using S = RunStage;
    const S kStart[] = {S::Identifying, S::Ready};
    const S kAttempt[] = {S::Switching, S::Erasing, S::Writing, S::Marking, S::Verifying,
                          S::Returning};
    // The first attempt of "refused-once" fails while writing.
    const auto run = [&](int attempts, bool firstFails) {
        std::vector<S> all(std::begin(kStart), std::end(kStart));
        for (int a = 0; a < attempts; ++a) {
            for (const S stage : kAttempt) {
                all.push_back(stage);
                if (firstFails && a == 0 && stage == S::Writing) break;
            }
        }
        all.push_back(S::Ended);
        return all;
    };
    const RunStateCase cases[] = {
        {"family0", run(1, false), 1, RunEnd::Updated, 0x0610},
        {"refused-once", run(2, true), 2, RunEnd::Updated, 0x0610},
        {"uptodate", run(0, false), 0, RunEnd::UpToDate, 0x0610},
        {"nosensor", run(0, false), 0, RunEnd::NoSensor, 0xFFFF},
    };
    for (const RunStateCase& c : cases) {
        SetUp();
        Start(c.scenario, "");
        Tick();
        AppPress(&state, AppButton::Update);
        recording_view_join_threads();
        const std::vector<RunState> states = recording_view_states();
        std::vector<S> stages;
        for (const RunState& shown : states) stages.push_back(shown.stage);
        EXPECT_EQ(stages, c.stages) << c.scenario;
        ASSERT_FALSE(states.empty());
        const RunState& ended = states.back();
        EXPECT_EQ(ended.end, c.end) << c.scenario;
        EXPECT_EQ(ended.attempt, c.lastAttempt) << c.scenario;
        EXPECT_EQ(ended.attemptLimit, 10u) << c.scenario;
        EXPECT_EQ(ended.sensor.version, c.versionAtEnd) << c.scenario;
        for (const RunState& shown : states) {
            EXPECT_TRUE(shown.end == RunEnd::NotRun || shown.stage == S::Ended) << c.scenario;
        }
    }
}

// ---- A window's first look ----------------------------------------------------------------

struct LookCase {
    const char* scenario;
    const char* firmwareDirectory;  // --firmware-dir; null: the carried images
    RunVerdict verdict;
    bool estimated;                 // an update's time is told
    bool needsFamily;               // the model question comes before any update
    int exitOnClose;
};

// The look runs on a thread of its own; its end reaches the loop as work handed to it, and
// the Ready state carries the verdict. Update waits for the look; a close does not.
TEST_F(Program, AWindowsFirstLookTellsWhatUpdateWouldDoBeforeATap) {
    static FirmwareSource emptyFolder = {"/nonexistent-zorflash-folder", nullptr, {}, {}};
    const LookCase cases[] = {
        {"family0", nullptr, RunVerdict::UpdateAvailable, true, false, 2},
        {"family1", nullptr, RunVerdict::UpdateAvailable, true, false, 2},
        {"uptodate", nullptr, RunVerdict::UpToDate, true, false, 2},
        {"mismatch", nullptr, RunVerdict::DoesNotFit, true, false, 2},
        {"nosensor", nullptr, RunVerdict::NoSensor, false, false, 0},
        {"bootloader", nullptr, RunVerdict::InBootLoader, true, false, 2},
        {"bootloader-unrecorded", nullptr, RunVerdict::FamilyUnknown, false, true, 2},
        {"family0", emptyFolder.directory, RunVerdict::NoImage, false, false, 2},
    };
    for (const LookCase& c : cases) {
        SetUp();
        settings.looksFirst = true;
        settings.firmware = c.firmwareDirectory != nullptr ? &emptyFolder : nullptr;
        Start(c.scenario, "");
        Tick();
        EXPECT_FALSE(AppWantsTicks(&state)) << c.scenario;
        AppPress(&state, AppButton::Update);  // before the verdict: nothing starts
        EXPECT_FALSE(AppUpdating(&state)) << c.scenario;
        recording_view_join_threads();
        const std::vector<RunState> states = recording_view_states();
        ASSERT_FALSE(states.empty());
        const RunState& ready = states.back();
        EXPECT_EQ(ready.stage, RunStage::Ready) << c.scenario;
        EXPECT_EQ(ready.verdict, c.verdict) << c.scenario;
        EXPECT_EQ(ready.estimateMs > 0, c.estimated) << c.scenario;
        EXPECT_EQ(AppNeedsFamily(&state), c.needsFamily) << c.scenario;
        EXPECT_FALSE(AppClose(&state)) << c.scenario;
        EXPECT_EQ(QuitCode(), c.exitOnClose) << c.scenario;
    }
}

// A close while the look runs hides the window at once; the run ends when the look does.
TEST_F(Program, ACloseDuringTheLookEndsTheRunWithIt) {
    settings.looksFirst = true;
    Start("family0", "");
    Tick();
    EXPECT_FALSE(AppClose(&state));
    EXPECT_FALSE(recording_view_shown());
    EXPECT_EQ(QuitCode(), -1);
    recording_view_join_threads();
    EXPECT_EQ(QuitCode(), 2);
}

// Wherever an update stands, the bar that moves with time never goes back within an attempt
// and never claims a stage it has not reached: over every stage in order, at growing times
// and growing steps, it rises from 0 to 1000 at the end of a success.
TEST(RunBar, NeverGoesBackWithinAnAttemptAndEndsFullOnSuccess) {
    const RunStage stages[] = {RunStage::Switching, RunStage::Erasing, RunStage::Writing,
                               RunStage::Marking, RunStage::Verifying, RunStage::Returning};
    for (const uint32_t imageBytes : {36352u, 62464u, 128u}) {
        const uint32_t estimate = EstimateUpdateMs(imageBytes);
        const uint32_t total = 2 * (imageBytes / 128 + 1);
        uint32_t last = 0;
        for (const RunStage stage : stages) {
            for (uint32_t ms = 0; ms <= 60000; ms += 250) {
                RunState state = {};
                state.stage = stage;
                state.total = total;
                state.done = stage == RunStage::Writing ? std::min(total / 2, ms / 20) : 0;
                const uint32_t permille = RunBarPermille(state, ms, estimate);
                EXPECT_GE(permille, last) << imageBytes << " stage " << int(stage) << " ms " << ms;
                EXPECT_LT(permille, 1000u);
                last = permille;
            }
        }
        RunState ended = {};
        ended.stage = RunStage::Ended;
        ended.end = RunEnd::Updated;
        EXPECT_EQ(RunBarPermille(ended, 0, estimate), 1000u);
        ended.end = RunEnd::Failed;
        EXPECT_EQ(RunBarPermille(ended, 0, estimate), 0u);
    }
}

// The window's one action, over generated runs of what it is told: nothing while the sensor
// is written or before the first look, never one tap for a sensor whose family nothing tells,
// Write Firmware only once a model is picked, and Retry only after an update failed.
TEST(WindowModel, OffersAWriteOnlyWhereOneIsSafe) {
    uint32_t seed = 2026;
    const auto next = [&seed](uint32_t range) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) % range;
    };
    for (int run = 0; run < 200; ++run) {
        WindowModel model;
        WindowModelReset(&model);
        for (int step = 0; step < 40; ++step) {
            switch (next(4)) {
            case 0: {
                RunState state = {};
                state.stage = static_cast<RunStage>(next(9));
                state.end = state.stage == RunStage::Ended ? static_cast<RunEnd>(next(9)) : RunEnd::NotRun;
                state.verdict = state.stage == RunStage::Ready ? static_cast<RunVerdict>(next(8))
                                                               : RunVerdict::Unknown;
                WindowTakeState(&model, state, step * 1000u);
                break;
            }
            case 1: WindowFollow(&model, next(3) == 0, next(2) == 0); break;
            case 2: WindowChooseModel(&model, next(2) == 0); break;
            default: model.pickedModel = static_cast<uint16_t>(next(3)); break;
            }
            const WindowAction action = WindowActionFor(model);
            const std::string where = "run " + std::to_string(run) + " step " + std::to_string(step);
            if (model.updating || !model.lookedAlready) {
                EXPECT_EQ(action, WindowAction::None) << where;
            }
            if (model.needsFamily && !model.choosingModel && action != WindowAction::None) {
                EXPECT_EQ(action, WindowAction::ChooseModel) << where;
            }
            if (action == WindowAction::WriteChosenModel) {
                EXPECT_EQ(WindowActionReady(model), model.pickedModel != kSensorNone) << where;
            }
            if (action == WindowAction::Retry) {
                EXPECT_TRUE(model.state.stage == RunStage::Ended && model.state.end == RunEnd::Failed)
                    << where;
            }
            EXPECT_NE(WindowWordsFor(model).headline, nullptr) << where;
        }
    }
}

// ---- Who watches: decided once, for every front end ----------------------------------------

struct FaceRecord {
    int shown = 0;
    int printed = 0;
    std::string text;
};

void RecordPrint(void* context, ProgramStream, const char* text) {
    static_cast<FaceRecord*>(context)->printed++;
    static_cast<FaceRecord*>(context)->text += text;
}

bool RecordShow(void* context, ProgramMessage, const char* text) {
    static_cast<FaceRecord*>(context)->shown++;
    static_cast<FaceRecord*>(context)->text += text;
    return true;
}

struct WatchCase {
    const char* line;  // Windows' command-line text
    bool unattended;
    int status;        // of ProgramAnswer
};

// A script's line is never answered in a box, whatever it asks or gets wrong; a person's is.
TEST(ProgramDriver, DecidesOnceWhoWatchesAndNeverShowsABoxToAScript) {
    const WatchCase cases[] = {
        {"--help", false, 0},
        {"--version", false, 0},
        {"--bogus", false, 4},
        {"/F3 fw.bin --help", false, 0},
        {"--help --report /nonexistent/r.json", true, 0},
        {"--version --report /nonexistent/r.json", true, 0},
        {"--update=1", true, 4},
        {"--updat", true, 4},
        {"--upd --help", true, 4},
        {"--rep", true, 4},
        {"--json --info", true, 4},  // no JSON on Windows: refused, but a script's
        {"/F0 fw.bin --version", true, 0},
        {"/V --bogus", true, 4},
        {"/F2", true, kProgramGoesOn},
        {"/F3 fw.bin", false, kProgramGoesOn},
        {"--info", false, kProgramGoesOn},
        {"--update", true, kProgramGoesOn},
    };
    for (const WatchCase& c : cases) {
        static ProgramState program;
        program.firmware = FirmwareSource{nullptr, nullptr, {}, {}};
        ProgramTakeLine(&program, Edition{kEditionWindows, "zorflash"}, c.line);
        EXPECT_EQ(program.unattended, c.unattended) << c.line;
        FaceRecord record;
        EXPECT_EQ(ProgramAnswer(&program, ProgramFace{&record, RecordPrint, RecordShow, nullptr}), c.status)
            << c.line;
        if (c.status == kProgramGoesOn) continue;
        // A report that cannot be written is told in a line of its own.
        EXPECT_EQ(record.shown, c.unattended ? 0 : 1) << c.line;
        EXPECT_EQ(record.printed > 0, c.unattended) << c.line << ": " << record.text;
    }
}

struct LastWordCase {
    const char* line;
    bool shows;          // the face has messages of its own: nobody reads its window
    const char* error;   // why the loop could not start
    const char* printed;
};

// A face that shows the run only in its window leaves a script why it could not start; a
// person at the screen, or a face that prints its run, is told nothing more.
TEST(ProgramDriver, LeavesAnUnattendedRunsLastWordOnStandardError) {
    const LastWordCase cases[] = {
        {"/V", true, "Can't create DialogBox.", "zorflash: Can't create DialogBox.\n"},
        {"--update", true, "Can't create DialogBox.", "zorflash: Can't create DialogBox.\n"},
        {"/F3 fw.bin", true, "Can't create DialogBox.", ""},
        {"/V", false, "Can't create DialogBox.", ""},
        {"/V", true, nullptr, ""},
    };
    for (const LastWordCase& c : cases) {
        static ProgramState program;
        ProgramTakeLine(&program, Edition{kEditionWindows, "zorflash"}, c.line);
        FaceRecord record;
        const ProgramFace face{&record, RecordPrint, c.shows ? RecordShow : nullptr, nullptr};
        EXPECT_EQ(ProgramEnd(&program, face, nullptr, 1, c.error), 1) << c.line;
        EXPECT_EQ(record.text, c.printed) << c.line;
        EXPECT_EQ(record.shown, 0) << c.line;
    }
}

}  // namespace
