// The JSON report of --info and --update (--json): one object on standard output and
// nothing else there. Its keys are an interface for scripts; the manual page lists them.
#pragma once

#include "app/long_options.h"
#include "sensor/sensor_info.h"
#include "update/update_worker.h"

struct TermReport {
    const char* programName;
    int exitStatus;
    const SensorInfo* sensor;      // as found (before the update); null: not queried
    const UpdateOutcome* update;   // --update once its worker ended; null otherwise
    const char* error;             // why nothing was done (usage, lock); null otherwise
    const char* help = nullptr;    // --help: the usage text
    const ImageSourceDescription* images = nullptr;  // --version: images A and B
};

void PrintJsonReport(const TermReport& report);
