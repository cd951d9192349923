// The boot loader's command/reply protocol and the flash operations built on it.
#pragma once

#include <cstdint>

#include "firmware_layout.h"  // kFlashStartAddress, kFlashBlockSize
#include "platform/run_state.h"
#include "sensor/boot_mode.h"
#include "sensor/hid_device.h"
#include "sensor/update_result.h"

enum FlashOpcode : uint8_t {
    kFlashOpErase = 0,
    kFlashOpWrite = 1,
    kFlashOpVerify = 2,
    kFlashOpExit = 3,
};

constexpr uint32_t kFlashReportLength = 137;
constexpr uint8_t kFlashCommandReportId = 1;
constexpr uint8_t kFlashReplyReportId = 2;

// Host to device, feature report 1. Every byte a command does not name is 0.
struct FlashCommand {
    uint8_t reportId;
    uint8_t opcode;
    uint8_t sequence;
    uint8_t address[4];  // little-endian
    uint8_t length;      // units of 8 bytes
    uint8_t data[kFlashBlockSize];
    uint8_t spare;
};
static_assert(sizeof(FlashCommand) == kFlashReportLength, "command report is 137 bytes");

// Device to host, feature report 2.
struct FlashReply {
    uint8_t reportId;
    uint8_t opcode;
    uint8_t sequence;
    uint8_t status;
    uint8_t rest[133];
};
static_assert(sizeof(FlashReply) == kFlashReportLength, "reply report is 137 bytes");

enum class ExchangeResult { Replied, SendFailed, ReplyFailed };

// One set of `command`, an optional pause, one get of the reply into `reply`. A failed set
// or get writes the "010"/"020" diagnostic under `moduleText`.
ExchangeResult ExchangeCommand(HidDevice* device, const FlashCommand* command, uint32_t pauseMs,
                               const char* moduleText, FlashReply* reply);
// The reply names the command's opcode and sequence and reports status 0.
bool IsAcknowledged(const FlashCommand* command, const FlashReply* reply);
// An acknowledged command (write, verify, the marks): one exchange without a pause, then
// the acknowledgement test; false after the exchange's or the "050:Not ACK" entry.
bool SendAcknowledgedCommand(HidDevice* device, const FlashCommand* command,
                             const char* moduleText);
// Stores `address` in the command's little-endian address field.
void SetCommandAddress(FlashCommand* command, uint32_t address);
// An output report, given up after 2000 ms (the exit command of boot loaders below 16).
bool WriteOutputReport(HidDevice* device, const uint8_t* report, uint32_t length);

// What the write-and-verify sequence shows while it runs. The update worker points these
// at the dialog; each call returns once it is shown.
struct FlashProgress {
    void* context;
    void (*showStatus)(void* context, const char* text);
    void (*resetBar)(void* context, uint16_t maximum);  // range 0..maximum, at 0
    void (*stepBar)(void* context);                     // one block done
    void (*showStage)(void* context, RunStage stage);   // the sequence enters a stage
};

// The flash steps, each true on success. A failed exchange or an unacknowledged command
// leaves its diagnostic line; an erase the boot loader refuses and an exit output report it
// does not take leave none.
bool EraseFlash(HidDevice* device);
bool ExitFlashMode(HidDevice* device);
// The update mark: written after programming, checked after verification.
bool WriteUpdateMark(HidDevice* device);
bool CheckUpdateMark(HidDevice* device);
// Programs or verifies [startAddress, endAddress] from `image`, one bar step per block.
bool WriteBlocks(const FlashProgress& progress, HidDevice* device, const uint8_t* image,
                 uint32_t endAddress, uint32_t startAddress);
bool VerifyBlocks(const FlashProgress& progress, HidDevice* device, const uint8_t* image,
                  uint32_t endAddress, uint32_t startAddress);

// One complete update of the flash from 0x4000 to `endAddress`: boot loader, erase,
// programming, mark, verification, mark check, exit, on `target` alone (EnterBootMode).
UpdateResult RunWriteAndVerify(const FlashProgress& progress, const uint8_t* image,
                               uint32_t endAddress, UpdateTarget* target);
