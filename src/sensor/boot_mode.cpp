#include "sensor/boot_mode.h"

namespace {

constexpr uint32_t kAfterRequestWaitMs = 2000;
constexpr uint32_t kPollPauseMs = 1000;
constexpr uint32_t kBootLoaderTimeoutMs = 100000;
// A boot loader this machine has never met is installed by the system first.
constexpr uint32_t kFirstInstallWaitMs = 20000;

}  // namespace

UpdateResult EnterBootMode(HidDevice* device, uint16_t switchableProduct, bool* wasInBootMode) {
    bool bootLoaderMet = false;
    plat_usb_products_met(kSensorVendorId, &kProductBootLoader, 1, &bootLoaderMet);

    const bool found = FindSensorDevice(device);
    *wasInBootMode = true;
    if (!found) return UpdateResult::NoSensor;
    if (device->info.productId == kProductBootLoader) return UpdateResult::Success;

    *wasInBootMode = false;
    // The last moment the sensor tells its family before the switch request.
    plat_note_product_met(kSensorVendorId, device->info.productId);
    if (device->info.productId != switchableProduct) {
        CloseHidDevice(device);
        return UpdateResult::OtherSensor;
    }
    plat_sleep(0);
    static const uint8_t kSwitchRequest[2] = {0x02, 0x02};
    const PlatResult sent =
        plat_hid_set_feature(device->connection, kSwitchRequest, sizeof(kSwitchRequest));
    // The sensor leaves the bus to restart; the connection is of no further use either way.
    CloseHidDevice(device);
    if (!plat_succeeded(sent)) return UpdateResult::SwitchRequestFailed;

    plat_sleep(kAfterRequestWaitMs);
    const uint32_t start = plat_tick_count();
    while (!FindHidDeviceById(device, kSensorVendorId, kProductBootLoader)) {
        plat_sleep(kPollPauseMs);
        // Unsigned difference: a wrap of the tick counter does no harm.
        if (plat_tick_count() - start >= kBootLoaderTimeoutMs) return UpdateResult::BootModeTimeout;
    }
    if (!bootLoaderMet) plat_sleep(kFirstInstallWaitMs);
    return UpdateResult::Success;
}
