// One firmware update on a thread of its own.
#pragma once

#include <cstdint>

#include "flash/flash_protocol.h"
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
// Returns 0 on the no-sensor path, 2 on every other path (the process exit codes).
unsigned UpdateWorker(void* request);

// The sequence's status texts and progress steps, shown in `window`'s status line and bar.
FlashProgress DialogFlashProgress(WindowHandle window);
