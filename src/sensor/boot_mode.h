// Switching the sensor into its boot loader.
#pragma once

#include <cstdint>

#include "sensor/hid_device.h"
#include "sensor/update_result.h"

// Success, NoSensor, SwitchRequestFailed or BootModeTimeout. Success leaves `device` open on
// the boot loader; every other result leaves it closed.
UpdateResult EnterBootMode(HidDevice* device, int* wasInBootMode);
