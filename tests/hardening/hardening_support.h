// Shared pieces of the hardening tests: one whole run of the update worker on the simulated
// sensor, what each attempt of it returned and left open, and the end state of the sensor.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "expected_texts.h"
#include "platform/sim/sim_control.h"
#include "sensor/sensor_info.h"

constexpr uint32_t kMaxAttempts = 10;

// Results of the write-and-verify sequence, as the user-visible stages know them.
constexpr uint32_t kResultOk = 0;
constexpr uint32_t kResultNoSensor = 6;
constexpr uint32_t kResultBootTimeout = 7;
constexpr uint32_t kResultWrite = 10;
constexpr uint32_t kResultExit = 11;
constexpr uint32_t kResultVerify = 15;
constexpr uint32_t kResultMark = 17;
constexpr uint32_t kResultErase = 21;
constexpr uint32_t kResultSwitch = 25;
constexpr uint32_t kResultMarkCheck = 40;
constexpr uint32_t kResultUnsupported = 42;

// What one call of the write-and-verify sequence returned, and the machine's handle
// counters around it (taken by the link-time wrapper of RunWriteAndVerify).
struct AttemptRecord {
    uint32_t result;
    uint32_t opensDuring;      // successful opens during the attempt
    uint32_t closesDuring;     // closes of open handles during the attempt
    uint32_t badClosesDuring;  // closes of handles that were not open
    uint32_t openHandlesAfter;
    uint32_t listsOpenAfter;   // interface lists created and not released
};

// The attempts of the current run, oldest first. Cleared by RunWorker.
const std::vector<AttemptRecord>& Attempts();

struct WorkerRun {
    unsigned exitCode = 0;
    SensorInfo request{};            // what the worker was started with
    std::vector<uint32_t> results;   // one per attempt
    std::string status;              // final status line
    std::string notice;
    std::string currentVersion;      // current-version field at the end
    std::string currentBefore;       // ... as the worker first wrote it
    std::string newVersion;
    std::vector<std::string> diagnostics;
    bool progressEnabled = true;
    bool updateEnabled = true;
    bool exitEnabled = false;
    int progressPos = -1;
};

// Resets the machine and the dialog to `scenario`, makes the request the way the first
// tick of the main window does (IdentifySensor), and runs the worker to its end on this
// thread. `requestOverride` replaces the request when not null (a sensor that was seen at
// the first tick and is gone when Update is pressed). The query and the worker start
// `startAtMs` after the machine's reset (the sensor has been on the bus that long).
WorkerRun RunWorker(const SimScenario& scenario, const SensorInfo* requestOverride = nullptr,
                    uint32_t startAtMs = 0);

// The request a family's default sensor yields at the first tick.
SensorInfo DefaultRequest(uint16_t family);

// The status-line message for a final sequence result, as the user is to read it.
std::string ExpectedMessage(uint32_t result);
// The sequence's own diagnostic message for a failed result.
std::string SequenceDiagnostic(uint32_t result);

// The framed diagnostic line of `module` and `message` (without any system text).
std::string DiagLine(const std::string& module, const std::string& message);

// Flash 0x4000..end of the image for `kind` compared with the image; the write mark set.
bool FlashHoldsImage(uint16_t kind);
bool MarkSet();
// The application area 0x4000..0x27FFF, to compare before and after.
std::vector<uint8_t> ApplicationFlash();

// Image layout of a family.
uint32_t ImageEnd(uint16_t kind);
uint32_t ImageBlocks(uint16_t kind);
// Failures recorded so far in the running test (to tell which scenario added some).
int FailureCount();

// A short description of what the run did, for failure messages.
std::string Describe(const WorkerRun& run);
