// Switching the sensor into its boot loader.
#pragma once

#include <cstdint>

#include "sensor/hid_device.h"

// Results (values of the shared UpdateResult numbering).
constexpr uint32_t kBootModeOk = 0;
constexpr uint32_t kBootModeTimeout = 7;
constexpr uint32_t kBootModeSendFailed = 25;
constexpr uint32_t kBootModeNoSensor = 27;

// Result 0 leaves `device` open on the boot loader; every other result leaves it closed.
uint32_t EnterBootMode(HidDevice* device, int* wasInBootMode);
