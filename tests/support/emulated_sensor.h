// The simulated sensor at the kernel interface: a umockdev testbed whose sysfs tree and
// /dev/hidraw nodes follow the sensor model over real time, and whose nodes answer the
// hidraw ioctls (feature reports, report descriptor, raw info) and writes with the model.
//
// While the model's sensor is on the bus, one hidraw node carries all of its top-level
// collections (the USB device, its HID interface, the hid device with HID_ID and
// report_descriptor, the hidraw node). When the model leaves the bus, the node and its
// parents are removed ("remove" uevents); when it shows up again, in its boot loader or in
// normal mode with its new version, a new node with a new /dev/hidrawN name is added, as the
// kernel does on re-enumeration.
//
// The testbed belongs to the process and must exist before any thread starts: the process
// runs under the umockdev preload (see emulated_sensor_reexec_under_preload), and programs
// started from it inherit both the preload and the testbed (UMOCKDEV_DIR).
//
// Threads: umockdev answers ioctls on its own worker thread; a pump thread follows the
// model's mode changes. The model, its transcript and the node table are guarded by the
// sensor's mutex; read them through emulated_sensor_lock / emulated_sensor_unlock.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/sim/sim_sensor_model.h"

struct EmulatedSensor;

// Re-executes the current program under libumockdev-preload (ASan's runtime first when the
// program is built with it) unless it already runs under it. Call first thing in main.
void emulated_sensor_reexec_under_preload(int argc, char** argv);

// Creates the process-wide testbed on first use. 1 when it exists.
int emulated_testbed_ready();

struct EmulatedSensorOptions {
    // Declare the boot loader's output report without a report ID (byte 0 of the report is
    // the ID 0), as the protocol's exit report has it; else under report ID 3.
    int outputWithoutReportId = 1;
    // Period of the pump that follows the model's mode changes.
    uint32_t pumpPeriodMs = 2;
    // The sensor's clock runs this many times faster than the real one, as the program under
    // test's does under the time-scale preload (run_time_scaled in time_scale.h).
    uint32_t timeScale = 1;
};

// Starts a sensor with `config` at time 0 of its own clock (real time since the start, times
// the options' timeScale).
// Only one sensor exists at a time. Returns null when the testbed is not available.
EmulatedSensor* emulated_sensor_start(const SimSensorConfig& config,
                                      const EmulatedSensorOptions& options = {});
// Removes the sensor's nodes, stops the pump and frees everything.
void emulated_sensor_stop(EmulatedSensor* sensor);

// Milliseconds on the sensor's clock.
uint64_t emulated_sensor_now(EmulatedSensor* sensor);

// Locks the sensor and hands out the model (transcript, flash, counters). No ioctl is
// answered until emulated_sensor_unlock.
SimSensor* emulated_sensor_lock(EmulatedSensor* sensor);
void emulated_sensor_unlock(EmulatedSensor* sensor);

// A copy of the sensor's transcript so far.
std::vector<SimTranscriptEntry> emulated_sensor_transcript(EmulatedSensor* sensor);
// True when the sensor's flash from 0x4000 holds `count` bytes equal to `bytes`.
bool emulated_sensor_flash_holds(EmulatedSensor* sensor, const uint8_t* bytes, uint32_t count);

// The device node that carries the sensor now ("/dev/hidraw5"), or "" while it is off the
// bus; the number of nodes created so far.
void emulated_sensor_node(EmulatedSensor* sensor, char* node, uint32_t capacity);
uint32_t emulated_sensor_nodes_created(EmulatedSensor* sensor);

// Waits (real time) until the sensor shows `productId` on a node, or until `timeoutMs`
// passed. 1 when it did.
int emulated_sensor_wait_for_product(EmulatedSensor* sensor, uint16_t productId,
                                     uint32_t timeoutMs);

// A further HID device of the machine, not the sensor, with its own node and report
// descriptor; feature reports on it fail (EPIPE). Added before the sensor's first node
// (lower sysfs path: listed first). Returns 1 on success. Removed with the testbed's
// other devices by emulated_extra_devices_clear.
int emulated_extra_device_add(uint16_t vendorId, uint16_t productId, uint16_t version,
                              const uint8_t* descriptor, uint32_t descriptorLength);
void emulated_extra_devices_clear();

// The report descriptor the bed gives the interfaces of the sensor's current appearance
// (generated from their usages and report lengths). Returns its length, 0 when off the bus.
uint32_t emulated_sensor_descriptor(EmulatedSensor* sensor, uint8_t* out, uint32_t capacity);
