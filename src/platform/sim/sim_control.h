// Control of the simulated machine behind the sim platform (sim_platform.cpp): the
// scenario a run starts from, and what tests and the simulated edition read back.
//
// There is one process-wide machine: the sensor model (sim_sensor_model.h), the HID
// interfaces of other devices, the USB products the machine has met, the clock and the
// captured debugger output. Every function here and every plat_* call of the sim platform
// locks the machine's one mutex, so a test or a UI thread may read while the update runs on
// a worker thread. Before the first sim_reset the
// machine runs the default scenario on the virtual clock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/system.h"
#include "platform/sim/sim_sensor_model.h"

// ---- Scenario --------------------------------------------------------------------------

// An interface of another device on the machine.
struct SimOtherInterface {
    uint16_t vendorId;
    uint16_t productId;
    uint16_t versionNumber;
    SimCollection collection;
    // The USB port it is plugged into (plat_hid_port); 0: the port after the sensor's,
    // counted by its index. A board of the sensor's kind on another port is one of these.
    uint16_t port = 0;
};

// A USB product the machine has had attached before.
struct SimUsbProduct {
    uint16_t vendorId;
    uint16_t productId;
};

constexpr uint32_t kSimMaxOtherInterfaces = 8;
constexpr uint32_t kSimMaxProductsMet = 16;
constexpr int32_t kSimNoIndex = -1;

struct SimScenario {
    SimSensorConfig sensor;  // default: family 0 at 0x0140, which needs the update
    bool sensorAttached = true;  // false: the machine lists none of the sensor's interfaces
    uint16_t sensorPort = 1;     // the USB port the sensor is plugged into, in every mode

    // Enumeration order: others[0 .. sensorPosition-1], the sensor's interfaces (in its own
    // order, while it is on the bus), then the remaining others. A sensorPosition beyond
    // otherCount lists the sensor last.
    SimOtherInterface others[kSimMaxOtherInterfaces] = {
        {0x046D, 0xC077, 0x7200, {0x0001, 0x0002, 5, 0, 0, 1}},   // a mouse
        {0x045E, 0x07A5, 0x0112, {0x0001, 0x0006, 9, 2, 0, 1}},   // a keyboard
    };
    uint32_t otherCount = 2;
    uint32_t sensorPosition = 1;

    bool listFails = false;                     // true: plat_hid_list_present answers null
    int32_t pathUnreadableIndex = kSimNoIndex;  // plat_hid_list_entry answers kHidListUnreadable
    uint32_t pathUnreadableTimes = kSimEveryTime;  // ... for this many calls at that index

    // The USB products this machine has met (plat_usb_products_met); the products the core
    // notes (plat_note_product_met) join them during a run.
    SimUsbProduct productsMet[kSimMaxProductsMet] = {
        {0x046D, 0xC077}, {kSensorVendorId, kProductFamily0}, {kSensorVendorId, kProductBootLoader},
    };
    uint32_t productsMetCount = 3;
    // The record cannot be written (a read-only disk): notes are not kept.
    bool recordReadOnly = false;

    // Clock: virtual (plat_sleep advances it at once) or real (steady_clock).
    bool realTime = false;
    uint32_t tickStart = 0x10000;  // plat_tick_count at reset
    // Each feature set and get takes this long, so a real-time run shows the progress bar
    // move (on the real clock slept off outside the lock in slices of about 20 ms, so the
    // average holds where the system's sleeps are coarse).
    uint32_t commandLatencyMs = 0;

    bool echoDebug = false;  // also write plat_debug_output lines to stderr
};

// The default scenario with the sensor of `family` (0 or 1): its version needing the
// update, its version after the update, its product among the products met.
SimScenario sim_scenario_for_family(uint16_t family);

// Named scenarios for the simulated edition (ZORFLASH_SIM): "family0" (the default),
// "family1", "uptodate", "mismatch", "nosensor", "bootloader" (already in its boot loader),
// "refused-block" (the block at 0x8000 refused every time), "refused-once" (refused in the
// first attempt only), "old-bootloader" (version 15), "new-bootloader" (version 32),
// "no-return" (the sensor does not come back after the update), "no-bootloader" (the boot
// loader never appears). Returns true and fills `scenario` for a known name, else false.
bool sim_scenario_by_name(const char* name, SimScenario* scenario);
// The known names, ending with a null pointer.
const char* const* sim_scenario_names();

// Replaces the products met of `scenario` with `count` products of the sensor's vendor.
void sim_scenario_set_products_met(SimScenario* scenario, const uint16_t* productIds,
                                   uint32_t count);
// Adds one fault rule to the sensor's rules; returns its index, or -1 when all are in use.
int sim_scenario_add_fault(SimScenario* scenario, const SimFaultRule& rule);

// ---- Machine ---------------------------------------------------------------------------

// The scenario the machine runs now: the one it was reset from, with the products the run
// noted since.
SimScenario sim_scenario_now();

// Starts the machine afresh from `scenario`: the clock at tickStart, the sensor initialised,
// transcript, counters, handles, debug lines and fault counts cleared. Handles still open
// are forgotten (they count in the old run only).
void sim_reset(const SimScenario& scenario);
void sim_reset_default();
// For the simulated edition: resets from the scenario named by the environment variable
// ZORFLASH_SIM (default "family0") on the real clock when `realTime` is set, with a
// per-command latency that lets a person follow the progress bar. Returns true, or false when the
// name is unknown (the machine then runs "family0").
bool sim_configure_from_environment(bool realTime);

// ---- The sensor kept between runs -------------------------------------------------------

// What a run leaves of the simulated sensor and the machine's record for the next run of the
// simulated edition (ZORFLASH_SIM_STATE): the sensor as the next start finds it. A sensor
// off the bus at the end (it never came back, or its boot loader never appeared) is kept as
// a restart brings it up: in normal mode when its flash holds a marked image, with the new
// version when the update marked it, else in its boot loader.
struct SimKeptState {
    uint16_t family;
    bool attached;
    bool inBootLoader;
    uint16_t normalVersion;
    uint16_t report5Word;
    uint16_t report6Word;
    bool imageValid;  // the flash holds a marked image (else it is taken as erased)
    SimUsbProduct productsMet[kSimMaxProductsMet];
    uint32_t productsMetCount;
};

// The text of a state file is small: a heading and one line per field.
constexpr size_t kSimStateTextCapacity = 1024;

// The machine now, as a state to keep.
SimKeptState sim_kept_state();
// Writes `state` as text (lines ending in '\n'); returns its length, 0 when it does not fit.
size_t sim_format_kept_state(const SimKeptState& state, char* text, size_t capacity);
// Reads the text sim_format_kept_state writes, line by line in its order: true, or false
// with the line and what is wrong with it in `reason`.
bool sim_parse_kept_state(const char* text, SimKeptState* state, char* reason,
                          size_t capacity);
// Puts a kept state onto `scenario` (the faults and delays of the scenario stay); false with
// a reason when the state is of a sensor of another family than the scenario's.
bool sim_apply_kept_state(const SimKeptState& state, SimScenario* scenario, char* reason,
                          size_t capacity);
// The simulated edition's state file: restores the machine from `path` before the run (a
// missing file leaves the named case as it is), keeps the machine in it after the run.
// Anything but a regular file, or a file that does not read as a state, is refused with a
// sentence in `reason`: the run must not start from a sensor it made up.
bool sim_restore_state_file(const char* path, char* reason, size_t capacity);
bool sim_keep_state_file(const char* path, char* reason, size_t capacity);
// The simulated edition around a run that asks the sensor: the case ZORFLASH_SIM names, on
// the real clock unless ZORFLASH_SIM_FAST=1, restored from ZORFLASH_SIM_STATE's file where
// it names one. False, with the sentence in `reason`, for an unknown case or a state the run
// must not start from.
bool sim_begin_edition_run(char* reason, size_t capacity);
// After the run: the machine kept in ZORFLASH_SIM_STATE's file, where it names one.
bool sim_end_edition_run(char* reason, size_t capacity);

// ---- Events during a run (tests) -------------------------------------------------------

// Called at the start of every HID call of the platform (listing, open, feature set and
// get, output write), from the calling thread and outside the machine's lock, with the
// number of such calls since the reset: a test makes things happen at any step of a run.
typedef void (*SimStepHook)(void* context, uint32_t step);
void sim_set_step_hook(SimStepHook hook, void* context);
// The program is cut off from the machine, as a killed one is: from now on its HID calls
// fail as if every device had left, and its notes are not kept. The machine goes on.
void sim_sever_program(bool severed);
// Another board in the sensor's place, at the same port, from `config` (the record and the
// rest of the machine stay). The old board's transcript is gone with it.
void sim_swap_sensor(const SimSensorConfig& config);
// The machine's record of the products met, and whether notes are kept.
void sim_set_products_met(const uint16_t* productIds, uint32_t count, bool readOnly);
// Plugs in another device: others[otherCount], listed first; false when all are in use.
bool sim_attach_other(const SimOtherInterface& other);

// ---- Reading back ----------------------------------------------------------------------

struct SimCounters {
    uint32_t opens;            // successful plat_hid_open calls
    uint32_t openFailures;
    uint32_t closes;           // plat_hid_close of an open handle
    uint32_t badCloses;        // plat_hid_close of a handle that is not open
    uint32_t openHandles;      // opens - closes: 0 when nothing leaked
    uint32_t listCreates;      // plat_hid_list_present calls that answered a list
    uint32_t listReleases;
    uint32_t unreadablePaths;  // kHidListUnreadable answers
    uint32_t sets;             // plat_hid_set_feature calls
    uint32_t gets;             // plat_hid_get_feature calls
    uint32_t outputWrites;
    uint32_t outputCancels;    // output writes cancelled after their wait
    uint32_t otherSets;        // feature sets and output writes sent to another device
    uint32_t productQueries;   // plat_usb_products_met calls
    uint32_t sleeps;           // plat_sleep calls
    uint64_t sleptMs;          // total of their arguments
    uint32_t debugLines;
};

SimCounters sim_counters();
SimSensorCounters sim_sensor_counters();

SimMode sim_mode();
uint16_t sim_sensor_version();           // current normal-mode version
uint32_t sim_present_interface_count();  // every interface on the machine now

// Transcript of the sensor's reports and mode changes, oldest first (a copy).
std::vector<SimTranscriptEntry> sim_transcript();
size_t sim_transcript_size();
uint32_t sim_transcript_dropped();

void sim_flash_read(uint32_t address, uint8_t* out, uint32_t length);

// Lines given to plat_debug_output, in order (copies).
std::vector<std::string> sim_debug_lines();
// Gives `notice` as a real platform gives one: to the handler of plat_set_notice_handler.
void sim_notice(const PlatNotice& notice);

// Milliseconds since the last reset, on the machine's clock.
uint64_t sim_now_ms();
// Virtual clock only: moves the clock forward (a no-op on the real clock).
void sim_advance_ms(uint64_t milliseconds);
