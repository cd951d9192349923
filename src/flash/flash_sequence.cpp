#include "flash/flash_protocol.h"
#include "sensor/boot_mode.h"
#include "sensor/diag_log.h"
#include "sensor/update_result.h"

namespace {

constexpr char kModule[] = "Module Name : FlashWriteVerify";
const char* const kEraseText = StatusTextFor(StatusText::Erasing);
const char* const kProgramText = StatusTextFor(StatusText::Programming);
const char* const kVerifyText = StatusTextFor(StatusText::Verifying);
constexpr uint32_t kProgressSetupPauseMs = 1000;
// The sequence serves boot loaders from version 16 up to, not including, 32.
constexpr uint16_t kFirstServedVersion = 16;
constexpr uint16_t kFirstUnservedVersion = 32;

void Log(const char* message) { LogDiagnostic(0, message, kModule, false); }

UpdateResult Fail(HidDevice* device, const char* message, UpdateResult result) {
    Log(message);
    CloseHidDevice(device);
    return result;
}

// The line written when the boot loader could not be reached (the texts as they always were).
const char* BootModeFailureText(UpdateResult result) {
    switch (result) {
    case UpdateResult::BootModeTimeout:
        return "Failed to set a boot mode.";
    case UpdateResult::SwitchRequestFailed:
        return "Failed to send the Feature Report.";
    case UpdateResult::OtherSensor:
        return kOtherSensorDiagnostic;
    case UpdateResult::RecordUnsafe:
        return "The record of the sensors met would not tell the family after the switch; left alone.";
    default:
        return "Failed to detct ORVELL USB device";
    }
}

}  // namespace

UpdateResult RunWriteAndVerify(const FlashProgress& progress, const uint8_t* image,
                               uint32_t endAddress, UpdateTarget* target) {
    HidDevice device = ClosedHidDevice();
    bool wasInBootMode = false;
    progress.showStage(progress.context, RunStage::Switching);
    const UpdateResult entered = EnterBootMode(&device, target, &wasInBootMode);
    if (entered != UpdateResult::Success) {
        Log(BootModeFailureText(entered));
        return entered;
    }

    const uint16_t version = device.info.versionNumber;
    if (version < kFirstServedVersion || version >= kFirstUnservedVersion) {
        // A boot loader this update started is sent back to normal mode; one that was
        // already running before is left as it was found.
        if (!wasInBootMode && !ExitFlashMode(&device)) Log("Filed to exit flash mode!!");
        CloseHidDevice(&device);
        return UpdateResult::BootLoaderMismatch;
    }

    // Two passes of one step per block; the maximum counts one block more per pass.
    const uint32_t blocks = (endAddress + 1 - kFlashStartAddress) / kFlashBlockSize + 1;
    progress.resetBar(progress.context, static_cast<uint16_t>(2 * blocks));
    plat_sleep(kProgressSetupPauseMs);

    progress.showStage(progress.context, RunStage::Erasing);
    progress.showStatus(progress.context, kEraseText);
    plat_sleep(0);
    if (!EraseFlash(&device)) return Fail(&device, "Filed to erase!!", UpdateResult::EraseFailed);

    progress.showStage(progress.context, RunStage::Writing);
    progress.showStatus(progress.context, kProgramText);
    plat_sleep(0);
    if (!WriteBlocks(progress, &device, image, endAddress, kFlashStartAddress)) {
        return Fail(&device, "Filed to write firmware!!", UpdateResult::WriteFailed);
    }
    progress.showStage(progress.context, RunStage::Marking);
    if (!WriteUpdateMark(&device)) {
        return Fail(&device, "Filed to erase a writing mark!!", UpdateResult::MarkFailed);
    }

    progress.showStage(progress.context, RunStage::Verifying);
    progress.showStatus(progress.context, kVerifyText);
    if (!VerifyBlocks(progress, &device, image, endAddress, kFlashStartAddress)) {
        return Fail(&device, "Filed to verify firmware!!", UpdateResult::VerifyFailed);
    }
    if (!CheckUpdateMark(&device)) {
        return Fail(&device, "faild to verify a writing mark!!", UpdateResult::MarkCheckFailed);
    }
    progress.showStage(progress.context, RunStage::Returning);
    if (!ExitFlashMode(&device)) {
        return Fail(&device, "Filed to exit flash mode!!", UpdateResult::ExitFailed);
    }
    CloseHidDevice(&device);
    return UpdateResult::Success;
}
