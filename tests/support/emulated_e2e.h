// What the end-to-end tests of each edition (the Linux program, and the Windows one under
// Wine) share: an emulated sensor per test with quick delays, and what it saw and holds.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "emulated_sensor.h"
#include "update/firmware_catalogue.h"

// A sensor of `family` running `version`, with a boot loader of version 0x11 that shows up
// 300 ms after the switch request; it comes back 300 ms after the exit command.
inline SimSensorConfig QuickSensorConfig(uint16_t family, uint16_t version) {
    SimSensorConfig config = sim_sensor_config_for_family(family);
    config.normalVersion = version;
    config.bootLoaderVersion = 0x0011;
    config.bootAppearDelayMs = 300;
    config.returnDelayMs = 300;
    return config;
}

// The fixture base: the test starts the sensor, the base stops it.
class EmulatedSensorTest : public ::testing::Test {
protected:
    void TearDown() override { emulated_sensor_stop(sensor); }

    void Start(const SimSensorConfig& config) {
        sensor = emulated_sensor_start(config, sensorOptions);
        ASSERT_NE(sensor, nullptr);
    }
    std::vector<SimTranscriptEntry> Transcript() { return emulated_sensor_transcript(sensor); }
    bool FlashHolds(const FirmwareImage& image) {
        return emulated_sensor_flash_holds(sensor, ImageBytes(image), ImageByteCount(image));
    }

    EmulatedSensor* sensor = nullptr;
    EmulatedSensorOptions sensorOptions;
};
