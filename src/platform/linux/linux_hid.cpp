// HID interfaces over hidraw: listing, opening, feature reports and the output report.
//
// Windows lists one interface per top-level collection; a hidraw node carries the whole
// device, so a node with several top-level collections is listed once per collection
// (see hidraw_node.h for the path form) and every collection of a node shares its fd.
#include <fcntl.h>
#include <libudev.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "platform/hid.h"
#include "platform/linux/hidraw_node.h"
#include "platform/linux/linux_internal.h"
#include "platform/sensor_ids.h"
#include "platform/system.h"

namespace {

// Interfaces kept per scan; a machine with more HID collections than this lists the first.
constexpr uint32_t kMaxListedInterfaces = 256;

// An errno value in the seam's terms.
PlatResult Failed(int error) {
    PlatStatus status = PlatStatus::IoError;
    switch (error) {
    case ENOENT:
        status = PlatStatus::NotFound;
        break;
    case EACCES:
    case EPERM:
        status = PlatStatus::NoAccess;
        break;
    case ENODEV:
    case ENXIO:
    case ESHUTDOWN:
        status = PlatStatus::Gone;
        break;
    case ETIMEDOUT:
        status = PlatStatus::TimedOut;
        break;
    default:
        break;
    }
    return PlatResult{status, static_cast<uint32_t>(error)};
}

constexpr PlatResult kSucceeded{PlatStatus::Ok, 0};

// A sensor node that cannot be opened for lack of permission is noticed once per process
// (the diagnostic log names it with the rule that fixes it). Every scan (and the version query polls
// once a second) meets the node again, hence the memory of nodes already named.
//
// Right after a node appears (the boot loader's, or the sensor's back in normal mode) udev
// may not have applied the rule yet, and the open fails for a moment although the rule is
// installed. A node whose status changed (created, or its mode or ACL set: ctime) less than
// kPermissionSettleMs ago is therefore not named yet; a later scan names it if the
// permission still lacks.
constexpr int64_t kPermissionSettleMs = 2000;
std::mutex permissionLogMutex;
constexpr uint32_t kPermissionLogMemory = 16;
char permissionLogged[kPermissionLogMemory][kNodePathCapacity];
uint32_t permissionLogNext = 0;

bool RecentlyChanged(const char* node) {
    struct stat status;
    if (stat(node, &status) != 0) return false;
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    const int64_t ageMs = (static_cast<int64_t>(now.tv_sec) - status.st_ctim.tv_sec) * 1000 +
                          (now.tv_nsec - status.st_ctim.tv_nsec) / 1000000;
    return ageMs < kPermissionSettleMs;
}

void NoticePermissionDenied(const char* node) {
    if (RecentlyChanged(node)) return;
    HidrawNodeInfo info;
    if (!linux_hidraw_read_node_info(node, &info) ||
        !IsSensorProduct(info.vendorId, info.productId)) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(permissionLogMutex);
        for (uint32_t i = 0; i < kPermissionLogMemory; ++i) {
            if (std::strcmp(permissionLogged[i], node) == 0) return;
        }
        std::snprintf(permissionLogged[permissionLogNext], kNodePathCapacity, "%s", node);
        permissionLogNext = (permissionLogNext + 1) % kPermissionLogMemory;
    }
    linux_notice(PlatNotice{PlatNoticeKind::NoPermission, node, info.vendorId, info.productId,
                            kUdevRuleName, ""});
}

}  // namespace

// One open interface: one allocation per open, none per report.
struct HidConnection {
    int fd;
    char node[kNodePathCapacity];  // the device node, for the output-report writer
};

struct HidInterfaceList {
    uint32_t count;
    char paths[kMaxListedInterfaces][kNodePathCapacity];
    HidInterfaceInfo infos[kMaxListedInterfaces];
};

bool plat_hid_port(HidConnection* connection, char* port, size_t capacity) {
    if (capacity > 0) port[0] = '\0';
    if (connection == nullptr || capacity == 0) return false;
    // The kernel's physical path of the HID device, "usb-0000:00:14.0-1.2/input0": the host
    // controller and the chain of hub ports, then the interface. The port is all before the
    // interface: a sensor restarting in its boot loader keeps it, another board has its own.
    char phys[kHidPortCapacity] = {};
    if (ioctl(connection->fd, HIDIOCGRAWPHYS(sizeof phys - 1), phys) < 0) return false;
    phys[sizeof phys - 1] = '\0';
    char* input = std::strrchr(phys, '/');
    if (input != nullptr) *input = '\0';
    if (phys[0] == '\0' || std::strlen(phys) >= capacity) return false;
    std::memcpy(port, phys, std::strlen(phys) + 1);
    return true;
}

HidInterfaceList* plat_hid_list_present() {
    HidInterfaceList* list = new (std::nothrow) HidInterfaceList;
    if (list == nullptr) return nullptr;
    list->count = 0;
    udev* context = udev_new();
    if (context == nullptr) return list;
    udev_enumerate* enumerate = udev_enumerate_new(context);
    if (enumerate != nullptr) {
        udev_enumerate_add_match_subsystem(enumerate, "hidraw");
        udev_enumerate_scan_devices(enumerate);
        // libudev returns the devices sorted by sysfs path: a stable order within a scan.
        udev_list_entry* entry = udev_enumerate_get_list_entry(enumerate);
        for (; entry != nullptr && list->count < kMaxListedInterfaces;
             entry = udev_list_entry_get_next(entry)) {
            udev_device* device =
                udev_device_new_from_syspath(context, udev_list_entry_get_name(entry));
            if (device == nullptr) continue;
            const char* node = udev_device_get_devnode(device);
            HidrawNodeInfo info;
            if (node != nullptr && linux_hidraw_read_device_info(device, &info)) {
                const uint32_t collections = info.descriptor.collectionCount;
                for (uint32_t k = 0; k < collections && list->count < kMaxListedInterfaces; ++k) {
                    if (linux_hidraw_format_path(node, k, collections, list->paths[list->count],
                                           kNodePathCapacity)) {
                        list->infos[list->count++] = linux_hidraw_interface_info(info, k);
                    }
                }
            }
            udev_device_unref(device);
        }
        udev_enumerate_unref(enumerate);
    }
    udev_unref(context);
    return list;
}

int plat_hid_list_entry(HidInterfaceList* list, uint32_t index, char* path, size_t pathCapacity,
                        HidInterfaceInfo* info) {
    if (list == nullptr || index >= list->count) return kHidListEnd;
    const size_t length = std::strlen(list->paths[index]);
    if (length >= pathCapacity) return kHidListUnreadable;
    std::memcpy(path, list->paths[index], length + 1);
    *info = list->infos[index];
    return kHidListFound;
}

void plat_hid_list_release(HidInterfaceList* list) { delete list; }

PlatResult plat_hid_open(const char* path, HidConnection** connection, HidInterfaceInfo* info) {
    *connection = nullptr;
    char node[kNodePathCapacity];
    uint32_t collection = 0;
    if (!linux_hidraw_parse_path(path, node, sizeof(node), &collection)) return Failed(ENOENT);
    const int fd = open(node, O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (error == EACCES || error == EPERM) NoticePermissionDenied(node);
        return Failed(error);
    }
    HidrawNodeInfo nodeInfo;
    if (!linux_hidraw_read_node_info(node, &nodeInfo) ||
        collection >= nodeInfo.descriptor.collectionCount) {
        close(fd);
        // The path names no collection of a hidraw node that is there.
        return PlatResult{PlatStatus::NotFound, static_cast<uint32_t>(ENODEV)};
    }
    HidConnection* opened = new (std::nothrow) HidConnection;
    if (opened == nullptr) {
        close(fd);
        return Failed(ENOMEM);
    }
    opened->fd = fd;
    std::memcpy(opened->node, node, sizeof opened->node);
    *info = linux_hidraw_interface_info(nodeInfo, collection);
    *connection = opened;
    return kSucceeded;
}

void plat_hid_close(HidConnection* connection) {
    if (connection == nullptr) return;
    close(connection->fd);
    delete connection;
}

PlatResult plat_hid_set_feature(HidConnection* connection, const uint8_t* buffer,
                                uint32_t length) {
    if (connection == nullptr) return Failed(EBADF);
    // The kernel only reads the buffer; the ioctl's argument type is not const.
    if (ioctl(connection->fd, HIDIOCSFEATURE(length), const_cast<uint8_t*>(buffer)) < 0) {
        return Failed(errno);
    }
    return kSucceeded;
}

PlatResult plat_hid_get_feature(HidConnection* connection, uint8_t* buffer, uint32_t length) {
    if (connection == nullptr) return Failed(EBADF);
    if (ioctl(connection->fd, HIDIOCGFEATURE(length), buffer) < 0) return Failed(errno);
    return kSucceeded;
}

namespace {

// One output-report write in flight. A hidraw write() blocks until the device took the
// report or the kernel gave up (5 s), whatever O_NONBLOCK says, so the write runs on a
// thread of its own that the caller waits for with its own bound. A write that outlives
// the bound cannot be cancelled; it is abandoned and ends on its own, on its own copy of
// the report and its own descriptor of the node, so that closing the handle meanwhile
// cannot hand its fd number to another file under the writer. (The writer opens the node
// again rather than dup() the handle's fd: a duplicate would share the handle's open file
// but is a descriptor the umockdev test harness does not know.) Only the exit command of
// boot loaders below version 16 comes this way, once per update.
struct OutputWrite {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    int error = 0;
    int fd = -1;
    std::vector<uint8_t> report;
};

void RunOutputWrite(std::shared_ptr<OutputWrite> write) {
    ssize_t n;
    do {
        n = ::write(write->fd, write->report.data(), write->report.size());
    } while (n < 0 && errno == EINTR);
    const int error = n < 0 ? errno : (static_cast<size_t>(n) == write->report.size() ? 0 : EIO);
    close(write->fd);
    std::lock_guard<std::mutex> lock(write->mutex);
    write->done = true;
    write->error = error;
    write->finished.notify_all();
}

}  // namespace

PlatResult plat_hid_write_output(HidConnection* connection, const uint8_t* buffer,
                                 uint32_t length, uint32_t timeoutMs) {
    if (connection == nullptr) return Failed(EBADF);
    std::shared_ptr<OutputWrite> write = std::make_shared<OutputWrite>();
    write->report.assign(buffer, buffer + length);
    write->fd = open(connection->node, O_RDWR | O_CLOEXEC);
    if (write->fd < 0) return Failed(errno);
    try {
        std::thread(RunOutputWrite, write).detach();
    } catch (const std::system_error& e) {
        close(write->fd);
        return Failed(e.code().value());
    }
    std::unique_lock<std::mutex> lock(write->mutex);
    if (!write->finished.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                  [&] { return write->done; })) {
        return Failed(ETIMEDOUT);
    }
    if (write->error != 0) return Failed(write->error);
    return kSucceeded;
}
