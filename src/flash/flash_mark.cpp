#include <cstring>

#include "flash/flash_protocol.h"
#include "sensor/diag_log.h"

namespace {

constexpr uint32_t kMarkAddress = 0x23FF8;        // programmed and compared
constexpr uint32_t kSecondMarkAddress = 0x1FBF0;  // programmed only

void SetAddress(FlashCommand* command, uint32_t address) {
    command->address[0] = static_cast<uint8_t>(address);
    command->address[1] = static_cast<uint8_t>(address >> 8);
    command->address[2] = static_cast<uint8_t>(address >> 16);
    command->address[3] = static_cast<uint8_t>(address >> 24);
}

// The mark: 0x00 then 0xFF; the length of one 8-byte unit tells the boot loader to use
// the first eight data bytes.
void BuildMarkCommand(FlashCommand* command, uint8_t opcode, uint8_t sequence, uint32_t address) {
    std::memset(command, 0, sizeof(*command));
    command->reportId = kFlashCommandReportId;
    command->opcode = opcode;
    command->sequence = sequence;
    SetAddress(command, address);
    command->length = 0x01;
    command->data[0] = 0x00;
    std::memset(command->data + 1, 0xFF, sizeof(command->data) - 1);
}

// Sends one command that must be acknowledged; false after its diagnostic entry.
bool AcknowledgedCommand(HidDevice* device, const FlashCommand* command, const char* moduleText) {
    FlashReply reply;
    if (flash_exchange(device, command, 0, moduleText, &reply) != ExchangeResult::Replied) {
        return false;
    }
    if (!is_flash_ack(command, &reply)) {
        LogDiagnostic(0, "050:Not ACK", moduleText, 0);
        return false;
    }
    return true;
}

}  // namespace

int flash_marking(HidDevice* device) {
    FlashCommand command;
    BuildMarkCommand(&command, kFlashOpWrite, 1, kMarkAddress);
    if (!AcknowledgedCommand(device, &command, "Module Name : flash_marking")) {
        return kFlashWriteFailed;
    }
    command.sequence = 2;
    SetAddress(&command, kSecondMarkAddress);
    if (!AcknowledgedCommand(device, &command, "Module Name : flash_marking")) {
        return kFlashVerifyFailed;
    }
    return 0;
}

int is_flash_marking(HidDevice* device) {
    FlashCommand command;
    BuildMarkCommand(&command, kFlashOpVerify, 1, kMarkAddress);
    if (!AcknowledgedCommand(device, &command, "Module Name : is_flash_marking")) {
        return kFlashWriteFailed;
    }
    return 0;
}
