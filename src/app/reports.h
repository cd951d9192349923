// What the program tells about the sensor and about an update, for people and for scripts:
// the sensor query shared by the dialog and --info, the --family rule, the verdict in plain
// words, the --info text and the exit statuses of --info and --update.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sensor/sensor_info.h"
#include "update/update_worker.h"

// Exit statuses of --info and --update.
enum UpdateExitStatus : int {
    kExitCurrent = 0,         // the sensor runs the carried firmware (updated now, or already)
    kExitUpdateFailed = 1,    // the status line says how
    kExitNoSensor = 3,
    kExitUsage = 4,
    kExitDoesNotFit = 5,      // version mismatch, boot-loader mismatch
    kExitAlreadyRunning = 6,  // another zorflash holds the lock
    kExitNoImage = 7,         // no firmware image for the sensor's family
    kExitNotBack = 8,         // written and verified, but not back in normal mode
    kExitFamilyUnknown = 9,   // in its boot loader, and nothing tells its family
    kExitRecordUnsafe = 10,   // not switched: the record would not tell its family afterwards
};

enum class Verdict { NoSensor, FamilyUnknown, UpdateAvailable, UpToDate, DoesNotFit };

// A refusal may name record files by their paths.
constexpr size_t kRefusalCapacity = 3072;
// The records of the products met as --info lists them.
constexpr size_t kRecordsTextCapacity = 3072;
// The --info text, records included.
constexpr size_t kSensorReportCapacity = 4096;

// Up to three sensor queries one second apart, as the dialog's first tick makes them.
void QuerySensor(SensorInfo* sensor);
// Applies --family (`family` is kSensorNone when it was not given) to a queried sensor. It
// names the family of a sensor found in its boot loader that nothing else tells; for any
// other sensor it is refused: false, with one sentence in `refusal`.
bool ApplyFamilyOption(uint16_t family, SensorInfo* sensor, char* refusal, size_t capacity);

Verdict VerdictFor(const SensorInfo& sensor);
// "update available", "up to date", "this update does not fit this sensor",
// "no sensor found", "sensor in its boot loader, family unknown".
const char* VerdictWords(Verdict verdict);
// "normal" or "boot loader"; null without a sensor.
const char* SensorModeWords(const SensorInfo& sensor);
// The exit status of --info: a sensor was found (0) or not (3).
int InfoExitStatus(const SensorInfo& sensor);
// The exit status of --update from how the worker ended.
int UpdateExitStatusFor(const UpdateOutcome& outcome);

// The --info text: the sensor, its mode and version, the version this program writes and
// the verdict, one line each, then the records of the products met the family rests on.
void FormatSensorReport(const SensorInfo& sensor, char* text, size_t capacity);
