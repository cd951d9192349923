// How one run of the write-and-verify sequence ended, and the status line shown for it.
//
// The numbers are those the status-line table has always been keyed by; 8, 20 and 24 are
// not produced today but keep their texts. Boot-mode entry is the lowest step that ends an
// update, so the enum lives here, below every layer that returns one.
#pragma once

#include <cstdint>

enum class UpdateResult : uint32_t {
    Success = 0,
    NoSensor = 6,              // no interface of the sensor to switch or to program
    BootModeTimeout = 7,       // the boot loader did not appear within 100 s
    FlashModeFailed = 8,
    WriteFailed = 10,          // a block was not programmed
    ExitFailed = 11,           // the exit command could not be sent
    VerifyFailed = 15,         // a block did not verify
    MarkFailed = 17,           // the update mark could not be written
    FileTypeMismatch = 20,
    EraseFailed = 21,
    MarkSet = 24,
    SwitchRequestFailed = 25,  // the sensor did not take the switch to its boot loader
    MarkCheckFailed = 40,      // the update mark did not verify
    BootLoaderMismatch = 42,   // a boot loader of a generation the sequence does not speak
    OtherSensor = 43,          // a sensor of another product than the image's: left alone
    RecordUnsafe = 44,         // the record of the products met would not tell the sensor's
                               // family after the switch: left alone
};

// The status-line text for `result`; any value without a row of its own (6 among them)
// shows "File type mismatch.".
const char* UpdateResultText(UpdateResult result);

// The other texts of the status line and the notice, as every edition shows them (the
// Windows view adds the blanks its fixed-width line has always had).
enum class StatusText : uint8_t {
    Notice,            // the notice while an update may run
    Connecting,
    NoConnection,
    UpToDate,
    VersionMismatch,
    Updating,
    Erasing,
    Programming,
    Verifying,
    UpdateNotStarted,  // no thread could be made for the update
};
const char* StatusTextFor(StatusText text);

// Where nothing tells the family of a sensor in its boot loader: the way out, one wording
// each. A printf format: the program's name (%s, UpdateWithOption only), then the two
// normal-mode products (%04X).
enum class FamilyWayOut : uint8_t {
    UpdateWithOption,  // the edition offers --family
    ChooseInWindow,    // the window asks
    NoRecord,          // Windows: this computer never met the sensor running
    BothRecorded,      // Windows: this computer met both families
};
const char* FamilyUnknownFormat(FamilyWayOut wayOut);
