// Shared between the files of the Linux platform library only.
#pragma once

#include <cstdint>

#include "platform/linux/hidraw_node.h"
#include "platform/system.h"

struct udev_device;

// linux_hidraw_read_node_info for a device already looked up (used by the scan, which holds one
// libudev context for all nodes).
bool linux_hidraw_read_device_info(udev_device* hidraw, HidrawNodeInfo* info);

// Hands `notice` to the handler set with plat_set_notice_handler, if any.
void linux_notice(const PlatNotice& notice);
