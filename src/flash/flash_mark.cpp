#include <cstring>

#include "flash/flash_protocol.h"

namespace {

constexpr uint32_t kMarkAddress = 0x23FF8;        // programmed and compared
constexpr uint32_t kSecondMarkAddress = 0x1FBF0;  // programmed only
// The diagnostic lines keep the steps' old names, as every other flash step's do.
constexpr char kWriteMarkModule[] = "Module Name : flash_marking";
constexpr char kCheckMarkModule[] = "Module Name : is_flash_marking";

// The mark: 0x00 then 0xFF; the length of one 8-byte unit tells the boot loader to use
// the first eight data bytes.
void BuildMarkCommand(FlashCommand* command, uint8_t opcode, uint8_t sequence, uint32_t address) {
    std::memset(command, 0, sizeof(*command));
    command->reportId = kFlashCommandReportId;
    command->opcode = opcode;
    command->sequence = sequence;
    SetCommandAddress(command, address);
    command->length = 0x01;
    command->data[0] = 0x00;
    std::memset(command->data + 1, 0xFF, sizeof(command->data) - 1);
}

}  // namespace

bool WriteUpdateMark(HidDevice* device) {
    FlashCommand command;
    BuildMarkCommand(&command, kFlashOpWrite, 1, kMarkAddress);
    if (!SendAcknowledgedCommand(device, &command, kWriteMarkModule)) return false;
    command.sequence = 2;
    SetCommandAddress(&command, kSecondMarkAddress);
    return SendAcknowledgedCommand(device, &command, kWriteMarkModule);
}

bool CheckUpdateMark(HidDevice* device) {
    FlashCommand command;
    BuildMarkCommand(&command, kFlashOpVerify, 1, kMarkAddress);
    return SendAcknowledgedCommand(device, &command, kCheckMarkModule);
}
