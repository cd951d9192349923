#include "app/reports.h"

#include <cstdio>
#include <cstring>

#include "platform/records.h"
#include "platform/sensor_ids.h"
#include "platform/system.h"
#include "update/firmware_catalogue.h"

namespace {

constexpr uint32_t kSensorQueries = 3;
constexpr uint32_t kSensorQueryPauseMs = 1000;

}  // namespace

void QuerySensor(SensorInfo* sensor) {
    // The pause follows the last failed query too, as the dialog has always done.
    for (uint32_t query = 0; query < kSensorQueries; ++query) {
        IdentifySensor(sensor);
        if (sensor->kind != kSensorNone) break;
        plat_sleep(kSensorQueryPauseMs);
    }
}

bool ApplyFamilyOption(uint16_t family, SensorInfo* sensor, char* refusal, size_t capacity) {
    refusal[0] = '\0';
    if (family == kSensorNone || sensor->productId == 0) return true;
    if (sensor->productId != kProductBootLoader) {
        // A sensor in normal mode says its family itself; writing the other family's image
        // would brick it.
        std::snprintf(refusal, capacity,
                      "--family applies only to a sensor found in its boot loader; this one "
                      "runs normally as product 0x%04X (family %u).",
                      sensor->productId, static_cast<unsigned>(sensor->kind));
        return false;
    }
    if (sensor->kind != kSensorNone && sensor->kind != family) {
        // The record may be what is wrong (an earlier sensor, a cloned disk): it says where
        // it lives and how to make it forget.
        char clearing[kRefusalCapacity];
        const uint16_t recorded = sensor->kind == 0 ? kProductFamily0 : kProductFamily1;
        const size_t cleared =
            plat_products_met_clearing(kSensorVendorId, recorded, clearing, sizeof clearing);
        std::snprintf(refusal, capacity,
                      "--family %u contradicts this machine's record, which knows the sensor "
                      "as family %u%s%s.",
                      static_cast<unsigned>(family), static_cast<unsigned>(sensor->kind),
                      cleared > 0 ? "; if the record is wrong, " : "", cleared > 0 ? clearing : "");
        return false;
    }
    sensor->kind = family;
    return true;
}

Verdict VerdictFor(const SensorInfo& sensor) {
    if (sensor.kind == kSensorNone) {
        return sensor.productId == kProductBootLoader ? Verdict::FamilyUnknown : Verdict::NoSensor;
    }
    switch (CheckFirmwareVersion(sensor)) {
    case VersionVerdict::UpToDate:
        return Verdict::UpToDate;
    case VersionVerdict::Mismatch:
        return Verdict::DoesNotFit;
    case VersionVerdict::Proceed:
        break;
    }
    return Verdict::UpdateAvailable;
}

const char* VerdictWords(Verdict verdict) {
    switch (verdict) {
    case Verdict::NoSensor:
        return "no sensor found";
    case Verdict::FamilyUnknown:
        return "sensor in its boot loader, family unknown";
    case Verdict::UpdateAvailable:
        return "update available";
    case Verdict::UpToDate:
        return "up to date";
    case Verdict::DoesNotFit:
        break;
    }
    return "this update does not fit this sensor";
}

const char* SensorModeWords(const SensorInfo& sensor) {
    if (sensor.productId == 0) return nullptr;
    return sensor.productId == kProductBootLoader ? "boot loader" : "normal";
}

int InfoExitStatus(const SensorInfo& sensor) {
    return sensor.productId == 0 ? kExitNoSensor : kExitCurrent;
}

int UpdateExitStatusFor(const UpdateOutcome& outcome) {
    switch (outcome.end) {
    case UpdateEnd::NoSensor: return kExitNoSensor;
    case UpdateEnd::FamilyUnknown: return kExitFamilyUnknown;
    case UpdateEnd::UpToDate: return kExitCurrent;
    case UpdateEnd::Mismatch: return kExitDoesNotFit;
    case UpdateEnd::NoImage: return kExitNoImage;
    case UpdateEnd::NotBack: return kExitNotBack;
    case UpdateEnd::Updated:
        // Back in normal mode: it must now run what this program carries.
        return CheckFirmwareVersion(outcome.after) == VersionVerdict::UpToDate ? kExitCurrent
                                                                              : kExitUpdateFailed;
    case UpdateEnd::Failed:
        if (outcome.result == UpdateResult::BootLoaderMismatch) return kExitDoesNotFit;
        if (outcome.result == UpdateResult::RecordUnsafe) return kExitRecordUnsafe;
        return kExitUpdateFailed;  // OtherSensor too: left alone, the update did not happen
    case UpdateEnd::NotRun: break;
    }
    return kExitUpdateFailed;
}

namespace {

// The record of the products met that the family rests on, after the sensor's lines: each
// place the platform read, indented under a heading.
void AppendRecords(char* text, size_t capacity) {
    size_t length = std::strlen(text);
    char records[kRecordsTextCapacity];
    plat_describe_products_met(records, sizeof records);
    int n = std::snprintf(text + length, capacity - length, "Record of the sensors met:\n");
    for (const char* line = records; n > 0 && *line != '\0';) {
        length += static_cast<size_t>(n);
        if (length >= capacity) return;
        const char* feed = std::strchr(line, '\n');
        const int lineLength = static_cast<int>(feed != nullptr ? feed - line : std::strlen(line));
        n = std::snprintf(text + length, capacity - length, "  %.*s\n", lineLength, line);
        line += lineLength + (feed != nullptr ? 1 : 0);
    }
}

}  // namespace

void FormatSensorReport(const SensorInfo& sensor, char* text, size_t capacity) {
    const char* mode = SensorModeWords(sensor);
    if (mode == nullptr) {
        std::snprintf(text, capacity, "Sensor: none found\nVerdict: %s\n",
                      VerdictWords(Verdict::NoSensor));
        AppendRecords(text, capacity);
        return;
    }
    char family[16] = "unknown";
    char current[kVersionTextCapacity];
    char carried[kVersionTextCapacity] = "unknown (family unknown)";
    if (sensor.kind != kSensorNone) {
        std::snprintf(family, sizeof family, "%u", static_cast<unsigned>(sensor.kind));
        FormatNewVersion(sensor.kind, carried, sizeof carried);
    }
    FormatCurrentVersion(sensor, kUnknownVersion, current, sizeof current);
    std::snprintf(text, capacity,
                  "Sensor: family %s, product 0x%04X, %s\n"
                  "Current version: %s\n"
                  "Version this program writes: %s\n"
                  "Verdict: %s\n",
                  family, sensor.productId,
                  sensor.productId == kProductBootLoader ? "in its boot loader" : "running normally",
                  current, carried, VerdictWords(VerdictFor(sensor)));
    AppendRecords(text, capacity);
}
