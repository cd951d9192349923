// Which of the sensor's USB products this machine has installed before.
#pragma once

#include <cstdint>

// Both flags set to 0 first, then to 1 for each normal-mode product that has a key.
// Returns 0 when the record could be read, else the error code of opening it.
uint32_t ProbeSensorRegistry(int* family0Registered, int* family1Registered);
// 1 when the boot loader's product 0x0094 has been installed, else 0.
int IsBootDeviceRegistered();
