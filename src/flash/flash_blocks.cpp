#include <cstring>

#include "flash/flash_protocol.h"

namespace {

constexpr uint8_t kBlockLengthUnits = 0x10;  // 16 units of 8 bytes

// One pass over [start, end] in 128-byte blocks: programming and verification differ only
// in the opcode, the module text and the failure result. Every block is sent, erased
// (0xFF) ones too, and each must be acknowledged before the next is built.
int BlockPass(WindowHandle window, HidDevice* device, const uint8_t* image, uint32_t endAddress,
              uint32_t startAddress, uint8_t opcode, const char* moduleText, int failure) {
    if (startAddress >= endAddress) return 0;
    FlashCommand command;
    uint8_t sequence = 0;
    uint32_t address = startAddress;
    do {
        ++sequence;  // wraps from 255 to 0
        std::memset(&command, 0, sizeof(command));
        command.reportId = kFlashCommandReportId;
        command.opcode = opcode;
        command.sequence = sequence;
        flash_set_address(&command, address);
        command.length = kBlockLengthUnits;
        // The built-in images are whole blocks; should a range end inside a block, the
        // rest of that block is sent erased rather than read from beyond the image.
        const uint32_t remaining = endAddress - address + 1;
        const uint32_t count = remaining < kFlashBlockSize ? remaining : kFlashBlockSize;
        std::memcpy(command.data, image + (address - startAddress), count);
        if (count < kFlashBlockSize) std::memset(command.data + count, 0xFF, kFlashBlockSize - count);
        if (!flash_acknowledged_command(device, &command, moduleText)) return failure;
        ui_send_item_message(window, kIdProgress, kPbmStepIt, 0, 0);
        address += kFlashBlockSize;
    } while (address < endAddress);
    return 0;
}

}  // namespace

int flash_write(WindowHandle window, HidDevice* device, const uint8_t* image, uint32_t endAddress,
                uint32_t startAddress) {
    return BlockPass(window, device, image, endAddress, startAddress, kFlashOpWrite,
                     "Module Name : flash_write", kFlashWriteFailed);
}

int flash_verify(WindowHandle window, HidDevice* device, const uint8_t* image, uint32_t endAddress,
                 uint32_t startAddress) {
    return BlockPass(window, device, image, endAddress, startAddress, kFlashOpVerify,
                     "Module Name : flash_verify", kFlashVerifyFailed);
}
