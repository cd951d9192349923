#include <cstring>

#include "flash/flash_protocol.h"
#include "sensor/diag_log.h"

namespace {

constexpr uint8_t kEraseBlockCount = 5;
// The only wait for a block's erase to complete: there is no busy state to poll.
constexpr uint32_t kErasePauseMs = 1000;
// Boot loaders from this version on take the exit command as a feature report.
constexpr uint16_t kFeatureExitVersion = 16;
constexpr uint32_t kMaxOutputReportLength = 1024;
// Diagnostic lines name the steps as they always have: logs from older releases are
// compared with new ones line by line.
constexpr char kEraseModule[] = "Module Name : flash_erase";
constexpr char kExitModule[] = "Module Name : flash_end";

}  // namespace

bool EraseFlash(HidDevice* device) {
    FlashCommand command;
    FlashReply reply;
    for (uint8_t block = 0; block < kEraseBlockCount; ++block) {
        std::memset(&command, 0, sizeof(command));
        command.reportId = kFlashCommandReportId;
        command.opcode = kFlashOpErase;
        command.sequence = block;
        command.address[0] = block;
        if (ExchangeCommand(device, &command, kErasePauseMs, kEraseModule, &reply) !=
            ExchangeResult::Replied) {
            return false;
        }
        // Only a reply that names this very erase and reports a non-zero status is a
        // refusal; any other reply lets the erase go on.
        if (reply.opcode == kFlashOpErase && reply.sequence == block && reply.status != 0) {
            return false;
        }
    }
    return true;
}

bool ExitFlashMode(HidDevice* device) {
    if (device->info.versionNumber >= kFeatureExitVersion) {
        FlashCommand command;
        std::memset(&command, 0, sizeof(command));
        command.reportId = kFlashCommandReportId;
        command.opcode = kFlashOpExit;
        const PlatResult sent = plat_hid_set_feature(
            device->connection, reinterpret_cast<const uint8_t*>(&command), kFlashReportLength);
        if (!plat_succeeded(sent)) {
            LogDiagnostic(sent.systemCode, "010", kExitModule, true);
            return false;
        }
        return true;
    }
    // Older boot loaders take the exit as an output report of their output-report length.
    uint8_t report[kMaxOutputReportLength] = {};
    uint32_t length = device->info.outputReportLength;
    if (length < 2 || length > kMaxOutputReportLength) return false;
    report[0] = 0x00;
    report[1] = kFlashOpExit;
    return WriteOutputReport(device, report, length);
}
