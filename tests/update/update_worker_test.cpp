// The update worker against a scripted write-and-verify sequence: the test binary supplies
// RunWriteAndVerify, ReadFirmwareVersion and plat_sleep itself (a link-time seam), so every attempt,
// result and pause is known exactly and the clock is virtual.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "flash/flash_protocol.h"
#include "platform/records.h"
#include "platform/system.h"
#include "support/expected_texts.h"
#include "support/recording_view.h"
#include "update/firmware_catalogue.h"
#include "update/update_worker.h"

namespace {

struct SequenceCall {
    uint64_t atMs;
    void* progressContext;
    const uint8_t* image;
    uint32_t endAddress;
};

struct Script {
    std::vector<uint32_t> results;  // one per attempt; the last repeats
    int versionFound = 1;           // ReadFirmwareVersion's result
    uint16_t versionAfter = 0x0610;
    uint16_t report5After = 0x0006;
    uint16_t report6After = 0x0001;
};

Script script;
uint64_t clockMs = 0;
std::vector<SequenceCall> sequenceCalls;
std::vector<uint32_t> sleeps;
std::vector<uint64_t> sleepStarts;
int versionReads = 0;
uint16_t versionReadKind = 0xFFFF;

}  // namespace

// The sensor as the update starts: the one the request was made for, unless a row says otherwise.
SensorInfo identifiedNow;

// What changed between the first look and Update, where a row says so; another board of
// the sensor's on another port.
void (*changeBeforeUpdate)(SensorInfo* now) = nullptr;
bool otherBoardAttached = false;

bool LocateSensor(SensorInfo* info) {
    *info = identifiedNow;
    if (changeBeforeUpdate != nullptr) changeBeforeUpdate(info);
    return info->productId != 0;
}

bool SensorDeviceElsewhere(const char*) { return otherBoardAttached; }

UpdateResult RunWriteAndVerify(const FlashProgress& progress, const uint8_t* image,
                               uint32_t endAddress, UpdateTarget*) {
    sequenceCalls.push_back({clockMs, progress.context, image, endAddress});
    const size_t index = sequenceCalls.size() - 1;
    const size_t row = index < script.results.size() ? index : script.results.size() - 1;
    return UpdateResult{script.results[row]};
}

bool ReadFirmwareVersion(uint16_t kind, const char*, uint16_t* firmwareVersion,
                         uint16_t* report6Word, uint16_t* report5Word) {
    ++versionReads;
    versionReadKind = kind;
    if (!script.versionFound) return false;
    *firmwareVersion = script.versionAfter;
    if (kind == 1) {
        *report5Word = script.report5After;
        *report6Word = script.report6After;
    }
    return true;
}

uint32_t plat_tick_count() { return static_cast<uint32_t>(clockMs); }

std::vector<std::string> diagnostics;
void plat_debug_output(const char* text) { diagnostics.push_back(text); }
size_t plat_error_text(uint32_t, char*, size_t) { return 0; }

// A machine whose record holds a stale line of the other family.
size_t plat_describe_products_met(char* text, size_t capacity) {
    return static_cast<size_t>(std::snprintf(text, capacity, "RECORD: 0090, 00e6\nMINE: none\n"));
}
size_t plat_products_met_clearing(uint16_t, uint16_t productId, char* text, size_t capacity) {
    return static_cast<size_t>(std::snprintf(text, capacity, "remove the line %04x from RECORD", productId));
}

// The history entries the worker leaves.
struct RecordedUpdate {
    uint32_t attempts, durationMs, result;
    std::string imageSha256, summary;
};
std::vector<RecordedUpdate> history;
void plat_record_update(const UpdateRecord* record) {
    history.push_back({record->attempts, record->durationMs, record->result,
                       record->imageSha256, record->summary});
}

// The worker's requests name no firmware folder: no file is read.
bool plat_read_regular_file(const char*, uint8_t*, size_t, PlatFileRead* read) {
    *read = PlatFileRead{kFileMissing, 0, 0, ""};
    return false;
}

void plat_sleep(uint32_t milliseconds) {
    sleepStarts.push_back(clockMs);
    sleeps.push_back(milliseconds);
    clockMs += milliseconds;
}

namespace {

View* const kView = reinterpret_cast<View*>(0x1234);
const char kNotice[] =
    "Update firmware takes several minutes.\nDuring updating, you should NOT shut down and "
    "restart PC.";
const char kConnecting[] = "Connecting ....";
const char kNoConnection[] = TEXT_NO_CONNECTION;
const char kUpToDate[] = TEXT_UP_TO_DATE;
const char kMismatch[] = TEXT_VERSION_MISMATCH;
const char kMcuMismatch[] = TEXT_MCU_MISMATCH;

class Worker : public ::testing::Test {
protected:
    void SetUp() override {
        recording_view_reset();
        script = Script{};
        script.results = {0};
        clockMs = 0;
        sequenceCalls.clear();
        sleeps.clear();
        sleepStarts.clear();
        versionReads = 0;
        versionReadKind = 0xFFFF;
        history.clear();
        changeBeforeUpdate = nullptr;
        otherBoardAttached = false;
    }

    unsigned Run(SensorInfo sensor) {
        std::snprintf(sensor.port, sizeof sensor.port, "usb-0000:00:14.0-1");
        if (sensor.productId == 0 && sensor.kind != kSensorNone) {
            sensor.productId = sensor.kind == 0 ? kProductFamily0 : kProductFamily1;
        }
        identifiedNow = sensor;
        request = UpdateRequest{kView, sensor, nullptr};
        return UpdateWorker(&request);
    }

    UpdateRequest request{};

    static std::string Status() { return recording_view_part(RecordedPart::Status).text; }
};

// ---- Messages ----------------------------------------------------------------------------

struct MessageCase {
    uint32_t result;
    const char* message;
};

const MessageCase kMessages[] = {
    {0, TEXT_UPDATE_COMPLETE},
    {6, "File type mismatch."},
    {7, "Failed to enter a flash mode."},
    {8, "Failed to enter a flash mode."},
    {10, "Program Error. "},
    {11, "Failed to entr a normal mode."},
    {15, "Verify Error"},
    {17, ""},
    {20, "File type mismatch."},
    {21, "Failed to erase a firmware."},
    {24, "A writing mark is set."},
    {25, "Failed to send a Feature Report."},
    {40, "Failed to verify a updating mark."},
    {42, TEXT_MCU_MISMATCH},
    {1, "File type mismatch."},
    {27, "File type mismatch."},
    {34, "File type mismatch."},
    {39, "File type mismatch."},
    {0xFFFFFFFF, "File type mismatch."},
};

class ResultMessage : public Worker, public ::testing::WithParamInterface<MessageCase> {};

TEST_P(ResultMessage, TableText) {
    EXPECT_STREQ(UpdateResultText(UpdateResult{GetParam().result}), GetParam().message);
}

// The same value returned by every attempt ends in the table's message, after the status
// line has shown something else, and the notice is cleared.
TEST_P(ResultMessage, WorkerEndsWithIt) {
    script.results = {GetParam().result};
    EXPECT_EQ(Run(SensorInfo{0, 0x0140, 0xFFFF, 0xFFFF}), 2u);
    const std::vector<std::string> texts = recording_view_texts(RecordedPart::Status);
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts.back(), GetParam().message);
    EXPECT_EQ(recording_view_part(RecordedPart::Notice).text, "");
}

INSTANTIATE_TEST_SUITE_P(Results, ResultMessage, ::testing::ValuesIn(kMessages),
                         [](const ::testing::TestParamInfo<MessageCase>& info) {
                             return "Result" + std::to_string(info.param.result);
                         });

// ---- Attempts and pauses -----------------------------------------------------------------

struct AttemptCase {
    const char* name;
    std::vector<uint32_t> results;
    size_t attempts;
    const char* message;
    UpdateEnd end;
    const char* summary = nullptr;  // the history entry's line, where the row gives it
};

const UpdateEnd kUpdated = UpdateEnd::Updated, kFailed = UpdateEnd::Failed;
const AttemptCase kAttempts[] = {
    {"SuccessFirst", {0}, 1, TEXT_UPDATE_COMPLETE, kUpdated,
     "Sensor firmware update: 0140 -> 0610, result 0 (" TEXT_UPDATE_COMPLETE "), 1 attempt, 0.000 s"},
    {"McuMismatchFirst", {42}, 1, kMcuMismatch, kFailed},
    {"EraseFailsEveryTime", {21}, 10, "Failed to erase a firmware.", kFailed,
     "Sensor firmware update: 0140 -> 0140, result 21 (Failed to erase a firmware.), "
     "10 attempts, 50.000 s"},
    {"EraseFailsThenSuccess", {21, 0}, 2, TEXT_UPDATE_COMPLETE, kUpdated},
    {"VerifyFailsThenMcuMismatch", {15, 15, 15, 42}, 4, kMcuMismatch, kFailed},
    {"NineFailuresThenSuccess", {10, 10, 10, 10, 10, 10, 10, 10, 10, 0}, 10, TEXT_UPDATE_COMPLETE,
     kUpdated},
    {"TenthFailureDiffers", {10, 10, 10, 10, 10, 10, 10, 10, 10, 25, 0}, 10,
     "Failed to send a Feature Report.", kFailed},
    {"MarkFailureTwiceThenSuccess", {17, 17, 0}, 3, TEXT_UPDATE_COMPLETE, kUpdated},
};

class Attempts : public Worker, public ::testing::WithParamInterface<AttemptCase> {};

TEST_P(Attempts, CountPausesAndMessage) {
    const AttemptCase& c = GetParam();
    script.results = c.results;
    EXPECT_EQ(Run(SensorInfo{0, 0x0140, 0xFFFF, 0xFFFF}), 2u);
    ASSERT_EQ(sequenceCalls.size(), c.attempts);

    // A pause of exactly 5000 ms follows every result but 0 and 42, the tenth failure too,
    // and nothing else sleeps in the worker.
    std::vector<uint32_t> expectedSleeps;
    for (size_t i = 0; i < c.attempts; ++i) {
        const uint32_t result = i < c.results.size() ? c.results[i] : c.results.back();
        if (result != 0 && result != 42) expectedSleeps.push_back(5000);
    }
    EXPECT_EQ(sleeps, expectedSleeps);
    for (size_t i = 1; i < sequenceCalls.size(); ++i) {
        EXPECT_EQ(sequenceCalls[i].atMs - sequenceCalls[i - 1].atMs, 5000u) << "attempt " << i;
    }
    EXPECT_EQ(recording_view_texts(RecordedPart::Status).back(), c.message);

    // Every attempt: "Now Updating....", then the image of the sensor's family.
    const FirmwareImage& imageA = ImageForKind(0);
    for (const SequenceCall& call : sequenceCalls) {
        EXPECT_EQ(static_cast<ViewBar*>(call.progressContext)->view, kView);
        EXPECT_EQ(call.image, ImageBytes(imageA));
        EXPECT_EQ(call.endAddress, 0xCDFFu);
    }
    size_t updating = 0;
    for (const std::string& text : recording_view_texts(RecordedPart::Status)) {
        updating += text == TEXT_UPDATING;
    }
    EXPECT_EQ(updating, c.attempts);

    // The outcome counts the same attempts, and the history has one entry with them, the
    // last result, the image's SHA-256 and the virtual time the worker took.
    EXPECT_EQ(request.outcome.end, c.end);
    EXPECT_EQ(request.outcome.attempts, c.attempts);
    EXPECT_STREQ(request.outcome.status, c.message);
    ASSERT_EQ(history.size(), 1u);
    EXPECT_EQ(history[0].attempts, c.attempts);
    EXPECT_EQ(history[0].durationMs, clockMs);
    EXPECT_EQ(history[0].result, c.results[std::min(c.attempts, c.results.size()) - 1]);
    EXPECT_EQ(history[0].imageSha256, request.outcome.sha256);
    EXPECT_EQ(history[0].imageSha256.size(), 64u);
    if (c.summary != nullptr) {
        EXPECT_EQ(history[0].summary, c.summary);
    }
}

INSTANTIATE_TEST_SUITE_P(Scripts, Attempts, ::testing::ValuesIn(kAttempts),
                         [](const ::testing::TestParamInfo<AttemptCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(Worker, TenFailuresTakeFiftySecondsOfVirtualTime) {
    script.results = {21};
    Run(SensorInfo{1, 0xFFFF, 0xFFFF, 0xFFFF});
    EXPECT_EQ(sequenceCalls.size(), 10u);
    EXPECT_EQ(clockMs, 50000u);
    // The last pause comes before the message.
    EXPECT_EQ(sleepStarts.back(), 45000u);
}

TEST_F(Worker, FamilyOneUsesImageB) {
    script.versionAfter = 0x0139;
    Run(SensorInfo{1, 0x0139, 2, 1});
    ASSERT_EQ(sequenceCalls.size(), 1u);
    EXPECT_EQ(sequenceCalls[0].image, ImageBytes(ImageForKind(1)));
    EXPECT_EQ(sequenceCalls[0].endAddress, 0x133FFu);
    EXPECT_EQ(versionReadKind, 1);
    EXPECT_EQ(recording_view_part(RecordedPart::CurrentVersion).text, "0139 P0006");
    EXPECT_EQ(recording_view_texts(RecordedPart::NewVersion), std::vector<std::string>{"0139 P0006"});
}

// ---- Control states ------------------------------------------------------------------------

// The calls of the worker as "kind id value" lines, progress messages included.
std::vector<std::string> CallLines() {
    std::vector<std::string> lines;
    for (const ViewCall& call : recording_view_calls()) {
        switch (call.kind) {
        case ViewCallKind::Text:
            lines.push_back(std::string("text ") + recording_view_part_name(call.part) + " " +
                            call.text);
            break;
        case ViewCallKind::Enable:
            lines.push_back(std::string("enable ") + recording_view_part_name(call.part) + " " +
                            std::to_string(call.flag));
            break;
        case ViewCallKind::Progress:
            lines.push_back("position " + std::to_string(call.value));
            break;
        default:
            lines.push_back("other");
            break;
        }
    }
    return lines;
}

const std::string kBarAtZero = "position 0";

TEST_F(Worker, NoSensorPath) {
    EXPECT_EQ(Run(SensorInfo{2, 0xFFFF, 0xFFFF, 0xFFFF}), 0u);
    const std::vector<std::string> expected = {
        std::string("text Notice ") + kNotice,
        std::string("text Status ") + kConnecting,
        "enable Update 0",
        std::string("text Status ") + kNoConnection,
        "enable Progress 0",
        "enable Update 1",
        "enable Exit 1",
    };
    EXPECT_EQ(CallLines(), expected);
    EXPECT_TRUE(sequenceCalls.empty());
    EXPECT_EQ(versionReads, 0);
    EXPECT_TRUE(sleeps.empty());
}

TEST_F(Worker, UpToDatePathLeavesTheBarAlone) {
    EXPECT_EQ(Run(SensorInfo{0, 0x0610, 0xFFFF, 0xFFFF}), 2u);
    const std::vector<std::string> expected = {
        std::string("text Notice ") + kNotice,
        std::string("text Status ") + kConnecting,
        "enable Update 0",
        "text CurrentVersion 0610",
        "text NewVersion 0610",
        std::string("text Status ") + kUpToDate,
        "text Notice ",
        "enable Progress 0",
        "enable Update 0",
        "enable Exit 1",
    };
    EXPECT_EQ(CallLines(), expected);
    EXPECT_TRUE(sequenceCalls.empty());
}

TEST_F(Worker, MismatchPath) {
    EXPECT_EQ(Run(SensorInfo{1, 0x0138, 6, 1}), 2u);
    EXPECT_EQ(Status(), kMismatch);
    EXPECT_EQ(recording_view_part(RecordedPart::CurrentVersion).text, "0138 P0006");
    EXPECT_EQ(recording_view_part(RecordedPart::NewVersion).text, "0139 P0006");
    EXPECT_TRUE(sequenceCalls.empty());
    EXPECT_FALSE(recording_view_part(RecordedPart::Update).enabled);
    EXPECT_TRUE(recording_view_part(RecordedPart::Exit).enabled);
}

TEST_F(Worker, AttemptAndSuccessStates) {
    script.results = {0};
    script.versionAfter = 0x0610;
    EXPECT_EQ(Run(SensorInfo{0, 0x0140, 0xFFFF, 0xFFFF}), 2u);
    const std::vector<std::string> expected = {
        std::string("text Notice ") + kNotice,
        std::string("text Status ") + kConnecting,
        "enable Update 0",
        "text CurrentVersion 0140",
        "text NewVersion 0610",
        "text Status " TEXT_UPDATING,
        "enable Progress 1",
        "enable Update 0",
        "enable Exit 0",
        kBarAtZero,
        "text CurrentVersion 0610",  // read back after the update
        kBarAtZero,
        "text Status " TEXT_UPDATE_COMPLETE,
        "text Notice ",
        "enable Progress 0",
        "enable Update 0",
        "enable Exit 1",
    };
    EXPECT_EQ(CallLines(), expected);
    EXPECT_EQ(versionReads, 1);
    EXPECT_EQ(versionReadKind, 0);
}

TEST_F(Worker, FailureResetsTheBarBeforeTheMessage) {
    script.results = {42};
    Run(SensorInfo{0, 0x0145, 0xFFFF, 0xFFFF});
    const std::vector<std::string> lines = CallLines();
    ASSERT_GE(lines.size(), 6u);
    const std::vector<std::string> tail(lines.end() - 6, lines.end());
    const std::vector<std::string> expected = {
        kBarAtZero,
        std::string("text Status ") + kMcuMismatch,
        "text Notice ",
        "enable Progress 0",
        "enable Update 0",
        "enable Exit 1",
    };
    EXPECT_EQ(tail, expected);
    EXPECT_EQ(versionReads, 0);
}

TEST_F(Worker, UnknownVersionShowsQuestionMarksAndProceeds) {
    script.results = {0};
    Run(SensorInfo{1, 0xFFFF, 0xFFFF, 0xFFFF});
    EXPECT_EQ(recording_view_texts(RecordedPart::CurrentVersion).front(), "????");
    EXPECT_EQ(recording_view_texts(RecordedPart::NewVersion).front(), "0139 P0006");
    EXPECT_EQ(sequenceCalls.size(), 1u);
}

TEST_F(Worker, VersionNotReadBackKeepsTheField) {
    script.results = {0};
    script.versionFound = 0;
    Run(SensorInfo{0, 0x0141, 0xFFFF, 0xFFFF});
    EXPECT_EQ(recording_view_texts(RecordedPart::CurrentVersion), std::vector<std::string>{"0141"});
    EXPECT_EQ(Status(), TEXT_UPDATE_COMPLETE);
}

TEST_F(Worker, VersionReadBackAsUnknownIsPadded) {
    script.results = {0};
    script.versionAfter = 0xFFFF;
    Run(SensorInfo{0, 0x0141, 0xFFFF, 0xFFFF});
    EXPECT_EQ(recording_view_part(RecordedPart::CurrentVersion).text, "????");
}

TEST_F(Worker, RequestIsNotWritten) {
    script.results = {0};
    Run(SensorInfo{0, 0x0140, 0x1111, 0x2222});
    EXPECT_EQ(request.view, kView);
    EXPECT_EQ(request.sensor.firmwareVersion, 0x0140);
    EXPECT_EQ(request.sensor.report5Word, 0x1111);
    EXPECT_EQ(request.sensor.report6Word, 0x2222);
}

// ---- The sensor found again at Update -----------------------------------------------------

struct TargetCase {
    const char* name;
    uint16_t productThen;  // as the first look found it: family 0 at 0140, or its boot loader
    bool familyGiven;
    void (*change)(SensorInfo* now);
    bool otherBoard;
    UpdateEnd end;  // NotRun: the attempts ran
};

const TargetCase kTargets[] = {
    {"ProductChanged", 0x0090, false, [](SensorInfo* n) { n->productId = 0x00E6, n->kind = 1; },
     false, UpdateEnd::Failed},
    {"PortChanged", 0x0090, false, [](SensorInfo* n) { n->port[17] = '2'; }, false,
     UpdateEnd::Failed},
    {"VersionChanged", 0x0090, false, [](SensorInfo* n) { n->firmwareVersion = 0x0141; }, false,
     UpdateEnd::Failed},
    {"BootLoaderNow", 0x0090, false, [](SensorInfo* n) { n->productId = 0x0094; }, false,
     UpdateEnd::Failed},
    {"GoneNowAttemptsLookForIt", 0x0090, false, [](SensorInfo* n) { n->productId = 0; }, false,
     UpdateEnd::NotRun},
    {"BootLoaderRecordNowOtherFamily", 0x0094, false, [](SensorInfo* n) { n->kind = 1; }, false,
     UpdateEnd::FamilyUnknown},
    {"BootLoaderRecordNowSilent", 0x0094, false, [](SensorInfo* n) { n->kind = kSensorNone; },
     false, UpdateEnd::FamilyUnknown},
    {"BootLoaderFamilyGiven", 0x0094, true, [](SensorInfo* n) { n->kind = kSensorNone; }, false,
     UpdateEnd::NotRun},
    {"BootLoaderBesideAnotherBoard", 0x0094, true, [](SensorInfo* n) { n->kind = kSensorNone; },
     true, UpdateEnd::Failed},
};

class Target : public Worker, public ::testing::WithParamInterface<TargetCase> {};

// Only the sensor the update was chosen for is written: anything else found at Update ends
// the update before the first attempt, with nothing sent.
TEST_P(Target, ChosenSensorOrNothing) {
    const TargetCase& c = GetParam();
    script.results = {0};
    changeBeforeUpdate = c.change;
    otherBoardAttached = c.otherBoard;
    SensorInfo sensor{0, 0x0140, 0xFFFF, 0xFFFF, c.productThen};
    std::snprintf(sensor.port, sizeof sensor.port, "usb-0000:00:14.0-1");
    identifiedNow = sensor;
    request = UpdateRequest{kView, sensor, nullptr, "family unknown", c.familyGiven};
    EXPECT_EQ(UpdateWorker(&request), c.end == UpdateEnd::FamilyUnknown ? 0u : 2u);
    if (c.end == UpdateEnd::NotRun) {
        EXPECT_FALSE(sequenceCalls.empty());
        return;
    }
    EXPECT_TRUE(sequenceCalls.empty());
    EXPECT_EQ(request.outcome.end, c.end);
    EXPECT_EQ(request.outcome.attempts, 0u);
    EXPECT_EQ(Status(), c.end == UpdateEnd::FamilyUnknown
                            ? "family unknown"
                            : "The sensor attached now is not the one this update was chosen for; "
                              "nothing was sent to it. Start the update again.");
}

INSTANTIATE_TEST_SUITE_P(AtUpdate, Target, ::testing::ValuesIn(kTargets),
                         [](const ::testing::TestParamInfo<TargetCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
