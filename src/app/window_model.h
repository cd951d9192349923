// What a window for a tablet owner shows of the run, decided here once so that the window
// only draws it: which situation the run is in, the words and the one action for it, the
// stage in words, which lines show. The model changes with the view calls the window gets;
// the window draws it whole after every change. Texts are English and marked for
// translation; the window translates them where it draws them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/run_state.h"
#include "platform/view.h"

constexpr size_t kWindowTextCapacity = 512;
constexpr size_t kWindowLineCapacity = 3072;

// What the main action button does now.
enum class WindowAction : uint8_t { None, Update, Retry, Recover, ChooseModel, WriteChosenModel };

// The picture beside the headline.
enum class WindowIcon : uint8_t { Looking, Question, Available, Good, Warning, Error, Locked, Working };

struct WindowWords {
    WindowIcon icon;
    const char* headline;
    const char* explanation;  // may hold one %s: the time an update takes
    WindowAction action;
};

struct WindowModel {
    char texts[4][kWindowTextCapacity];  // by ViewText: what every edition shows
    RunState state;                      // the latest
    RunVerdict verdict;                  // the first look's
    uint32_t estimateMs;                 // the first look's estimate of an update
    bool lookedAlready;                  // the first look has ended
    bool updating;                       // the sensor is being written (Close is refused)
    bool wroteSomething;                 // an update of this run reached the erase
    bool needsFamily;                    // a sensor in its boot loader waits for its model
    bool choosingModel;                  // the model question is on show
    uint16_t pickedModel;                // the model picked in it; kSensorNone: none yet
    uint64_t stageSinceMs;               // when the stage last changed (the window's clock)
    char refusal[kWindowLineCapacity];   // why a close or a model was refused; "" when not
    char permission[kWindowLineCapacity];  // the platform's line when the node may not be opened
};

void WindowModelReset(WindowModel* model);
void WindowTakeText(WindowModel* model, ViewText field, const char* text);
void WindowTakeProgress(WindowModel* model, uint32_t done, uint32_t total);
// The run's state at `nowMs` on the window's monotonic clock.
void WindowTakeState(WindowModel* model, const RunState& state, uint64_t nowMs);
// What the front end knows besides the view calls: whether the sensor is being written and
// whether a sensor in its boot loader waits for its model.
void WindowFollow(WindowModel* model, bool updating, bool needsFamily);
// Why a close or a chosen model was refused ("" clears it).
void WindowTakeRefusal(WindowModel* model, const char* text);
void WindowTakePermission(WindowModel* model, const char* line);
// The model question, on or off; either way nothing is picked yet.
void WindowChooseModel(WindowModel* model, bool on);

const WindowWords& WindowWordsFor(const WindowModel& model);
WindowAction WindowActionFor(const WindowModel& model);
// Whether Write Firmware may be tapped yet.
bool WindowActionReady(const WindowModel& model);
const char* WindowActionLabel(WindowAction action);
// The model question's option for `family`.
const char* WindowModelOption(uint16_t family);
// The stage in words, while an update runs.
const char* WindowStageWords(RunStage stage);
// The text beside its caption (installed version, new version); null when none is known.
const char* WindowVersion(const WindowModel& model, int row);
// The bar shows while the sensor is written and stays, full, after a success.
bool WindowShowsBar(const WindowModel& model);
bool WindowSucceeded(const WindowModel& model);
// The detail line: the status line every edition shows, for support to match; while the
// sensor cannot be opened, the platform's line that says why.
const char* WindowDetail(const WindowModel& model);
