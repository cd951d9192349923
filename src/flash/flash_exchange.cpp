#include <cstring>

#include "flash/flash_protocol.h"
#include "sensor/diag_log.h"

namespace {

constexpr uint32_t kOutputReportWaitMs = 2000;

}  // namespace

ExchangeResult ExchangeCommand(HidDevice* device, const FlashCommand* command, uint32_t pauseMs,
                               const char* moduleText, FlashReply* reply) {
    // The length is always the full report, whatever the capabilities say: the boot
    // loader's feature reports are 137 bytes.
    const PlatResult sent = plat_hid_set_feature(
        device->connection, reinterpret_cast<const uint8_t*>(command), kFlashReportLength);
    if (!plat_succeeded(sent)) {
        LogDiagnostic(sent.systemCode, "010", moduleText, true);
        return ExchangeResult::SendFailed;
    }
    if (pauseMs != 0) plat_sleep(pauseMs);
    std::memset(reply, 0, sizeof(*reply));
    reply->reportId = kFlashReplyReportId;
    const PlatResult received = plat_hid_get_feature(
        device->connection, reinterpret_cast<uint8_t*>(reply), kFlashReportLength);
    if (!plat_succeeded(received)) {
        LogDiagnostic(received.systemCode, "020", moduleText, true);
        return ExchangeResult::ReplyFailed;
    }
    return ExchangeResult::Replied;
}

bool IsAcknowledged(const FlashCommand* command, const FlashReply* reply) {
    return reply->opcode == command->opcode && reply->sequence == command->sequence &&
           reply->status == 0;
}

bool SendAcknowledgedCommand(HidDevice* device, const FlashCommand* command,
                             const char* moduleText) {
    FlashReply reply;
    if (ExchangeCommand(device, command, 0, moduleText, &reply) != ExchangeResult::Replied) {
        return false;
    }
    if (!IsAcknowledged(command, &reply)) {
        LogDiagnostic(0, "050:Not ACK", moduleText, false);
        return false;
    }
    return true;
}

void SetCommandAddress(FlashCommand* command, uint32_t address) {
    command->address[0] = static_cast<uint8_t>(address);
    command->address[1] = static_cast<uint8_t>(address >> 8);
    command->address[2] = static_cast<uint8_t>(address >> 16);
    command->address[3] = static_cast<uint8_t>(address >> 24);
}

bool WriteOutputReport(HidDevice* device, const uint8_t* report, uint32_t length) {
    return plat_succeeded(
        plat_hid_write_output(device->connection, report, length, kOutputReportWaitMs));
}
