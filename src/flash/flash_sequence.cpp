#include "app/main_window.h"
#include "flash/flash_protocol.h"
#include "sensor/boot_mode.h"
#include "sensor/diag_log.h"

namespace {

constexpr char kModule[] = "Module Name : FlashWriteVerify";
constexpr char kEraseText[] = "Erasing....               ";
constexpr char kProgramText[] = "Program....              ";
constexpr char kVerifyText[] = "Verify....          ";
constexpr uint32_t kProgressSetupPauseMs = 1000;
// The sequence serves boot loaders from version 16 up to, not including, 32.
constexpr uint16_t kFirstServedVersion = 16;
constexpr uint16_t kFirstUnservedVersion = 32;

// UpdateResult values of the sequence.
constexpr uint32_t kResultOk = 0;
constexpr uint32_t kResultNoSensor = 6;
constexpr uint32_t kResultBootModeFailed = 7;
constexpr uint32_t kResultWriteFailed = 10;
constexpr uint32_t kResultExitFailed = 11;
constexpr uint32_t kResultVerifyFailed = 15;
constexpr uint32_t kResultMarkFailed = 17;
constexpr uint32_t kResultEraseFailed = 21;
constexpr uint32_t kResultSwitchFailed = 25;
constexpr uint32_t kResultMarkCheckFailed = 40;
constexpr uint32_t kResultUnsupportedBootLoader = 42;

void Log(const char* message) { LogDiagnostic(0, message, kModule, 0); }

uint32_t Fail(HidDevice* device, const char* message, uint32_t result) {
    Log(message);
    CloseHidDevice(device);
    return result;
}

}  // namespace

uint32_t FlashWriteVerify(WindowHandle window, const uint8_t* image, uint32_t endAddress) {
    HidDevice device = ClosedHidDevice();
    int wasInBootMode = 0;
    switch (EnterBootMode(&device, &wasInBootMode)) {
    case kBootModeOk:
        break;
    case kBootModeTimeout:
        Log("Failed to set a boot mode.");
        return kResultBootModeFailed;
    case kBootModeSendFailed:
        Log("Failed to send the Feature Report.");
        return kResultSwitchFailed;
    default:
        Log("Failed to detct ORVELL USB device");
        return kResultNoSensor;
    }

    const uint16_t version = device.info.versionNumber;
    if (version < kFirstServedVersion || version >= kFirstUnservedVersion) {
        // A boot loader this update started is sent back to normal mode; one that was
        // already running before is left as it was found.
        if (!wasInBootMode && !flash_end(&device)) Log("Filed to exit flash mode!!");
        CloseHidDevice(&device);
        return kResultUnsupportedBootLoader;
    }

    // Two passes of one step per block; the maximum counts one block more per pass.
    const uint32_t blocks = (endAddress - 0x3FFF) / kFlashBlockSize + 1;
    const uint16_t progressMaximum = static_cast<uint16_t>(2 * blocks);
    ui_send_item_message(mainWindow, kIdProgress, kPbmSetRange, 0,
                         static_cast<intptr_t>(static_cast<uint32_t>(progressMaximum) << 16));
    ui_send_item_message(mainWindow, kIdProgress, kPbmSetStep, 1, 0);
    ui_send_item_message(mainWindow, kIdProgress, kPbmSetPos, 0, 0);
    plat_sleep(kProgressSetupPauseMs);

    ui_set_item_text(window, kIdStatus, kEraseText);
    plat_sleep(0);
    if (!flash_erase(&device)) return Fail(&device, "Filed to erase!!", kResultEraseFailed);

    ui_set_item_text(window, kIdStatus, kProgramText);
    plat_sleep(0);
    if (flash_write(window, &device, image, endAddress, kFlashStartAddress) != 0) {
        return Fail(&device, "Filed to write firmware!!", kResultWriteFailed);
    }
    if (flash_marking(&device) != 0) {
        return Fail(&device, "Filed to erase a writing mark!!", kResultMarkFailed);
    }

    ui_set_item_text(window, kIdStatus, kVerifyText);
    if (flash_verify(window, &device, image, endAddress, kFlashStartAddress) != 0) {
        return Fail(&device, "Filed to verify firmware!!", kResultVerifyFailed);
    }
    if (is_flash_marking(&device) != 0) {
        return Fail(&device, "faild to verify a writing mark!!", kResultMarkCheckFailed);
    }
    if (!flash_end(&device)) return Fail(&device, "Filed to exit flash mode!!", kResultExitFailed);
    CloseHidDevice(&device);
    return kResultOk;
}
