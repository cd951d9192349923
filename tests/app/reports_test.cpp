// The functions that decide what a run ends with, row by row and without a sensor: the exit
// status of --update, the --family rule and the JSON report.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/json_report.h"
#include "app/reports.h"
#include "platform/sensor_ids.h"

namespace {

SensorInfo Sensor(uint16_t kind, uint16_t version, uint16_t product) {
    return SensorInfo{kind, version, kValueNotRead, kValueNotRead, product};
}

UpdateOutcome Outcome(UpdateEnd end, UpdateResult result, uint16_t versionAfter = 0x0610) {
    UpdateOutcome outcome{};
    outcome.end = end;
    outcome.result = result;
    outcome.before = Sensor(kSensorFamily0, 0x0140, kProductFamily0);
    outcome.after = Sensor(kSensorFamily0, versionAfter, kProductFamily0);
    return outcome;
}

TEST(UpdateExitStatus, ByHowTheWorkerEnded) {
    const struct {
        UpdateOutcome outcome;
        int status;
    } rows[] = {
        {Outcome(UpdateEnd::NoSensor, UpdateResult::Success), kExitNoSensor},
        {Outcome(UpdateEnd::FamilyUnknown, UpdateResult::Success), kExitFamilyUnknown},
        {Outcome(UpdateEnd::UpToDate, UpdateResult::Success), kExitCurrent},
        {Outcome(UpdateEnd::Mismatch, UpdateResult::Success), kExitDoesNotFit},
        {Outcome(UpdateEnd::NoImage, UpdateResult::Success), kExitNoImage},
        {Outcome(UpdateEnd::NotBack, UpdateResult::Success), kExitNotBack},
        {Outcome(UpdateEnd::Updated, UpdateResult::Success), kExitCurrent},
        // Back, but not running what was written.
        {Outcome(UpdateEnd::Updated, UpdateResult::Success, 0x0140), kExitUpdateFailed},
        {Outcome(UpdateEnd::Failed, UpdateResult::BootLoaderMismatch), kExitDoesNotFit},
        {Outcome(UpdateEnd::Failed, UpdateResult::OtherSensor), kExitUpdateFailed},
        {Outcome(UpdateEnd::Failed, UpdateResult::VerifyFailed), kExitUpdateFailed},
        {Outcome(UpdateEnd::NotRun, UpdateResult::Success), kExitUpdateFailed},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(UpdateExitStatusFor(row.outcome), row.status)
            << "end " << static_cast<int>(row.outcome.end) << " result "
            << static_cast<uint32_t>(row.outcome.result);
    }
}

TEST(FamilyOption, NamesOnlyABootLoaderNothingElseNames) {
    const struct {
        uint16_t family;
        SensorInfo sensor;
        bool taken;
        uint16_t kindAfter;
        const char* refusalStart;
    } rows[] = {
        {kSensorNone, Sensor(kSensorNone, 0x0011, kProductBootLoader), true, kSensorNone, ""},
        {kSensorFamily1, Sensor(kSensorNone, kValueNotRead, 0), true, kSensorNone, ""},
        {kSensorFamily1, Sensor(kSensorNone, 0x0011, kProductBootLoader), true, kSensorFamily1, ""},
        {kSensorFamily1, Sensor(kSensorFamily1, 0x0011, kProductBootLoader), true, kSensorFamily1,
         ""},
        {kSensorFamily1, Sensor(kSensorFamily0, 0x0011, kProductBootLoader), false, kSensorFamily0,
         "--family 1 contradicts this machine's record, which knows the sensor as family 0"},
        {kSensorFamily1, Sensor(kSensorFamily0, 0x0610, kProductFamily0), false, kSensorFamily0,
         "--family applies only to a sensor found in its boot loader; this one runs normally "
         "as product 0x0090 (family 0)."},
    };
    for (const auto& row : rows) {
        SensorInfo sensor = row.sensor;
        char refusal[kRefusalCapacity];
        EXPECT_EQ(ApplyFamilyOption(row.family, &sensor, refusal, sizeof refusal), row.taken);
        EXPECT_EQ(sensor.kind, row.kindAfter);
        EXPECT_EQ(std::string(refusal).rfind(row.refusalStart, 0), 0u) << refusal;
        EXPECT_EQ(refusal[0] == '\0', row.taken) << refusal;
    }
}

TEST(JsonReport, MembersEscapesAndCapacity) {
    UpdateOutcome failed = Outcome(UpdateEnd::Failed, UpdateResult::BootLoaderMismatch);
    failed.status = "Boot loader mismatch.";
    failed.attempts = 1;
    failed.elapsedMs = 5000;
    const struct {
        const char* name;
        JsonReport report;
        size_t capacity;
        const char* contains[3];
    } rows[] = {
        {"usage", {"zorflash", kExitUsage, nullptr, nullptr, "a \"quoted\" \\ word\n"},
         kJsonReportCapacity,
         {"\"exitStatus\": 4,", "\"error\": \"a \\\"quoted\\\" \\\\ word\\n\"\n}\n", nullptr}},
        {"bad UTF-8", {"zorflash", kExitUsage, nullptr, nullptr, "folder \xC3(x"},
         kJsonReportCapacity, {"\"error\": \"folder \xEF\xBF\xBD(x\"", nullptr, nullptr}},
        {"update", {"zorflash", kExitDoesNotFit, nullptr, &failed, nullptr}, kJsonReportCapacity,
         {"\"end\": \"failed\",", "\"result\": 42,", "\"sha256\": null,\n    \"seconds\": 5.0\n"}},
        // The start object --report leaves while the run goes on, and the final one's end.
        {"running", {"zorflash", 0, nullptr, nullptr, nullptr, nullptr, nullptr, "0123456789abcdef",
                     "2026-12-10T04:19:39Z", true},
         kJsonReportCapacity,
         {"\"exitStatus\": null,\n  \"state\": \"running\",\n  \"runId\": \"0123456789abcdef\",\n"
          "  \"startTime\": \"2026-12-10T04:19:39Z\"\n}\n", nullptr, nullptr}},
        {"ended", {"zorflash", kExitUsage, nullptr, nullptr, "usage", nullptr, nullptr, "00ff", "T", false},
         kJsonReportCapacity,
         {"\"exitStatus\": 4,", "\"error\": \"usage\",\n  \"state\": \"ended\",\n  \"runId\": \"00ff\",", nullptr}},
        {"too small", {"zorflash", kExitUsage, nullptr, nullptr, "usage"}, 40, {nullptr}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        static char text[kJsonReportCapacity];
        const size_t length = FormatJsonReport(row.report, text, row.capacity);
        EXPECT_EQ(length, std::strlen(text));
        EXPECT_EQ(length == 0, row.contains[0] == nullptr) << text;
        for (const char* part : row.contains) {
            if (part != nullptr) {
                EXPECT_NE(std::string(text).find(part), std::string::npos) << text;
            }
        }
    }
}

}  // namespace
