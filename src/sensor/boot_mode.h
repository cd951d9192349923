// Switching the sensor into its boot loader.
#pragma once

#include <cstdint>

#include "sensor/hid_device.h"
#include "sensor/update_result.h"

// The one sensor an update may write: established as the update starts, for the device that
// was identified then, and kept by every attempt.
struct UpdateTarget {
    uint16_t normalProduct;        // the normal-mode product of the image's family
    char port[kHidPortCapacity];   // the USB port that sensor is plugged into
    // A boot loader at `port` is the target: it was found there as the update started, or
    // this update asked the sensor to switch.
    bool bootLoaderExpected;
};

// The diagnostic line of an update that left another sensor than its target alone, found
// at Update or at boot-mode entry.
constexpr char kOtherSensorDiagnostic[] =
    "Another sensor is attached than the one the image was chosen for; left alone.";

// Success, NoSensor, OtherSensor, RecordUnsafe, SwitchRequestFailed or BootModeTimeout.
// Success leaves `device` open on the boot loader; every other result leaves it closed.
//
// Only a device at the target's port is looked at. In normal mode it is switched only when
// it runs as the target's product (another sensor would be written with the wrong family's
// image) and only when the record of the products met, with its product noted, names its
// family and no other: a switch the update cannot finish would leave a boot loader that a
// later run could not tell apart (RecordUnsafe). A boot loader is taken only where the target
// expects one. The boot loader that appears after the switch request must be at the same
// port; one elsewhere is another board and is never opened. Nothing is sent on any refusal.
UpdateResult EnterBootMode(HidDevice* device, UpdateTarget* target, bool* wasInBootMode);
