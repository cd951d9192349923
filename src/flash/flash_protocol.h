// The boot loader's command/reply protocol and the flash operations built on it.
#pragma once

#include <cstdint>

#include "platform/ui.h"
#include "sensor/hid_device.h"

enum FlashOpcode : uint8_t {
    kFlashOpErase = 0,
    kFlashOpWrite = 1,
    kFlashOpVerify = 2,
    kFlashOpExit = 3,
};

constexpr uint32_t kFlashReportLength = 137;
constexpr uint32_t kFlashBlockSize = 128;
constexpr uint8_t kFlashCommandReportId = 1;
constexpr uint8_t kFlashReplyReportId = 2;
constexpr uint32_t kFlashStartAddress = 0x4000;

// Host to device, feature report 1. Every byte a command does not name is 0.
struct FlashCommand {
    uint8_t reportId;
    uint8_t opcode;
    uint8_t sequence;
    uint8_t address[4];  // little-endian
    uint8_t length;      // units of 8 bytes
    uint8_t data[128];
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

// Flash-operation failure results.
constexpr int kFlashWriteFailed = 34;
constexpr int kFlashVerifyFailed = 39;

// One set of `command`, an optional pause, one get of the reply into `reply`.
ExchangeResult flash_exchange(HidDevice* device, const FlashCommand* command, uint32_t pauseMs,
                              const char* moduleText, FlashReply* reply);
bool is_flash_ack(const FlashCommand* command, const FlashReply* reply);
// An acknowledged command (write, verify, the marks): one exchange without a pause, then
// the acknowledgement test; false after the exchange's or the "050:Not ACK" entry.
bool flash_acknowledged_command(HidDevice* device, const FlashCommand* command,
                                const char* moduleText);
// Stores `address` in the command's little-endian address field.
void flash_set_address(FlashCommand* command, uint32_t address);
// The exit command of boot loaders below version 16: an output report with a 2000 ms bound.
int flash_write_output_report(HidDevice* device, const uint8_t* report, uint32_t length);

int flash_erase(HidDevice* device);       // 1 / 0
int flash_end(HidDevice* device);         // 1 / 0
int flash_marking(HidDevice* device);     // 0, 34 (first command), 39 (second)
int is_flash_marking(HidDevice* device);  // 0 / 34
int flash_write(WindowHandle window, HidDevice* device, const uint8_t* image,
                uint32_t endAddress, uint32_t startAddress);  // 0 / 34
int flash_verify(WindowHandle window, HidDevice* device, const uint8_t* image,
                 uint32_t endAddress, uint32_t startAddress);  // 0 / 39

// One complete update; returns an UpdateResult.
uint32_t FlashWriteVerify(WindowHandle window, const uint8_t* image, uint32_t endAddress);
