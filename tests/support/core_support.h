// Shared helpers of the core tests: scenarios on the simulated sensor and views of its
// transcript.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/sim/sim_control.h"
#include "recording_view.h"
#include "sensor/hid_device.h"
#include "update/update_worker.h"  // DialogFlashProgress

// A fault rule for commands of `opcode` (and, when given, the command address `address`).
inline SimFaultRule Rule(SimFaultKind kind, int opcode, int64_t address = -1, uint32_t times = 1,
                  int value = -1) {
    SimFaultRule rule;
    rule.kind = kind;
    rule.opcode = static_cast<int16_t>(opcode);
    if (address >= 0) {
        rule.matchAddress = 1;
        rule.address = static_cast<uint32_t>(address);
    }
    rule.times = times;
    rule.value = static_cast<int16_t>(value);
    return rule;
}

// The bar the sequence under test moves, on a view that records.
inline ViewBar testBar = {reinterpret_cast<View*>(0x1234), 0, kProgressStartMaximum};

// A sensor already running its boot loader of `version`.
inline SimScenario BootLoaderScenario(uint16_t version = 0x0011, uint16_t family = 0) {
    SimScenario s = sim_scenario_for_family(family);
    s.sensor.startInBootLoader = 1;
    s.sensor.bootLoaderVersion = version;
    return s;
}

inline void ResetAll(const SimScenario& scenario) {
    recording_view_reset();
    sim_reset(scenario);
}

// Opens the boot loader's interface the way the sequence holds it.
inline HidDevice OpenBootLoader() {
    HidDevice device = ClosedHidDevice();
    EXPECT_EQ(FindHidDeviceById(&device, 0xF0A5, 0x0094), 1);
    return device;
}

inline uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// Feature-report sets of report ID 1 (boot-loader commands), in order.
inline std::vector<SimTranscriptEntry> BootCommands() {
    std::vector<SimTranscriptEntry> commands;
    for (const SimTranscriptEntry& e : sim_transcript()) {
        if (e.kind == kSimEventSetFeature && e.data[0] == 1) commands.push_back(e);
    }
    return commands;
}

// Every report the host sent or asked for (mode changes left out).
inline std::vector<SimTranscriptEntry> Reports() {
    std::vector<SimTranscriptEntry> reports;
    for (const SimTranscriptEntry& e : sim_transcript()) {
        if (e.kind != kSimEventModeChange) reports.push_back(e);
    }
    return reports;
}

inline std::vector<SimTranscriptEntry> OfKind(SimEventKind kind) {
    std::vector<SimTranscriptEntry> out;
    for (const SimTranscriptEntry& e : sim_transcript()) {
        if (e.kind == kind) out.push_back(e);
    }
    return out;
}

// The framed diagnostic line of `module` and `message`.
inline std::string DiagLine(const std::string& module, const std::string& message) {
    return "---------- < " + module + " > ---------\n" + message;
}

inline int ProgressSteps() { return recording_view_part(RecordedPart::Progress).steps; }

inline void ExpectNothingOpen() {
    const SimCounters c = sim_counters();
    EXPECT_EQ(c.openHandles, 0u) << "a device record was left open";
    EXPECT_EQ(c.badCloses, 0u) << "a handle was closed twice";
    EXPECT_EQ(c.listCreates, c.listReleases) << "an interface list was not released";
}
