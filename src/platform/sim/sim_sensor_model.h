// A model of the pen-digitizer sensor as it behaves on the USB bus: its HID interfaces in
// normal mode and in its boot loader, the feature and output reports it answers, the mode
// changes it goes through, its flash memory, and faults that can be injected.
//
// Portable C++ without OS calls. All state lives in one `SimSensor` passed to free
// functions, so several sensors can exist side by side. The model guards nothing: the
// caller serialises every call on one sensor (the sim platform holds its machine mutex,
// the umockdev harness its own lock). Time is given by the caller as milliseconds on a
// clock of its choice that never goes backwards; the model only compares it with the
// due times of its own delays.
//
// Results are Windows error codes (kSimOk = 0 for success), so the sim platform passes
// them on as the last error and another harness maps them to its own codes.
//
// Behaviour the host cannot see on the wire, as this model settles it:
// - The boot loader keeps one reply: each command replaces it, and every get of report 2
//   answers it again until the next command. Before its first command (after each
//   appearance) it answers 02 FF FF FF 00..., which matches no command's echo.
// - A refused command (status != 0) changes nothing in the flash. The exit command gets no
//   reply and leaves the previous one in place.
// - Boot loaders below version 16 leave flash mode only on the output report {0x00, 0x03}
//   and ignore the feature form; version 16 and above take only the feature form.
// - After the exit the sensor restarts: it comes back in normal mode, with the configured
//   version after the update, when the write mark's first byte at 0x23FF8 is 0x00; otherwise
//   it comes back in its boot loader, as a sensor whose image is not marked valid does.
// - Calls through a port of an earlier appearance fail with kSimErrNotConnected.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "firmware_layout.h"      // where the boot loader ends and the images begin
#include "platform/sensor_ids.h"  // the sensor's vendor and products

// ---- Fixed facts of the device ---------------------------------------------------------

constexpr uint32_t kSimFlashSize = 0x28000;          // 160 KiB of NOR flash
constexpr uint32_t kSimBootLoaderEnd = kFlashStartAddress;  // below it: the boot loader itself
constexpr uint32_t kSimMarkAddress = 0x23FF8;        // write mark that makes an image valid
constexpr uint32_t kSimSecondMarkAddress = 0x1FBF0;  // second copy, never checked by the device
constexpr uint32_t kSimBootReportLength = 137;       // feature reports 1 and 2 of the boot loader
// The boot loader's output report: 64 data bytes behind the report-ID byte 0, as Windows
// counts a report of a device whose output report carries no ID of its own.
constexpr uint16_t kSimDefaultBootOutputLength = 65;

// Erase blocks of the boot loader's opcode 0, by block index. The five blocks cover the whole
// application area 0x4000..0x27FFF; the write mark 0x23FF8 and its copy 0x1FBF0 lie in
// block 3, so every update's erase also clears both marks.
struct SimEraseBlock {
    uint32_t start;
    uint32_t length;
};
constexpr uint32_t kSimEraseBlockCount = 5;
extern const SimEraseBlock kSimEraseBlocks[kSimEraseBlockCount];

// Status bytes of the boot loader's replies (byte 3 of feature report 2).
constexpr uint8_t kSimStatusDone = 0x00;
constexpr uint8_t kSimStatusBadAddress = 0x01;   // block index > 4, or range outside the flash
constexpr uint8_t kSimStatusBadLength = 0x02;    // length 0 or above 16 units, or not aligned
constexpr uint8_t kSimStatusMismatch = 0x03;     // verify: flash differs from the data
constexpr uint8_t kSimStatusProtected = 0x04;    // program/verify below 0x4000 (the boot loader)
constexpr uint8_t kSimStatusBadOpcode = 0x05;    // opcode above 3
constexpr uint8_t kSimStatusInjected = 0x01;     // default status of an injected refusal

// Results of the report calls: Windows error codes, 0 for success.
constexpr uint32_t kSimOk = 0;
constexpr uint32_t kSimErrFileNotFound = 2;        // open: no interface with that path now
constexpr uint32_t kSimErrAccessDenied = 5;        // open: interface held by another program
constexpr uint32_t kSimErrInvalidHandle = 6;
constexpr uint32_t kSimErrGenFailure = 31;         // the device stalled the request
constexpr uint32_t kSimErrInvalidParameter = 87;   // report ID not in this collection, short buffer
constexpr uint32_t kSimErrOperationAborted = 995;  // an output write cancelled after its wait
constexpr uint32_t kSimErrIoPending = 997;         // an output write that does not complete
constexpr uint32_t kSimErrNotConnected = 1167;     // the device left the bus since the open

// ---- Configuration ---------------------------------------------------------------------

enum SimMode : uint8_t {
    kSimModeNormal = 0,      // running its firmware: product 0x0090 or 0x00E6
    kSimModeBootLoader = 1,  // running its boot loader: product 0x0094
    kSimModeAbsent = 2,      // off the bus, restarting (a change to another mode may be due)
    kSimModeGone = 3,        // vanished for good (injected fault): every call fails
};
const char* sim_mode_name(SimMode mode);

enum SimFlashContent : uint8_t {
    kSimFlashErased = 0,       // every byte 0xFF
    kSimFlashOldFirmware = 1,  // a boot-loader pattern below 0x4000, an old image pattern
                               // 0x4000..0x1FFFF, both marks programmed (00 FF FF ...)
};

// One top-level collection: what HidP_GetCaps tells about it. Lengths include the ID byte.
struct SimCollection {
    uint16_t usagePage;
    uint16_t usage;
    uint16_t inputReportLength;
    uint16_t outputReportLength;
    uint16_t featureReportLength;
    bool openable;     // false: every open fails with kSimErrAccessDenied
};

constexpr uint32_t kSimMaxExtraCollections = 4;

// What is injected into one boot-loader command (feature report 1 set in the boot loader).
enum SimFaultKind : uint8_t {
    kSimFaultNone = 0,
    kSimFaultFailSet = 1,        // the set fails (kSimErrGenFailure); the command is not run
    kSimFaultFailGet = 2,        // the command runs; the get of its reply fails (kSimErrGenFailure)
    kSimFaultRefuse = 3,         // not run; reply echoes opcode and sequence, status `value`
    kSimFaultWrongOpcode = 4,    // runs; reply carries opcode `value`, status 0
    kSimFaultWrongSequence = 5,  // runs; reply carries sequence byte `value`, status 0
    kSimFaultDeviceGone = 6,     // the device vanishes at this command: the set fails with
                                 // kSimErrNotConnected, the interface disappears for good
};

constexpr uint32_t kSimEveryTime = 0xFFFFFFFF;
constexpr uint32_t kSimMaxFaultRules = 8;

// A fault rule fires on a command that matches all of its set conditions, as many times as
// `times` says (kSimEveryTime: on every match). Boot-loader commands are numbered from 1 in
// the order their sets reach the device since the sensor was initialised, across boot-loader
// appearances, counting failed sets too.
struct SimFaultRule {
    SimFaultKind kind = kSimFaultNone;
    uint32_t commandNumber = 0;  // 0: any number
    int16_t opcode = -1;         // -1: any opcode
    bool matchAddress = false;   // true: the command's 32-bit address field must equal `address`
    uint32_t address = 0;
    uint32_t times = 1;
    // Refuse: the status byte (default 1); wrong opcode / sequence: the byte echoed instead
    // (default: the right byte with bit 7 flipped).
    int16_t value = -1;
};

struct SimSensorFaults {
    SimFaultRule rules[kSimMaxFaultRules];
    bool switchRefused = false;         // the switch request's set fails (kSimErrGenFailure)
    bool bootLoaderNeverAppears = false; // after the switch the sensor stays absent
    bool neverReturns = false;          // after the exit command the sensor stays absent
    uint32_t outputWriteHangs = 0;      // how many output writes stay pending (kSimEveryTime: all)
    bool failReport5 = false;           // family 1: gets of feature report 5 fail
    bool failReport6 = false;           // family 1: gets of feature report 6 fail
    bool normalUnopenable = false;      // the main normal-mode collection cannot be opened
    bool bootUnopenable = false;        // the boot loader's collection cannot be opened
    uint32_t openDeniedAfterAppearMs = 0;  // opens fail for this long after each appearance
                                           // (as on Linux until udev has applied its rule)
};

struct SimSensorConfig {
    uint16_t family = 0;                 // 0: product 0x0090, Pen collection; 1: product 0x00E6
    uint16_t normalVersion = 0x0140;     // VersionNumber in normal mode before the update
    uint16_t report5Word = 0x0002;       // family 1: words of feature reports 5 and 6
    uint16_t report6Word = 0x0001;
    uint16_t versionAfterUpdate = 0x0610;   // normal mode after a valid update
    uint16_t report5AfterUpdate = 0x0006;
    uint16_t report6AfterUpdate = 0x0001;
    SimCollection extraBefore[kSimMaxExtraCollections] = {};  // further collections of the
    uint32_t extraBeforeCount = 0;                            // normal-mode product, listed
    SimCollection extraAfter[kSimMaxExtraCollections] = {};   // before / after the main one
    uint32_t extraAfterCount = 0;
    bool startInBootLoader = false;
    uint16_t bootLoaderVersion = 0x0011;  // <16: old generation, 16..31: served, >=32: newer
    uint16_t bootOutputReportLength = kSimDefaultBootOutputLength;
    uint32_t bootAppearDelayMs = 3000;   // switch request -> boot loader on the bus
    uint32_t returnDelayMs = 2000;       // exit command -> sensor back on the bus
    SimFlashContent flashContent = kSimFlashOldFirmware;
    uint32_t transcriptCapacity = 32768; // entries reserved once at initialisation
    SimSensorFaults faults;
};

// Settings for a family: version, report words and the version after the update that the
// built-in image of that family brings (0x0610; 0x0139 with report-5 word 6).
SimSensorConfig sim_sensor_config_for_family(uint16_t family);

// ---- State -----------------------------------------------------------------------------

// One interface of the sensor as listed now (index 0 is listed first).
struct SimInterface {
    uint16_t vendorId;
    uint16_t productId;
    uint16_t versionNumber;
    SimCollection collection;
    bool isMain;     // the collection that carries the sensor's feature reports
};

// Identifies one interface of one appearance on the bus. Calls through a port taken before
// the sensor left the bus fail with kSimErrNotConnected, as calls on a stale handle do.
struct SimPort {
    uint32_t interfaceIndex;
    uint32_t appearance;
    uint16_t productId;  // what was opened, for the transcript of calls on a stale port
    uint16_t usagePage;
    uint16_t usage;
};

enum SimEventKind : uint8_t {
    kSimEventSetFeature = 0,
    kSimEventGetFeature = 1,
    kSimEventWriteOutput = 2,
    kSimEventModeChange = 3,
};
enum SimDirection : uint8_t {
    kSimToDevice = 0,    // set feature, output write
    kSimFromDevice = 1,  // get feature
    kSimNoDirection = 2, // mode change
};

constexpr uint32_t kSimTranscriptDataCapacity = 137;

// One line of the transcript. For a set or a write the bytes are those the host sent; for
// a get, those the host received (on failure: the buffer as the host passed it).
struct SimTranscriptEntry {
    uint64_t timeMs;
    SimEventKind kind;
    SimDirection direction;
    uint8_t fromMode;       // mode changes: SimMode before and after
    uint8_t toMode;
    uint16_t productId;     // the product the call addressed (mode change: the one now listed)
    uint16_t usagePage;     // the collection the call addressed
    uint16_t usage;
    uint32_t length;        // length the host passed (all of it, even beyond the data kept)
    uint32_t outcome;       // kSimOk or the error code the call answered
    uint8_t data[kSimTranscriptDataCapacity];
};

struct SimSensorCounters {
    uint32_t featureSets;      // every set that reached the model, failed ones included
    uint32_t featureGets;
    uint32_t outputWrites;
    uint32_t switchRequests;   // {0x02, 0x02} in normal mode
    uint32_t bootCommands;     // feature report 1 sets in the boot loader
    uint32_t erases;           // erase commands carried out, by any block index
    uint32_t programs;         // program commands carried out
    uint32_t verifies;         // verify commands carried out (matching or not)
    uint32_t verifyMismatches;
    uint32_t exits;            // exit commands that took effect (either form)
    uint32_t modeChanges;
    uint32_t appearances;      // times the sensor showed up on the bus
    uint32_t openDenials;      // opens refused by an unopenable collection or after-appear window
    uint32_t switchRefusals;
    uint32_t outputHangs;
    uint32_t report5Failures;
    uint32_t report6Failures;
    uint32_t ruleFired[kSimMaxFaultRules];  // times each fault rule took effect
};

struct SimSensor {
    SimSensorConfig config;
    SimMode mode;
    uint16_t normalVersion;   // current normal-mode version and report words
    uint16_t report5Word;
    uint16_t report6Word;
    uint32_t appearance;      // increases each time the sensor shows up on the bus
    uint64_t appearedAtMs;
    bool changePending;       // a change to `pendingMode` is due at `pendingAtMs`
    SimMode pendingMode;
    uint64_t pendingAtMs;
    uint8_t reply[kSimBootReportLength];  // the boot loader's reply to its last command
    bool replyGetFails;       // the next get of the reply fails (injected kSimFaultFailGet)
    bool returnWithUpdate;    // the pending return to normal mode brings the new version
    SimSensorCounters counters;
    uint32_t transcriptDropped;           // entries not kept because the transcript was full
    std::vector<SimTranscriptEntry> transcript;  // reserved once by sim_sensor_init
    uint8_t flash[kSimFlashSize];
};

// ---- Operations ------------------------------------------------------------------------

// Sets the sensor up as it is at time `nowMs` (normally 0): mode, flash, counters, an empty
// transcript reserved to the configured capacity.
void sim_sensor_init(SimSensor* sensor, const SimSensorConfig* config, uint64_t nowMs);

// Carries out the mode changes due by `nowMs` (each logged with its due time). Returns how
// many took place. Every call below does this first.
uint32_t sim_sensor_advance(SimSensor* sensor, uint64_t nowMs);
// True and the due time when a mode change is pending, else false.
bool sim_sensor_next_change(const SimSensor* sensor, uint64_t* dueMs);

// The sensor's interfaces on the bus now (0 when absent or gone), and one of them.
uint32_t sim_sensor_interface_count(SimSensor* sensor, uint64_t nowMs);
bool sim_sensor_interface(const SimSensor* sensor, uint32_t index, SimInterface* out);

// Opens interface `index` of the current appearance: kSimOk and a port, or
// kSimErrFileNotFound (no such interface now) or kSimErrAccessDenied.
uint32_t sim_sensor_open(SimSensor* sensor, uint64_t nowMs, uint32_t index, SimPort* port);
// True while the port's appearance is still on the bus.
bool sim_sensor_port_alive(const SimSensor* sensor, const SimPort* port);

// HidD_SetFeature / HidD_GetFeature on the port's collection: buffer[0] is the report ID,
// `length` includes it and must be at least the report's length (kSimErrInvalidParameter).
// The get fills the whole buffer: the report, then zeros.
uint32_t sim_sensor_set_feature(SimSensor* sensor, uint64_t nowMs, const SimPort* port,
                                const uint8_t* buffer, uint32_t length);
uint32_t sim_sensor_get_feature(SimSensor* sensor, uint64_t nowMs, const SimPort* port,
                                uint8_t* buffer, uint32_t length);
// An output report of exactly the collection's output length. kSimErrIoPending when the
// write stays pending (injected); the caller then cancels it after its wait and may log
// that with sim_sensor_note_cancel.
uint32_t sim_sensor_write_output(SimSensor* sensor, uint64_t nowMs, const SimPort* port,
                                 const uint8_t* buffer, uint32_t length);

// Reads flash bytes into `out` (bytes beyond the flash read as 0xFF).
void sim_sensor_read_flash(const SimSensor* sensor, uint32_t address, uint8_t* out,
                           uint32_t length);
// True when the flash holds a valid update: the write mark's first byte is 0x00.
bool sim_sensor_image_valid(const SimSensor* sensor);
