// Linux-only pieces of the HID layer: how one top-level collection of a hidraw node is
// named in an interface path, and what sysfs tells about a node without opening it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/hid.h"
#include "platform/linux/hid_report_descriptor.h"

// Interface paths: "/dev/hidrawN" for a node with one top-level collection, and
// "/dev/hidrawN#K" (K counted from 0) for collection K of a node with several, since
// Windows lists each top-level collection as an interface of its own and the core opens
// one interface by its path. "/dev/hidrawN" alone opens collection 0.
constexpr char kCollectionSeparator = '#';
constexpr size_t kNodePathCapacity = 64;

// Writes the interface path of `collection` of `node`. Returns false when it does not fit.
bool linux_hidraw_format_path(const char* node, uint32_t collection, uint32_t collectionCount,
                              char* path, size_t capacity);
// Splits an interface path into the node and the collection index. Returns false for a path
// that is empty, too long for `nodeCapacity`, or has a suffix that is not a decimal number.
bool linux_hidraw_parse_path(const char* path, char* node, size_t nodeCapacity,
                             uint32_t* collection);

// What sysfs says about one hidraw node: vendor and product from the hid parent's HID_ID,
// the version from the USB device's bcdDevice, the top-level collections from the hid
// parent's report_descriptor.
struct HidrawNodeInfo {
    uint16_t vendorId;
    uint16_t productId;
    uint16_t versionNumber;
    HidDescriptorSummary descriptor;
};

// The seam's description of collection `collection` of the node.
HidInterfaceInfo linux_hidraw_interface_info(const HidrawNodeInfo& node, uint32_t collection);

// `node` is the device node ("/dev/hidraw3"). Returns true when the node is a hidraw device
// whose HID_ID and report descriptor could be read, else 0.
bool linux_hidraw_read_node_info(const char* node, HidrawNodeInfo* info);

// Where diagnostic lines go. Automatic: the system log while the terminal front end owns
// the screen (standard output and standard error both a terminal), else standard error.
enum LinuxDiagSink { kDiagSinkAuto = 0, kDiagSinkStderr = 1, kDiagSinkSyslog = 2 };
void linux_set_diag_sink(LinuxDiagSink sink);

// The udev rule file that gives the logged-in user access to the sensor; named in the
// notice given when a sensor node cannot be opened for lack of permission.
extern const char kUdevRuleName[];  // "70-zorflash.rules"
