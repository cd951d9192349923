// The rules that keep a sensor from being bricked, checked over generated sequences of
// events on the simulated machine rather than over cases written down one by one: boards
// swapped for the other family, a second board in its boot loader, a run killed at any
// step, a record of the sensors met that is stale, ambiguous, missing or read-only, a
// second run while one writes, a planted lock. After every sequence:
//   - no block of an image ever reaches a board of the other family, nor another board;
//   - a second run never takes the lock while one runs, and a signal never ends a run
//     while the sensor is written;
//   - each run's exit status tells what happened to the sensor (0 only with the image
//     written and the sensor back; a refusal only when nothing was sent);
//   - a run that was killed is finished by the next one, or that one refuses with 9 and
//     sends nothing.
// ZORFLASH_MODEL_SEED and ZORFLASH_MODEL_COUNT run other or more sequences; a failure
// prints the shortest failing sequence with its seed.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <atomic>
#include <random>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "app/app.h"
#include "app/app_loop.h"
#include "app/json_report.h"
#include "app/reports.h"
#include "firmware/sha256.h"
#include "flash/flash_protocol.h"
#include "hardening_support.h"
#include "platform/records.h"
#include "platform/system.h"
#include "recording_view.h"
#include "update/firmware_catalogue.h"
#include "update/update_worker.h"

namespace {

constexpr uint32_t kDefaultSeed = 23;
// Some thousands in the plain build (about ten seconds); the sanitizer builds, ten to twenty
// times slower, check the same rules over the first few hundred.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr uint32_t kDefaultCount = 300;
#else
constexpr uint32_t kDefaultCount = 5000;
#endif

enum class Record { Right, Missing, Stale, Ambiguous, RightReadOnly, StaleReadOnly };
const char* const kRecordWords[] = {"right", "missing", "stale", "ambiguous",
                                    "right, read-only", "stale, read-only"};

enum class Happening {
    Nothing,
    Kill,             // the program is killed: nothing it sends arrives any more
    SwapFamily,       // the board is swapped for one of the other family, in normal mode
    SwapBootLoader,   // ... for one of the other family sitting in its boot loader
    SecondBoard,      // a second board in its boot loader is plugged in elsewhere
    RecordReadOnly,   // the record can no longer be written
    SecondRun,        // a second program starts and asks for the lock
    Signal,           // SIGTERM, SIGHUP or Ctrl-C: the window is closed
};
const char* const kHappeningWords[] = {"nothing", "kill", "swap for the other family",
                                       "swap for the other family in its boot loader",
                                       "second board in its boot loader", "record read-only",
                                       "second run", "signal"};

struct Sequence {
    uint16_t family;
    bool startInBootLoader;
    Record record;
    bool lockIsALink;          // a link planted at the lock's path before the first run
    Happening beforeUpdate;    // between the first look at the sensor and Update
    Happening duringRun;       // at the run's `atStep`-th HID call
    uint32_t atStep;
    bool recordGoneAfter;      // the record is lost before the next run

    std::string Describe() const {
        char text[512];
        std::snprintf(text, sizeof text,
                      "family %u %s, record %s%s; before Update: %s; at HID call %u: %s%s",
                      family, startInBootLoader ? "in its boot loader" : "in normal mode",
                      kRecordWords[static_cast<int>(record)], lockIsALink ? ", lock is a link" : "",
                      kHappeningWords[static_cast<int>(beforeUpdate)], atStep,
                      kHappeningWords[static_cast<int>(duringRun)],
                      recordGoneAfter ? "; then the record is lost" : "");
        return text;
    }
    // How much happens: the shortest failing sequence is the one to read first.
    int Weight() const {
        return (record != Record::Right) + lockIsALink + (beforeUpdate != Happening::Nothing) +
               (duringRun != Happening::Nothing) + recordGoneAfter;
    }
};

Sequence Generate(std::mt19937& rng) {
    auto pick = [&rng](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
    Sequence s;
    s.family = static_cast<uint16_t>(pick(2));
    s.startInBootLoader = pick(4) == 0;
    s.record = static_cast<Record>(pick(6));
    // A sensor waits in its boot loader because a run switched it, and a run switches only
    // with the record naming its family; the record may have been lost or grown a line since.
    // One that names only the other family is a lie no program can see through.
    if (s.startInBootLoader && (s.record == Record::Stale || s.record == Record::StaleReadOnly)) {
        s.record = Record::Ambiguous;
    }
    s.lockIsALink = pick(16) == 0;
    static const Happening kBefore[] = {Happening::Nothing, Happening::Nothing,
                                        Happening::SwapFamily, Happening::SwapBootLoader,
                                        Happening::SecondBoard};
    s.beforeUpdate = kBefore[pick(5)];
    // A boot loader swapped for another boot loader at the same port is just as invisible.
    if (s.startInBootLoader && s.beforeUpdate == Happening::SwapBootLoader) {
        s.beforeUpdate = Happening::SwapFamily;
    }
    // A swap into a boot loader at the same port while the sensor is being switched is the
    // one change no program can see: a boot loader does not tell its family. It is left to
    // the times between runs and before Update.
    static const Happening kDuring[] = {Happening::Nothing,     Happening::Kill,
                                        Happening::Kill,        Happening::SwapFamily,
                                        Happening::SecondBoard, Happening::RecordReadOnly,
                                        Happening::SecondRun,   Happening::Signal};
    s.duringRun = kDuring[pick(8)];
    // Most runs end within a few thousand HID calls; some steps fall past the end.
    s.atStep = 1 + pick(pick(2) == 0 ? 60 : 2500);
    s.recordGoneAfter = pick(8) == 0;
    return s;
}

const uint16_t kProducts[2] = {kProductFamily0, kProductFamily1};
// The window the worker writes to: the recording view takes any.
View* const kModelView = reinterpret_cast<View*>(0x4712);

SimSensorConfig Board(uint16_t family, bool inBootLoader) {
    SimSensorConfig config = sim_sensor_config_for_family(family);
    config.startInBootLoader = inBootLoader;
    return config;
}

// The machine's products met for a record state of a sensor of `family`.
void SetRecord(Record record, uint16_t family) {
    const uint16_t own = kProducts[family];
    const uint16_t other = kProducts[1 - family];
    uint16_t products[3] = {kProductBootLoader, 0, 0};
    uint32_t count = 1;
    if (record == Record::Right || record == Record::RightReadOnly || record == Record::Ambiguous) {
        products[count++] = own;
    }
    if (record == Record::Stale || record == Record::StaleReadOnly || record == Record::Ambiguous) {
        products[count++] = other;
    }
    sim_set_products_met(products, count,
                         record == Record::RightReadOnly || record == Record::StaleReadOnly);
}

const SimOtherInterface kSecondBoard = {kSensorVendorId, kProductBootLoader, 0x0011,
                                        {0x000D, 0x0001, 0, 65, 137, true}, 7};

// What the model knows while a sequence runs.
struct Model {
    const Sequence* sequence;
    uint16_t boardFamily;        // the family of the board at the sensor's port now
    size_t harvested;            // transcript entries of this board already looked at
    uint32_t wrongBlocks;        // image blocks that reached a board of another family
    uint32_t sentThisRun;        // feature sets and output writes the boards received
    uint32_t sentToBoard;        // ... of which the board there now received
    uint32_t blocksThisRun;      // image blocks written to the board there now
    SensorInfo sensor;           // the sensor as the run found it
    bool duringFired;
    bool killed;
    std::atomic<bool> signalled;  // a signal came: the loop closes the window
    bool secondRunLocked;        // a second run took the lock while one ran
    char lockPath[128];
    std::string failure;
};

// Looks at what the board received since the last look: every block written must be its
// own family's image at that address.
void Harvest(Model* m) {
    const std::vector<SimTranscriptEntry> transcript = sim_transcript();
    const FirmwareImage& own = ImageForKind(m->boardFamily);
    for (size_t i = m->harvested; i < transcript.size(); ++i) {
        const SimTranscriptEntry& e = transcript[i];
        // What reached the board: a call through a connection to a board that has left is
        // in the transcript too, failed.
        const bool sent = e.kind == kSimEventSetFeature || e.kind == kSimEventWriteOutput;
        if (!sent || e.outcome != kSimOk) {
            continue;
        }
        ++m->sentThisRun;
        ++m->sentToBoard;
        // Image blocks: 16 units of 8 bytes (the write mark is a shorter write of its own).
        if (e.kind != kSimEventSetFeature || e.length < 136 || e.data[0] != kFlashCommandReportId ||
            e.data[1] != kFlashOpWrite || e.data[7] != 0x10) {
            continue;
        }
        ++m->blocksThisRun;
        const uint32_t address = static_cast<uint32_t>(e.data[3]) | e.data[4] << 8 |
                                 e.data[5] << 16 | static_cast<uint32_t>(e.data[6]) << 24;
        const bool inImage =
            address >= kFlashStartAddress && address + 128 <= ImageEndAddress(own) + 1;
        const uint8_t* expected = ImageBytes(own) + (address - kFlashStartAddress);
        if (!inImage || std::memcmp(e.data + 8, expected, 128) != 0) {
            ++m->wrongBlocks;
        }
    }
    m->harvested = transcript.size();
}

void SwapBoard(Model* m, bool inBootLoader) {
    Harvest(m);
    m->boardFamily = static_cast<uint16_t>(1 - m->boardFamily);
    sim_swap_sensor(Board(m->boardFamily, inBootLoader));
    m->harvested = 0;
    m->sentToBoard = 0;
    m->blocksThisRun = 0;
}

void Happen(Model* m, Happening what) {
    switch (what) {
    case Happening::Nothing:
        break;
    case Happening::Kill:
        m->killed = true;
        sim_sever_program(true);
        break;
    case Happening::SwapFamily:
        SwapBoard(m, false);
        break;
    case Happening::SwapBootLoader:
        SwapBoard(m, true);
        break;
    case Happening::SecondBoard:
        sim_attach_other(kSecondBoard);
        break;
    case Happening::RecordReadOnly: {
        // Whatever it holds stays; nothing more is kept.
        const uint16_t asked[3] = {kProductBootLoader, kProductFamily0, kProductFamily1};
        bool met[3] = {};
        plat_usb_products_met(kSensorVendorId, asked, 3, met);
        uint16_t kept[3];
        uint32_t count = 0;
        for (int i = 0; i < 3; ++i) {
            if (met[i]) kept[count++] = asked[i];
        }
        sim_set_products_met(kept, count, true);
        break;
    }
    case Happening::Signal:
        m->signalled.store(true);
        break;
    case Happening::SecondRun: {
        char reason[256];
        if (plat_lock_instance(m->lockPath, reason, sizeof reason) == InstanceLock::Taken) {
            m->secondRunLocked = true;
        }
        break;
    }
    }
}

void OnStep(void* context, uint32_t step) {
    Model* m = static_cast<Model*>(context);
    if (m->duringFired || step < m->sequence->atStep) return;
    m->duringFired = true;
    Happen(m, m->sequence->duringRun);
}

// One program run, as a front end makes it with --update over the app's driver: the lock,
// the window's first tick (the sensor looked at), Update, the loop until the worker has
// ended, Exit, each through the loop's rule. A signal at the chosen step is kept for the
// worker's end, never carried out while the worker runs. Returns the exit status (-1: killed).
int RunProgram(Model* m, bool withEvents, UpdateOutcome* outcome) {
    m->sentThisRun = 0;
    m->sentToBoard = 0;
    m->blocksThisRun = 0;
    m->sensor = SensorInfo{kSensorNone, kValueNotRead, kValueNotRead, kValueNotRead, 0};
    char reason[256];
    if (plat_lock_instance(m->lockPath, reason, sizeof reason) != InstanceLock::Taken) {
        return kExitAlreadyRunning;
    }
    // The recording view keeps the workers' threads: the last run's is joined here.
    recording_view_reset();
    LaunchOptions options;
    ResetLaunchOptions(&options);
    const AppSettings settings{nullptr, true, kSensorNone, "family unknown", true, false};
    static AppState app;
    static AppLoop loop;
    AppStart(&app, kModelView, options, settings);
    AppLoopStart(&loop, &app, false);
    AppLoopTick(&loop);
    m->sensor = AppSensor(&app);
    if (withEvents) {
        Happen(m, m->sequence->beforeUpdate);
        m->duringFired = false;
        m->signalled.store(false);
        sim_set_step_hook(OnStep, m);
    }
    AppLoopPress(&loop, AppButton::Update);
    // The test's thread is the loop: the worker's end reaches the app as work handed to it.
    while (AppUpdating(&app)) {
        recording_view_run_loop_work();
        if (m->signalled.exchange(false)) {
            const AppLoopNext next = AppLoopClose(&loop, true);
            if (AppUpdating(&app) && (next.finished || !loop.closeKept)) {
                m->failure += "a signal ended the run while the worker ran; ";
            }
        }
        std::this_thread::yield();
    }
    AppLoopNext next = AppLoopPress(&loop, AppButton::Exit);
    while (!next.finished) {
        recording_view_run_loop_work();
        next = AppLoopTick(&loop);
    }
    const int exitStatus = next.exitCode;
    sim_set_step_hook(nullptr, nullptr);
    Harvest(m);
    plat_unlock_instance();
    *outcome = AppOutcome(&app);
    // The exit status is the worker's final word, never one decided while it still ran.
    if (!m->killed && exitStatus != UpdateExitStatusFor(*outcome)) {
        m->failure += "the exit status " + std::to_string(exitStatus) +
                      " is not the one the update's end gives; ";
    }
    if (m->killed) {
        sim_sever_program(false);
        return -1;
    }
    return exitStatus;
}

// The exit status against the board as it is now and what it received.
void CheckExit(Model* m, const char* which, int exitStatus, const UpdateOutcome& outcome) {
    char text[256];
    const bool nothingSent = m->sentThisRun == 0;
    bool ok = true;
    switch (exitStatus) {
    case kExitCurrent:
        // Success only with the image of the board's own family in place and the board back.
        ok = sim_mode() == kSimModeNormal && FlashHoldsImage(m->boardFamily) &&
             (outcome.attempts == 0 ||
              sim_sensor_version() ==
                  sim_sensor_config_for_family(m->boardFamily).versionAfterUpdate);
        break;
    case kExitNoSensor:
    case kExitUsage:
    case kExitDoesNotFit:
    case kExitAlreadyRunning:
    case kExitNoImage:
    case kExitFamilyUnknown:
    case kExitRecordUnsafe:
        ok = nothingSent || outcome.result == UpdateResult::BootLoaderMismatch;
        break;
    case kExitUpdateFailed:
        // "nothing was sent to it": to the sensor attached now.
        ok = outcome.result != UpdateResult::OtherSensor || m->sentToBoard == 0;
        break;
    default:
        break;
    }
    if (!ok) {
        std::snprintf(text, sizeof text,
                      "%s run: exit %d, %u reports sent, end %d, result %u, mode %d; ",
                      which, exitStatus, m->sentThisRun, static_cast<int>(outcome.end),
                      static_cast<unsigned>(outcome.result), static_cast<int>(sim_mode()));
        m->failure += text;
    }
}

// The JSON object the run prints with --json (and leaves with --report) against what the
// board received: its exit status, and the image's SHA-256 exactly when blocks were written.
void CheckJson(Model* m, const char* which, int exitStatus, const SensorInfo& sensor,
               const UpdateOutcome& outcome) {
    static char text[kJsonReportCapacity];
    const JsonReport report{"zorflash", exitStatus, &sensor, &outcome, nullptr};
    if (FormatJsonReport(report, text, sizeof text) == 0) {
        m->failure += std::string(which) + " run: no JSON object; ";
        return;
    }
    nlohmann::json object = nlohmann::json::parse(text, nullptr, false);
    const FirmwareImage& own = ImageForKind(m->boardFamily);
    char ownSum[kSha256HexCapacity];
    Sha256Hex(ImageBytes(own), ImageByteCount(own), ownSum);
    const nlohmann::json sha = object.is_object() ? object["update"]["sha256"] : nlohmann::json();
    const bool shaTellsTheWrite = m->blocksThisRun == 0 || (sha.is_string() && sha == ownSum);
    if (object.is_discarded() || object["exitStatus"] != exitStatus || !shaTellsTheWrite ||
        (object["update"]["end"] == "updated" && exitStatus != kExitCurrent &&
         exitStatus != kExitUpdateFailed)) {
        m->failure += std::string(which) + " run: the JSON object does not tell what happened: " +
                      std::string(text) + "; ";
    }
}

// Runs one sequence; "" when every rule held, else what broke.
std::string RunSequence(const Sequence& s, const char* lockPath) {
    SimScenario scenario = sim_scenario_for_family(s.family);
    scenario.sensor.startInBootLoader = s.startInBootLoader;
    sim_reset(scenario);
    SetRecord(s.record, s.family);
    Model m{};
    m.sequence = &s;
    m.boardFamily = s.family;
    std::snprintf(m.lockPath, sizeof m.lockPath, "%s", lockPath);
    unlink(lockPath);
    if (s.lockIsALink && symlink("/nonexistent-zorflash-target", lockPath) != 0) return "no link";

    UpdateOutcome first{};
    const int firstExit = RunProgram(&m, true, &first);
    if (s.lockIsALink) unlink(lockPath);
    if (firstExit >= 0) {
        CheckExit(&m, "first", firstExit, first);
        CheckJson(&m, "first", firstExit, m.sensor, first);
    }
    const bool interrupted = sim_mode() == kSimModeBootLoader;
    const bool killedMidWrite = m.killed && interrupted && m.boardFamily == s.family;

    // A boot loader of the other family left where the record names one is the one state no
    // program can see through (a boot loader does not tell its family): the board it
    // replaced is put back before the next run.
    if (m.boardFamily != s.family && sim_mode() == kSimModeBootLoader) SwapBoard(&m, false);
    if (s.recordGoneAfter) sim_set_products_met(&kProductBootLoader, 1, false);
    m.killed = false;
    UpdateOutcome next{};
    const int nextExit = RunProgram(&m, false, &next);
    CheckExit(&m, "next", nextExit, next);
    CheckJson(&m, "next", nextExit, m.sensor, next);
    if (killedMidWrite) {
        const bool finished = nextExit == kExitCurrent;
        const bool refused = nextExit == kExitFamilyUnknown && m.sentThisRun == 0;
        if (!finished && !refused) {
            m.failure += "a killed run was neither finished nor refused with 9 by the next; ";
        }
    }
    if (m.wrongBlocks > 0) {
        m.failure +=
            std::to_string(m.wrongBlocks) + " blocks reached a board of the other family; ";
    }
    if (sim_counters().otherSets > 0) m.failure += "reports reached the second board; ";
    if (m.secondRunLocked) m.failure += "a second run took the lock while one ran; ";
    return m.failure;
}

uint32_t FromEnvironment(const char* name, uint32_t fallback) {
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? static_cast<uint32_t>(std::strtoul(text, nullptr, 0))
                                            : fallback;
}

TEST(TargetModel, EveryGeneratedSequenceKeepsTheRules) {
    const uint32_t seed = FromEnvironment("ZORFLASH_MODEL_SEED", kDefaultSeed);
    const uint32_t count = FromEnvironment("ZORFLASH_MODEL_COUNT", kDefaultCount);
    std::printf("model: seed %u, %u sequences (ZORFLASH_MODEL_SEED, ZORFLASH_MODEL_COUNT)\n", seed,
                count);
    char folder[] = "/tmp/zorflash-model-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string lockPath = std::string(folder) + "/zorflash.lock";

    std::mt19937 rng(seed);
    uint32_t failures = 0;
    uint32_t firstFailing = 0;
    Sequence shortest{};
    std::string shortestFailure;
    for (uint32_t n = 0; n < count; ++n) {
        const Sequence s = Generate(rng);
        const std::string failure = RunSequence(s, lockPath.c_str());
        if (failure.empty()) continue;
        if (failures++ == 0) firstFailing = n;
        if (shortestFailure.empty() || s.Weight() < shortest.Weight()) {
            shortest = s;
            shortestFailure = failure;
        }
    }
    recording_view_reset();
    unlink(lockPath.c_str());
    rmdir(folder);
    std::printf("model: %u of %u sequences broke a rule\n", failures, count);
    EXPECT_EQ(failures, 0u) << "first failing sequence: number " << firstFailing << "\nshortest: "
                            << shortest.Describe() << "\n  " << shortestFailure;
}

}  // namespace
