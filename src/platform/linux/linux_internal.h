// Shared between the files of the Linux platform library only.
#pragma once

#include <cstdint>

#include "platform/linux/hidraw_node.h"

struct udev_device;

// Sets the calling thread's last error (an errno value), read by plat_last_error.
void linux_set_last_error(uint32_t code);
// hidraw_read_node_info for a device already looked up (used by the scan, which holds one
// libudev context for all nodes).
int hidraw_read_device_info(udev_device* hidraw, HidrawNodeInfo* info);
