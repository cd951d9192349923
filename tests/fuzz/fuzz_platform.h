// A scripted machine behind the platform seams (src/platform/hid.h, system.h, records.h) and
// src/platform/view.h for the fuzz targets: one sensor whose boot loader answers each command
// as the fuzzer's bytes say, a virtual clock, a settable system error text, and captured debugger lines and view calls.
//
// Everything is plain fixed-size state reset by fuzz_machine_reset; nothing here allocates.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint32_t kFuzzMaxCommands = 2048;
constexpr uint32_t kFuzzMaxLines = 16;
constexpr uint32_t kFuzzLineCapacity = 4096;
constexpr uint32_t kFuzzSystemTextCapacity = 4096;

// What the boot loader did with one command (feature report 1 set in the boot loader).
struct FuzzCommand {
    uint8_t bytes[137];      // the command as the host sent it
    uint32_t length;         // the length the host passed
    uint8_t setFailed;       // the set was failed
    uint8_t getAsked;        // the host asked for the reply
    uint8_t getFailed;       // ... and that get was failed
    uint8_t reply[137];      // the reply handed out (when asked and not failed)
};

struct FuzzSetup {
    uint8_t startInBootLoader;    // 0: the sensor runs in normal mode (family 0) first
    uint8_t switchFails;          // the switch request's set fails
    uint8_t bootLoaderMet;        // the machine has met the boot loader's product before
    uint8_t outputWriteFails;     // the exit output report is not delivered
    uint16_t bootLoaderVersion;
};

struct FuzzMachine {
    FuzzSetup setup;
    const uint8_t* stream;        // the boot loader's answers, consumed per command
    size_t streamSize;
    size_t streamPos;
    uint8_t inBootLoader;
    uint64_t nowMs;
    uint32_t opens;
    uint32_t closes;
    uint32_t badCloses;
    uint32_t listsOut;
    uint32_t switchRequests;
    uint32_t outputWrites;
    uint8_t lastOutput[2];
    uint32_t commandCount;
    uint8_t pendingSelector;      // the answer chosen at the set for the coming get
    FuzzCommand commands[kFuzzMaxCommands];
    // System error text: used for every code when `systemTextSet`, else none.
    uint8_t systemTextSet;
    char systemText[kFuzzSystemTextCapacity];
    // Debugger output.
    uint32_t lineCount;
    uint32_t lineLengths[kFuzzMaxLines];
    char lines[kFuzzMaxLines][kFuzzLineCapacity];
    // The view.
    uint32_t progressSteps;
    uint32_t progressMessages;
};

extern FuzzMachine fuzzMachine;

void fuzz_machine_reset(const FuzzSetup& setup, const uint8_t* stream, size_t streamSize);

// Answers of the boot loader, chosen per command by one selector byte from the stream (an
// exhausted stream selects a true acknowledgement):
//   0xFF             the set of the command fails;
//   0xFE             the get of the reply fails;
//   0x80 .. 0xFD     a reply whose first four bytes (report ID, opcode, sequence, status)
//                    are the next four stream bytes, the rest zero;
//   0x00 .. 0x7F     a true acknowledgement: ID 2, the command's opcode and sequence, status 0.
constexpr uint8_t kFuzzSelectFailSet = 0xFF;
constexpr uint8_t kFuzzSelectFailGet = 0xFE;
constexpr uint8_t kFuzzSelectRaw = 0x80;
