// Switching the sensor into its boot loader.
#pragma once

#include <cstdint>

#include "sensor/hid_device.h"
#include "sensor/update_result.h"

// Success, NoSensor, OtherSensor, SwitchRequestFailed or BootModeTimeout. Success leaves
// `device` open on the boot loader; every other result leaves it closed.
//
// A sensor found in normal mode is switched only when it runs as `switchableProduct`, the
// product of the sensor its image was chosen for: another sensor plugged in since would be
// written with the wrong family's image. It is left alone, with nothing sent (OtherSensor).
// A sensor found already in its boot loader is taken as it is.
UpdateResult EnterBootMode(HidDevice* device, uint16_t switchableProduct, bool* wasInBootMode);
