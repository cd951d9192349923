// The run as data, for a window that shows it in its own way beside the texts every edition
// shows: where the run stands, which attempt of how many, the bar, how it ended and the
// sensor as the run knows it.
#pragma once

#include <cstdint>

enum class RunStage : uint8_t {
    Identifying,  // the first query of the sensor
    Ready,        // identified (or not found): waiting for Update
    Switching,    // into the boot loader
    Erasing,
    Writing,
    Marking,      // the write mark after the blocks
    Verifying,
    Returning,    // back to normal mode
    Ended,        // the update ended: `end` says how
};

// How one run of the update ended.
enum class RunEnd : uint8_t {
    NotRun,         // the update has not ended (or never started)
    NoSensor,       // nothing found
    FamilyUnknown,  // found in its boot loader, and nothing tells its family
    UpToDate,
    Mismatch,       // the version policy refuses this sensor
    NoImage,        // no image to write for its family
    Updated,        // written, verified, back in normal mode
    NotBack,        // written and verified, but not back in normal mode
    Failed,         // the last attempt failed
};

// The sensor as the run knows it; `family` kRunNoSensor when none is known.
constexpr uint16_t kRunNoSensor = 2;
struct RunSensor {
    uint16_t family;
    uint16_t productId;  // 0 when not known
    uint16_t version;    // 0xFFFF when not read
};

// What a look at the sensor and its image found before anything is sent, for a window that
// says what Update would do before it is tapped.
enum class RunVerdict : uint8_t {
    Unknown,          // not looked, or an update has run since
    NoSensor,
    UpdateAvailable,
    UpToDate,
    DoesNotFit,       // the version policy refuses this sensor
    NoImage,          // no firmware image for its family on this machine
    InBootLoader,     // waiting in its boot loader; the record tells its family
    FamilyUnknown,    // waiting in its boot loader; nothing tells its family
};

struct RunState {
    RunStage stage;
    uint32_t attempt;       // the write-and-verify run under way, from 1; 0 before the first
    uint32_t attemptLimit;  // the most runs one update makes
    uint32_t done;          // the bar: `done` of `total`
    uint32_t total;
    RunEnd end;             // NotRun until the stage is Ended
    RunSensor sensor;
    RunVerdict verdict;     // at the Ready stage of a window that looks first; else Unknown
    uint32_t estimateMs;    // how long an update of this sensor takes, about; 0: not known
};
