// One firmware update on a thread of its own.
#pragma once

#include <cstdint>

#include "platform/ui.h"
#include "sensor/sensor_info.h"

struct FirmwareSource;

struct UpdateRequest {
    WindowHandle window;
    SensorInfo sensor;
    // Where the image comes from; null: the carried images only.
    FirmwareSource* firmware;
};

// Thread procedure; `request` points to an UpdateRequest that outlives the thread.
// Returns 0 on the no-sensor path, 2 on every other path.
unsigned UpdateWorker(void* request);

// The status-line text for an UpdateResult (the empty text for 17).
const char* UpdateResultMessage(uint32_t result);
