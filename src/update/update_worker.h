// One firmware update on a thread of its own.
#pragma once

#include <cstdint>

#include "flash/flash_protocol.h"
#include "platform/view.h"
#include "sensor/sensor_info.h"

#include "update/firmware_source.h"

// How one run of the worker ended, for the exit status of `--update`, its JSON and the
// history. Every end leaves one final status line.
using UpdateEnd = RunEnd;

struct UpdateOutcome {
    UpdateEnd end;
    UpdateResult result;    // the last attempt's; Success when none ran
    uint32_t attempts;      // runs of the write-and-verify sequence
    uint32_t elapsedMs;     // from the worker's start to its end
    SensorInfo before;      // as the worker was given it
    SensorInfo after;       // read back after a success; else as before
    const char* status;     // the final status line (static text, or `problem` below)
    char problem[kImageProblemCapacity];  // the status line when no image could be had
    // SHA-256 of the image the attempts wrote (as sha256sum gives it for the image file);
    // "" when no attempt ran.
    char sha256[kSha256HexCapacity];
};

// The bar's range when the window is made.
constexpr uint16_t kProgressStartMaximum = 0x220;  // 544

// The bar as the write-and-verify sequence moves it: `done` of `total` on `view`.
struct ViewBar {
    View* view;
    uint32_t done;
    uint32_t total;
    RunState state = {};  // the run as data, as last shown
};

struct UpdateRequest {
    View* view;
    SensorInfo sensor;
    // Where the image comes from; null: the carried images only.
    FirmwareSource* firmware;
    // The status line for a sensor in its boot loader whose family nothing tells, naming
    // the way out the edition offers; null: the no-connection text.
    const char* familyUnknownText = nullptr;
    // The family of a sensor in its boot loader was named by the user (--family, or the
    // window's question), not told by the record.
    bool familyGiven = false;
    // Written by the worker as it ends; read by the main thread once the worker has ended.
    UpdateOutcome outcome = {};
    // The bar as the last worker left it (a worker starts where the one before stopped);
    // written by the worker. Its `view` is the request's.
    ViewBar bar = {nullptr, 0, kProgressStartMaximum};
};

// Thread procedure; `request` points to an UpdateRequest that outlives the thread.
// Returns 0 on the no-sensor path, 2 on every other path (the process exit codes).
unsigned UpdateWorker(void* request);
// The same exit code from how a worker ended.
int UpdateWorkerExitCode(const UpdateOutcome& outcome);
// The sensor as the run's state carries it.
RunSensor AsRunSensor(const SensorInfo& sensor);

// The sequence's status texts and progress steps, shown in the view's status line and bar.
// `bar` outlives the sequence.
FlashProgress ViewFlashProgress(ViewBar* bar);
