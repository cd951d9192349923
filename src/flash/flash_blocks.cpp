#include <cstring>

#include "flash/flash_protocol.h"

namespace {

constexpr uint8_t kBlockLengthUnits = 0x10;  // 16 units of 8 bytes
// The diagnostic lines keep the passes' old names, as every other flash step's do.
constexpr char kWriteModule[] = "Module Name : flash_write";
constexpr char kVerifyModule[] = "Module Name : flash_verify";

// One pass over [start, end] in 128-byte blocks: programming and verification differ only
// in the opcode and the module text. Every block is sent, erased (0xFF) ones too, and each
// must be acknowledged before the next is built.
bool BlockPass(const FlashProgress& progress, HidDevice* device, const uint8_t* image,
               uint32_t endAddress, uint32_t startAddress, uint8_t opcode,
               const char* moduleText) {
    if (startAddress >= endAddress) return true;
    FlashCommand command;
    uint8_t sequence = 0;
    uint32_t address = startAddress;
    do {
        ++sequence;  // wraps from 255 to 0
        std::memset(&command, 0, sizeof(command));
        command.reportId = kFlashCommandReportId;
        command.opcode = opcode;
        command.sequence = sequence;
        SetCommandAddress(&command, address);
        command.length = kBlockLengthUnits;
        // The built-in images are whole blocks; should a range end inside a block, the
        // rest of that block is sent erased rather than read from beyond the image.
        const uint32_t remaining = endAddress - address + 1;
        const uint32_t count = remaining < kFlashBlockSize ? remaining : kFlashBlockSize;
        std::memcpy(command.data, image + (address - startAddress), count);
        if (count < kFlashBlockSize) std::memset(command.data + count, 0xFF, kFlashBlockSize - count);
        if (!SendAcknowledgedCommand(device, &command, moduleText)) return false;
        progress.stepBar(progress.context);
        address += kFlashBlockSize;
    } while (address < endAddress);
    return true;
}

}  // namespace

bool WriteBlocks(const FlashProgress& progress, HidDevice* device, const uint8_t* image,
                 uint32_t endAddress, uint32_t startAddress) {
    return BlockPass(progress, device, image, endAddress, startAddress, kFlashOpWrite,
                     kWriteModule);
}

bool VerifyBlocks(const FlashProgress& progress, HidDevice* device, const uint8_t* image,
                  uint32_t endAddress, uint32_t startAddress) {
    return BlockPass(progress, device, image, endAddress, startAddress, kFlashOpVerify,
                     kVerifyModule);
}
