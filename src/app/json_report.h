// The JSON report of --info, --update, --help and --version (--json on standard output,
// --report in a file): one object whose keys are an interface for scripts; the manual page
// lists them. Formatted here, without a JSON library, so that every front end gives the
// same bytes.
#pragma once

#include <cstddef>

#include "app/long_options.h"
#include "sensor/sensor_info.h"
#include "update/update_worker.h"

struct JsonReport {
    const char* programName;
    int exitStatus;
    const SensorInfo* sensor;      // as found (before the update); null: not queried
    const UpdateOutcome* update;   // --update once its worker ended; null otherwise
    const char* error;             // why nothing was done (usage, lock); null otherwise
    const char* help = nullptr;    // --help: the usage text
    const ImageSourceDescription* images = nullptr;  // --version: images A and B
    // The run's stamp (16 hex digits; UTC, ISO 8601), given by the front end; null: left out.
    const char* runId = nullptr;
    const char* startTime = nullptr;
    // The object --report leaves as a run starts: "exitStatus": null, "state": "running".
    bool running = false;
};

// Room for the largest report: the usage text, the records and two image paths, escaped.
constexpr size_t kJsonReportCapacity = 65536;

// With a run id the object ends in "state" ("running" or "ended"), "runId" and "startTime".
// The object, indented by two blanks a level and ended with a line feed, NUL-terminated in
// `text`. Texts that are not valid UTF-8 (a folder name in a status line may hold any bytes)
// have each bad sequence replaced by U+FFFD. Returns its length; 0, and an empty text, when
// it does not fit `capacity`.
size_t FormatJsonReport(const JsonReport& report, char* text, size_t capacity);
