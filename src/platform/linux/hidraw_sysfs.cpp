// Reading a hidraw node's identity from sysfs through libudev, without opening the node.
//
// Device tree of a USB HID device as the kernel builds it:
//   usb_device (idVendor, idProduct, bcdDevice)
//     usb_interface (PRODUCT=vid/pid/bcd)
//       hid device (HID_ID=bus:vid:pid, report_descriptor)
//         hidraw node (DEVNAME=/dev/hidrawN)
#include <fcntl.h>
#include <libudev.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/linux/hidraw_node.h"
#include "platform/linux/linux_internal.h"

namespace {

// HID_MAX_DESCRIPTOR_SIZE of the kernel.
constexpr size_t kMaxDescriptorSize = 4096;

bool ReadFile(const char* path, uint8_t* buffer, size_t capacity, size_t* length) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    size_t total = 0;
    while (total < capacity) {
        const ssize_t n = read(fd, buffer + total, capacity - total);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        total += static_cast<size_t>(n);
    }
    close(fd);
    *length = total;
    return true;
}

uint16_t VersionOf(udev_device* hid) {
    // bcdDevice of the USB device; without one (a device that is not on USB, or a tree
    // that lacks the attribute) the third field of the interface's PRODUCT, as Wine reads it.
    udev_device* usb = udev_device_get_parent_with_subsystem_devtype(hid, "usb", "usb_device");
    if (usb != nullptr) {
        const char* bcd = udev_device_get_sysattr_value(usb, "bcdDevice");
        if (bcd != nullptr) return static_cast<uint16_t>(std::strtoul(bcd, nullptr, 16));
    }
    udev_device* interface =
        udev_device_get_parent_with_subsystem_devtype(hid, "usb", "usb_interface");
    if (interface != nullptr) {
        const char* product = udev_device_get_property_value(interface, "PRODUCT");
        unsigned vendor = 0, productId = 0, version = 0;
        if (product != nullptr && std::sscanf(product, "%x/%x/%x", &vendor, &productId, &version) == 3) {
            return static_cast<uint16_t>(version);
        }
    }
    return 0;
}

}  // namespace

bool linux_hidraw_read_device_info(udev_device* hidraw, HidrawNodeInfo* info) {
    std::memset(info, 0, sizeof(*info));
    udev_device* hid = udev_device_get_parent_with_subsystem_devtype(hidraw, "hid", nullptr);
    if (hid == nullptr) return false;
    const char* hidId = udev_device_get_property_value(hid, "HID_ID");
    unsigned bus = 0, vendor = 0, product = 0;
    if (hidId == nullptr || std::sscanf(hidId, "%x:%x:%x", &bus, &vendor, &product) != 3) {
        return false;
    }

    const char* hidPath = udev_device_get_syspath(hid);
    char descriptorPath[512];
    const int n = std::snprintf(descriptorPath, sizeof(descriptorPath), "%s/report_descriptor", hidPath);
    if (n < 0 || static_cast<size_t>(n) >= sizeof(descriptorPath)) return false;
    uint8_t descriptor[kMaxDescriptorSize];
    size_t length = 0;
    if (!ReadFile(descriptorPath, descriptor, sizeof(descriptor), &length)) return false;
    if (!linux_parse_hid_report_descriptor(descriptor, length, &info->descriptor)) return false;
    if (info->descriptor.collectionCount == 0) return false;

    info->vendorId = static_cast<uint16_t>(vendor);
    info->productId = static_cast<uint16_t>(product);
    info->versionNumber = VersionOf(hid);
    return true;
}

HidInterfaceInfo linux_hidraw_interface_info(const HidrawNodeInfo& node, uint32_t collection) {
    const HidTopCollection& top = node.descriptor.collections[collection];
    HidInterfaceInfo info;
    info.vendorId = node.vendorId;
    info.productId = node.productId;
    info.versionNumber = node.versionNumber;
    info.usagePage = top.usagePage;
    info.usage = top.usage;
    info.outputReportLength = top.outputReportByteLength;
    return info;
}

bool linux_hidraw_read_node_info(const char* node, HidrawNodeInfo* info) {
    std::memset(info, 0, sizeof(*info));
    const char* slash = std::strrchr(node, '/');
    const char* sysname = slash ? slash + 1 : node;
    if (std::strncmp(sysname, "hidraw", 6) != 0) return false;
    udev* context = udev_new();
    if (context == nullptr) return false;
    bool ok = false;
    udev_device* device = udev_device_new_from_subsystem_sysname(context, "hidraw", sysname);
    if (device != nullptr) {
        ok = linux_hidraw_read_device_info(device, info);
        udev_device_unref(device);
    }
    udev_unref(context);
    return ok;
}
