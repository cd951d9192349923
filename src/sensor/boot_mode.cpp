#include "sensor/boot_mode.h"

#include "platform/records.h"
#include "platform/system.h"
#include "sensor/sensor_info.h"

namespace {

constexpr uint32_t kAfterRequestWaitMs = 2000;
constexpr uint32_t kPollPauseMs = 1000;
constexpr uint32_t kBootLoaderTimeoutMs = 100000;
// A boot loader this machine has never met is installed by the system first.
constexpr uint32_t kFirstInstallWaitMs = 20000;

}  // namespace

UpdateResult EnterBootMode(HidDevice* device, UpdateTarget* target, bool* wasInBootMode) {
    bool bootLoaderMet = false;
    plat_usb_products_met(kSensorVendorId, &kProductBootLoader, 1, &bootLoaderMet);

    const bool found = FindSensorDeviceAtPort(device, target->port);
    *wasInBootMode = true;
    if (!found) return UpdateResult::NoSensor;
    if (device->info.productId == kProductBootLoader) {
        if (target->bootLoaderExpected) return UpdateResult::Success;
        // A sensor identified in normal mode has not been switched: this boot loader is
        // another board, whose family nothing here tells.
        CloseHidDevice(device);
        return UpdateResult::OtherSensor;
    }

    *wasInBootMode = false;
    if (device->info.productId != target->normalProduct) {
        CloseHidDevice(device);
        return UpdateResult::OtherSensor;
    }
    // The last moment the sensor tells its family before the switch request: noted, then
    // read back as the run that finishes an interrupted update would read it.
    plat_note_product_met(kSensorVendorId, device->info.productId);
    if (!RecordNamesOnly(target->normalProduct)) {
        CloseHidDevice(device);
        return UpdateResult::RecordUnsafe;
    }
    plat_sleep(0);
    static const uint8_t kSwitchRequest[2] = {0x02, 0x02};
    const PlatResult sent =
        plat_hid_set_feature(device->connection, kSwitchRequest, sizeof(kSwitchRequest));
    // Asked, whether or not the answer came back: a boot loader at this port is ours now.
    target->bootLoaderExpected = true;
    // The sensor leaves the bus to restart; the connection is of no further use either way.
    CloseHidDevice(device);
    if (!plat_succeeded(sent)) return UpdateResult::SwitchRequestFailed;

    plat_sleep(kAfterRequestWaitMs);
    const uint32_t start = plat_tick_count();
    while (!FindHidDeviceAtPort(device, kSensorVendorId, kProductBootLoader, target->port)) {
        plat_sleep(kPollPauseMs);
        // Unsigned difference: a wrap of the tick counter does no harm.
        if (plat_tick_count() - start >= kBootLoaderTimeoutMs) return UpdateResult::BootModeTimeout;
    }
    if (!bootLoaderMet) plat_sleep(kFirstInstallWaitMs);
    return UpdateResult::Success;
}
