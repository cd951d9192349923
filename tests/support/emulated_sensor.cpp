// umockdev testbed driven by the sensor model. See emulated_sensor.h.
#include "emulated_sensor.h"

#include <linux/hidraw.h>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <umockdev.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr uint32_t kMaxNodeCollections = 1 + 2 * kSimMaxExtraCollections;
constexpr uint32_t kMaxDescriptor = 4096;
constexpr uint32_t kHidrawMajor = 243;

// Report IDs the bed declares for the sensor's own collection. Normal mode: input 1, the
// switch request 2, family 1 also the words 5 and 6. Boot loader: command 1, reply 2, the
// exit output report (ID 0, or 3 when IDs are asked for everywhere).
constexpr uint8_t kInputReportId = 1;
constexpr uint8_t kSwitchReportId = 2;
constexpr uint8_t kBootOutputReportId = 3;
// Extra collections k get IDs from here on: input, feature, output.
constexpr uint8_t kExtraReportIdBase = 0x10;

struct NodeCollection {
    SimInterface itf;
    SimPort port;
    uint32_t openOutcome;    // kSimOk, or why the bed could not take a port on it
    uint8_t featureIds[4];
    uint32_t featureIdCount;
    int outputId;            // -1: no output report; 0: without ID
};

// One appearance of the sensor on the bus.
struct EmulatedNode {
    bool present = false;
    uint32_t appearance = 0;
    uint16_t vendorId = 0, productId = 0, version = 0;
    char devnode[32] = {};
    std::string usbPath, interfacePath, hidPath, hidrawPath;
    uint32_t collectionCount = 0;
    NodeCollection collections[kMaxNodeCollections];
    uint8_t descriptor[kMaxDescriptor];
    uint32_t descriptorLength = 0;
    UMockdevIoctlBase* handler = nullptr;
};

}  // namespace

struct EmulatedSensor {
    std::mutex mutex;
    SimSensor* model = nullptr;
    EmulatedSensorOptions options;
    std::chrono::steady_clock::time_point start;
    EmulatedNode node;            // guarded by mutex (the handler reads it)
    uint32_t nodesCreated = 0;
    std::vector<UMockdevIoctlClient*> pendingWrites;  // output writes left hanging
    std::atomic<bool> stopping{false};
    std::thread pump;
    // The port it is plugged into, for every appearance: "usb-0000:00:14.0-<port>", as the
    // kernel gives a hidraw node's physical path.
    char phys[48] = {};
};

namespace {

UMockdevTestbed* testbed = nullptr;
std::once_flag testbedOnce;
// /dev/hidrawN numbers are never reused within a run: umockdev 0.17 cannot re-create a
// removed node's name.
std::atomic<uint32_t> nextHidrawNumber{0};
std::atomic<uint32_t> nextHidSerial{1};
// USB device names must stay unique within the testbed too (umockdev keeps the bus links
// of removed devices): every appearance gets the next port number.
std::atomic<uint32_t> nextUsbPort{1};
std::atomic<uint32_t> nextExtraPort{1};
// Physical ports: each sensor and each extra device is plugged into a port of its own, which
// it keeps when it restarts (only the sysfs name of its USB device is new each time).
std::atomic<uint32_t> nextPhysicalPort{1};

void FormatPhysicalPath(char* phys, size_t capacity) {
    std::snprintf(phys, capacity, "usb-0000:00:14.0-%u", nextPhysicalPort.fetch_add(1));
}

// The USB serial number of the board at `phys`: each board has its own, and its boot loader
// reports the same one. (Wine's HID bus tells a device by nothing else: the Windows edition
// reads it as the device's port under Wine.)
std::string SerialNumberOf(const char* phys) {
    const char* dash = std::strrchr(phys, '-');
    return std::string("ORV") + (dash != nullptr ? dash + 1 : "0");
}

struct ExtraDevice {
    char phys[48];
    std::string usbPath;
    std::string devnode;
    UMockdevIoctlBase* handler;
    std::vector<uint8_t> descriptor;
    uint16_t vendorId, productId;
};
std::mutex extraMutex;
std::vector<ExtraDevice*> extraDevices;

int ErrnoOf(uint32_t simCode) {
    switch (simCode) {
    case kSimOk: return 0;
    case kSimErrFileNotFound: return ENOENT;
    case kSimErrAccessDenied: return EACCES;
    case kSimErrInvalidHandle: return EBADF;
    case kSimErrGenFailure: return EPIPE;  // a stalled control transfer
    case kSimErrInvalidParameter: return EINVAL;
    case kSimErrOperationAborted: return ECANCELED;
    case kSimErrNotConnected: return ENODEV;
    default: return EIO;
    }
}

uint64_t NowMs(EmulatedSensor* s) {
    const auto real = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - s->start);
    return static_cast<uint64_t>(real.count()) * s->options.timeScale / 1000;
}

// ---- Report descriptor of one appearance ----------------------------------------------

struct DescriptorWriter {
    uint8_t* out;
    uint32_t capacity;
    uint32_t length;
    bool overflow;
};

void Put(DescriptorWriter* w, std::initializer_list<uint8_t> bytes) {
    for (uint8_t b : bytes) {
        if (w->length >= w->capacity) {
            w->overflow = true;
            return;
        }
        w->out[w->length++] = b;
    }
}

// A main item of `bytes` 8-bit fields with a vendor usage, under `reportId` (0: none).
void PutReport(DescriptorWriter* w, uint8_t mainPrefix, uint8_t reportId, uint32_t bytes,
               uint8_t usage) {
    if (bytes == 0) return;
    if (reportId != 0) Put(w, {0x85, reportId});
    Put(w, {0x09, usage});
    if (bytes > 255) {
        Put(w, {0x96, static_cast<uint8_t>(bytes & 0xFF), static_cast<uint8_t>(bytes >> 8)});
    } else {
        Put(w, {0x95, static_cast<uint8_t>(bytes)});
    }
    Put(w, {mainPrefix, 0x02});  // Data, Variable, Absolute
}

// Fills the report IDs of each collection and writes the descriptor of all of them.
void BuildDescriptor(EmulatedNode* node, const EmulatedSensorOptions& options, bool bootLoader,
                     uint16_t family) {
    DescriptorWriter w{node->descriptor, kMaxDescriptor, 0, false};
    uint8_t extraId = kExtraReportIdBase;
    for (uint32_t k = 0; k < node->collectionCount; ++k) {
        NodeCollection& c = node->collections[k];
        const SimCollection& col = c.itf.collection;
        c.featureIdCount = 0;
        c.outputId = -1;
        uint8_t inputId = 0;
        if (c.itf.isMain && bootLoader) {
            c.featureIds[c.featureIdCount++] = 1;
            c.featureIds[c.featureIdCount++] = 2;
            if (col.outputReportLength > 0) {
                c.outputId = options.outputWithoutReportId ? 0 : kBootOutputReportId;
            }
            inputId = 4;
        } else if (c.itf.isMain) {
            inputId = kInputReportId;
            c.featureIds[c.featureIdCount++] = kSwitchReportId;
            if (family == 1) {
                c.featureIds[c.featureIdCount++] = 5;
                c.featureIds[c.featureIdCount++] = 6;
            }
            if (col.outputReportLength > 0) c.outputId = kBootOutputReportId;
        } else {
            inputId = extraId++;
            if (col.featureReportLength > 0) c.featureIds[c.featureIdCount++] = extraId;
            ++extraId;
            if (col.outputReportLength > 0) c.outputId = extraId;
            ++extraId;
        }

        // Collection (Application) with the collection's usage page and usage. (Not as one
        // 4-byte extended usage: Wine 8's parser takes the page of a collection's usage from
        // the Usage Page item only.)
        Put(&w, {0x06, static_cast<uint8_t>(col.usagePage & 0xFF), static_cast<uint8_t>(col.usagePage >> 8)});
        Put(&w, {0x0A, static_cast<uint8_t>(col.usage & 0xFF), static_cast<uint8_t>(col.usage >> 8)});
        Put(&w, {0xA1, 0x01});
        Put(&w, {0x06, 0x00, 0xFF});              // fields on the vendor page
        Put(&w, {0x15, 0x00, 0x26, 0xFF, 0x00});  // logical 0..255
        Put(&w, {0x75, 0x08});                    // 8 bits per field
        // A report without an ID must come before any Report ID item of the descriptor's
        // collection for the parser state to carry ID 0.
        if (c.outputId == 0) PutReport(&w, 0x91, 0, col.outputReportLength - 1u, 0x03);
        if (col.inputReportLength > 1) {
            PutReport(&w, 0x81, inputId, col.inputReportLength - 1u, 0x01);
        }
        for (uint32_t i = 0; i < c.featureIdCount; ++i) {
            PutReport(&w, 0xB1, c.featureIds[i], col.featureReportLength - 1u,
                      static_cast<uint8_t>(0x20 + i));
        }
        if (c.outputId > 0) {
            PutReport(&w, 0x91, static_cast<uint8_t>(c.outputId), col.outputReportLength - 1u, 0x03);
        }
        Put(&w, {0xC0});
    }
    node->descriptorLength = w.overflow ? 0 : w.length;
}

// The collection of `node` that declares feature report `id`.
NodeCollection* CollectionForFeature(EmulatedNode* node, uint8_t id) {
    for (uint32_t k = 0; k < node->collectionCount; ++k) {
        NodeCollection& c = node->collections[k];
        for (uint32_t i = 0; i < c.featureIdCount; ++i) {
            if (c.featureIds[i] == id) return &c;
        }
    }
    return nullptr;
}

NodeCollection* CollectionForOutput(EmulatedNode* node, uint8_t id) {
    for (uint32_t k = 0; k < node->collectionCount; ++k) {
        NodeCollection& c = node->collections[k];
        if (c.outputId >= 0 && static_cast<uint8_t>(c.outputId) == id) return &c;
    }
    return nullptr;
}

// ---- ioctl and write handlers ---------------------------------------------------------

bool SameNode(const EmulatedSensor* s, UMockdevIoctlClient* client) {
    const char* devnode = umockdev_ioctl_client_get_devnode(client);
    return s->node.present && devnode != nullptr && std::strcmp(devnode, s->node.devnode) == 0;
}

// Copies `length` bytes of the caller's buffer at the ioctl argument in or out.
UMockdevIoctlData* Resolve(UMockdevIoctlClient* client, uint32_t length) {
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    GError* error = nullptr;
    UMockdevIoctlData* data = umockdev_ioctl_data_resolve(arg, 0, length, &error);
    if (error != nullptr) {
        g_error_free(error);
        return nullptr;
    }
    return data;
}

// Answers the ioctls that identify a node; 1 when `request` was one of them.
int AnswerIdentityIoctl(UMockdevIoctlClient* client, unsigned long request,
                        const uint8_t* descriptor, uint32_t descriptorLength,
                        uint16_t vendorId, uint16_t productId, const char* phys) {
    const unsigned nr = _IOC_NR(request);
    if (request == HIDIOCGRDESCSIZE) {
        UMockdevIoctlData* data = Resolve(client, sizeof(int));
        if (data == nullptr) {
            umockdev_ioctl_client_complete(client, -1, EFAULT);
            return 1;
        }
        const int size = static_cast<int>(descriptorLength);
        std::memcpy(data->data, &size, sizeof(size));
        g_object_unref(data);
        umockdev_ioctl_client_complete(client, 0, 0);
        return 1;
    }
    if (request == HIDIOCGRDESC) {
        UMockdevIoctlData* data = Resolve(client, sizeof(hidraw_report_descriptor));
        if (data == nullptr) {
            umockdev_ioctl_client_complete(client, -1, EFAULT);
            return 1;
        }
        hidraw_report_descriptor* rd = reinterpret_cast<hidraw_report_descriptor*>(data->data);
        if (rd->size < descriptorLength) {
            g_object_unref(data);
            umockdev_ioctl_client_complete(client, -1, EINVAL);
            return 1;
        }
        std::memcpy(rd->value, descriptor, descriptorLength);
        g_object_unref(data);
        umockdev_ioctl_client_complete(client, 0, 0);
        return 1;
    }
    if (request == HIDIOCGRAWINFO) {
        UMockdevIoctlData* data = Resolve(client, sizeof(hidraw_devinfo));
        if (data == nullptr) {
            umockdev_ioctl_client_complete(client, -1, EFAULT);
            return 1;
        }
        hidraw_devinfo info;
        info.bustype = BUS_USB;
        info.vendor = static_cast<int16_t>(vendorId);
        info.product = static_cast<int16_t>(productId);
        std::memcpy(data->data, &info, sizeof(info));
        g_object_unref(data);
        umockdev_ioctl_client_complete(client, 0, 0);
        return 1;
    }
    if (_IOC_TYPE(request) == 'H' && (nr == 0x04 || nr == 0x05 || nr == 0x08)) {
        // Name, physical path, unique ID: text answers.
        char physical[64];
        std::snprintf(physical, sizeof physical, "%s/input0", phys);
        const std::string serial = SerialNumberOf(phys);
        const char* text =
            nr == 0x04 ? "ORVELL USB Sensor" : (nr == 0x05 ? physical : serial.c_str());
        const uint32_t size = _IOC_SIZE(request);
        UMockdevIoctlData* data = Resolve(client, size);
        if (data == nullptr || size == 0) {
            if (data) g_object_unref(data);
            umockdev_ioctl_client_complete(client, -1, EFAULT);
            return 1;
        }
        const uint32_t n = static_cast<uint32_t>(std::strlen(text));
        const uint32_t copy = n + 1 < size ? n + 1 : size;
        std::memcpy(data->data, text, copy);
        data->data[copy - 1] = '\0';
        g_object_unref(data);
        umockdev_ioctl_client_complete(client, static_cast<long>(copy), 0);
        return 1;
    }
    return 0;
}

gboolean OnSensorIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer user) {
    EmulatedSensor* s = static_cast<EmulatedSensor*>(user);
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    std::lock_guard<std::mutex> lock(s->mutex);
    if (!SameNode(s, client)) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);  // the device left the bus
        return TRUE;
    }
    EmulatedNode& node = s->node;
    if (AnswerIdentityIoctl(client, request, node.descriptor, node.descriptorLength,
                            node.vendorId, node.productId, s->phys)) {
        return TRUE;
    }
    const unsigned nr = _IOC_NR(request);
    if (_IOC_TYPE(request) != 'H' || (nr != 0x06 && nr != 0x07)) {
        umockdev_ioctl_client_complete(client, -1, ENOTTY);
        return TRUE;
    }
    const uint32_t length = _IOC_SIZE(request);
    UMockdevIoctlData* data = Resolve(client, length);
    if (data == nullptr || length == 0) {
        if (data) g_object_unref(data);
        umockdev_ioctl_client_complete(client, -1, EINVAL);
        return TRUE;
    }
    NodeCollection* c = CollectionForFeature(&node, data->data[0]);
    uint32_t outcome;
    if (c == nullptr) {
        outcome = kSimErrGenFailure;  // a report the device does not declare: it stalls
    } else if (c->openOutcome != kSimOk) {
        outcome = c->openOutcome;
    } else if (nr == 0x06) {
        outcome = sim_sensor_set_feature(s->model, NowMs(s), &c->port, data->data, length);
    } else {
        outcome = sim_sensor_get_feature(s->model, NowMs(s), &c->port, data->data, length);
    }
    g_object_unref(data);  // copies the changed buffer back to the caller
    if (outcome == kSimOk) {
        umockdev_ioctl_client_complete(client, static_cast<long>(length), 0);
    } else {
        umockdev_ioctl_client_complete(client, -1, ErrnoOf(outcome));
    }
    return TRUE;
}

gboolean OnSensorWrite(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer user) {
    EmulatedSensor* s = static_cast<EmulatedSensor*>(user);
    std::lock_guard<std::mutex> lock(s->mutex);
    if (!SameNode(s, client)) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return TRUE;
    }
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    const uint32_t length = arg->data_len > 0 ? static_cast<uint32_t>(arg->data_len) : 0;
    if (length == 0) {
        umockdev_ioctl_client_complete(client, -1, EINVAL);
        return TRUE;
    }
    NodeCollection* c = CollectionForOutput(&s->node, arg->data[0]);
    uint32_t outcome = c == nullptr ? kSimErrGenFailure : c->openOutcome;
    if (outcome == kSimOk) {
        outcome = sim_sensor_write_output(s->model, NowMs(s), &c->port, arg->data, length);
    }
    if (outcome == kSimErrIoPending) {
        // The device never takes the report: the write stays blocked, as a hidraw write
        // does until the kernel's time-out, here until the node goes away.
        g_object_ref(client);
        s->pendingWrites.push_back(client);
        return TRUE;
    }
    if (outcome == kSimOk) {
        umockdev_ioctl_client_complete(client, static_cast<long>(length), 0);
    } else {
        umockdev_ioctl_client_complete(client, -1, ErrnoOf(outcome));
    }
    return TRUE;
}

gboolean OnExtraIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer user) {
    ExtraDevice* d = static_cast<ExtraDevice*>(user);
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    if (!AnswerIdentityIoctl(client, request, d->descriptor.data(),
                             static_cast<uint32_t>(d->descriptor.size()), d->vendorId,
                             d->productId, d->phys)) {
        const unsigned nr = _IOC_NR(request);
        const bool feature = _IOC_TYPE(request) == 'H' && (nr == 0x06 || nr == 0x07);
        umockdev_ioctl_client_complete(client, -1, feature ? EPIPE : ENOTTY);
    }
    return TRUE;
}

// ---- Device tree ----------------------------------------------------------------------

struct TreePaths {
    std::string usb, interface, hid, hidraw;
};

// Adds usb_device / usb_interface / hid / hidraw for one node. The ioctl handler must be
// attached to `devnode` before the hidraw device (and with it the node) exists: a program
// listening for "add" events (Wine's HID bus) opens the node at once.
bool AddDeviceTree(const char* usbName, const char* phys, uint16_t vendorId, uint16_t productId,
                   uint16_t version, const uint8_t* descriptor, uint32_t descriptorLength,
                   uint32_t hidrawNumber, UMockdevIoctlBase* handler, TreePaths* paths) {
    char vid[8], pid[8], bcd[8], product[32], hidId[40], hidName[48], devname[32], dev[16],
        minor[8], hidraw[16];
    std::snprintf(vid, sizeof vid, "%04x", vendorId);
    std::snprintf(pid, sizeof pid, "%04x", productId);
    std::snprintf(bcd, sizeof bcd, "%04x", version);
    std::snprintf(product, sizeof product, "%x/%x/%x", vendorId, productId, version);
    std::snprintf(hidId, sizeof hidId, "0003:%08X:%08X", vendorId, productId);
    std::snprintf(hidName, sizeof hidName, "0003:%04X:%04X.%04X", vendorId, productId,
                  nextHidSerial.fetch_add(1));
    std::snprintf(hidraw, sizeof hidraw, "hidraw%u", hidrawNumber);
    std::snprintf(devname, sizeof devname, "/dev/hidraw%u", hidrawNumber);
    std::snprintf(dev, sizeof dev, "%u:%u", kHidrawMajor, hidrawNumber);
    std::snprintf(minor, sizeof minor, "%u", hidrawNumber);
    std::string interfaceName = std::string(usbName) + ":1.0";
    char hidPhys[64];
    std::snprintf(hidPhys, sizeof hidPhys, "%s/input0", phys);
    // The port's place in the bus, as the kernel's devpath: the physical path's last part.
    const char* devpath = std::strrchr(phys, '-') != nullptr ? std::strrchr(phys, '-') + 1 : "1";
    const std::string serial = SerialNumberOf(phys);

    gchar* usb = umockdev_testbed_add_device(
        testbed, "usb", usbName, nullptr,
        "idVendor", vid, "idProduct", pid, "bcdDevice", bcd, "manufacturer", "ORVELL",
        "product", "ORVELL USB Sensor", "serial", serial.c_str(), "busnum", "1", "devpath", devpath,
        "devnum", "5", "speed", "12", nullptr,
        "DEVTYPE", "usb_device", "PRODUCT", product, "TYPE", "0/0/0", "BUSNUM", "001",
        "DEVNUM", "005", nullptr);
    if (usb == nullptr) return false;
    gchar* interface = umockdev_testbed_add_device(
        testbed, "usb", interfaceName.c_str(), usb,
        "bInterfaceNumber", "00", "bInterfaceClass", "03", "bAlternateSetting", " 0", nullptr,
        "DEVTYPE", "usb_interface", "PRODUCT", product, "TYPE", "0/0/0", "INTERFACE", "3/0/0",
        nullptr);
    gchar* hid = interface == nullptr
                     ? nullptr
                     : umockdev_testbed_add_device(
                           testbed, "hid", hidName, interface, nullptr,
                           "HID_ID", hidId, "HID_NAME", "ORVELL USB Sensor",
                           "HID_PHYS", hidPhys, "HID_UNIQ", serial.c_str(),
                           "DRIVER", "hid-generic", nullptr);
    if (hid != nullptr) {
        umockdev_testbed_set_attribute_binary(testbed, hid, "report_descriptor",
                                              const_cast<uint8_t*>(descriptor),
                                              static_cast<gint>(descriptorLength));
    }
    bool ok = hid != nullptr;
    if (ok) {
        GError* error = nullptr;
        ok = umockdev_testbed_attach_ioctl(testbed, devname, handler, &error);
        if (error != nullptr) {
            std::fprintf(stderr, "emulated sensor: attach %s: %s\n", devname, error->message);
            g_error_free(error);
        }
    }
    // The hidraw device goes in through umockdev's record format: only its "N:" line makes
    // umockdev create the /dev node (add_device records the device number alone).
    std::string raw;
    if (ok) {
        const char* hidSysfs = hid + std::strlen("/sys");
        char record[512];
        std::snprintf(record, sizeof record,
                      "P: %s/%s\nN: %s\nE: DEVNAME=%s\nE: SUBSYSTEM=hidraw\nE: MAJOR=%u\n"
                      "E: MINOR=%s\nA: dev=%s\n",
                      hidSysfs, hidraw, hidraw, devname, kHidrawMajor, minor, dev);
        GError* error = nullptr;
        if (umockdev_testbed_add_from_string(testbed, record, &error)) {
            raw = std::string(hid) + "/" + hidraw;
        } else {
            std::fprintf(stderr, "emulated sensor: add %s: %s\n", devname,
                         error != nullptr ? error->message : "?");
        }
        if (error != nullptr) g_error_free(error);
    }
    paths->usb = usb;
    paths->interface = interface ? interface : "";
    paths->hid = hid ? hid : "";
    paths->hidraw = raw;
    g_free(usb);
    g_free(interface);
    g_free(hid);
    return !raw.empty();
}

void RemoveDeviceTree(const TreePaths& paths, const char* devnode) {
    // Children first, each with its "remove" event, as the kernel reports an unplug.
    for (const std::string* p : {&paths.hidraw, &paths.hid, &paths.interface, &paths.usb}) {
        if (!p->empty()) umockdev_testbed_uevent(testbed, p->c_str(), "remove");
    }
    if (!paths.usb.empty()) umockdev_testbed_remove_device(testbed, paths.usb.c_str());
    GError* error = nullptr;
    umockdev_testbed_detach_ioctl(testbed, devnode, &error);
    if (error != nullptr) g_error_free(error);
}

// ---- Following the model --------------------------------------------------------------

void RemoveSensorNode(EmulatedSensor* s) {
    TreePaths paths;
    char devnode[32];
    UMockdevIoctlBase* handler;
    std::vector<UMockdevIoctlClient*> pending;
    {
        std::lock_guard<std::mutex> lock(s->mutex);
        if (!s->node.present) return;
        s->node.present = false;  // from here on the handler answers ENODEV
        paths = {s->node.usbPath, s->node.interfacePath, s->node.hidPath, s->node.hidrawPath};
        std::memcpy(devnode, s->node.devnode, sizeof devnode);
        handler = s->node.handler;
        s->node.handler = nullptr;
        pending.swap(s->pendingWrites);
    }
    for (UMockdevIoctlClient* client : pending) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        g_object_unref(client);
    }
    RemoveDeviceTree(paths, devnode);
    if (handler != nullptr) g_object_unref(handler);
}

void AddSensorNode(EmulatedSensor* s) {
    EmulatedNode fresh;
    {
        std::lock_guard<std::mutex> lock(s->mutex);
        const uint64_t now = NowMs(s);
        const uint32_t count = sim_sensor_interface_count(s->model, now);
        if (count == 0) return;
        fresh.appearance = s->model->appearance;
        fresh.collectionCount = count < kMaxNodeCollections ? count : kMaxNodeCollections;
        for (uint32_t k = 0; k < fresh.collectionCount; ++k) {
            NodeCollection& c = fresh.collections[k];
            sim_sensor_interface(s->model, k, &c.itf);
            c.openOutcome = sim_sensor_open(s->model, now, k, &c.port);
        }
        fresh.vendorId = fresh.collections[0].itf.vendorId;
        fresh.productId = fresh.collections[0].itf.productId;
        fresh.version = fresh.collections[0].itf.versionNumber;
        BuildDescriptor(&fresh, s->options, s->model->mode == kSimModeBootLoader,
                        s->model->config.family);
    }
    const uint32_t number = nextHidrawNumber.fetch_add(1);
    std::snprintf(fresh.devnode, sizeof fresh.devnode, "/dev/hidraw%u", number);
    fresh.handler = umockdev_ioctl_base_new();
    g_signal_connect(fresh.handler, "handle-ioctl", G_CALLBACK(OnSensorIoctl), s);
    g_signal_connect(fresh.handler, "handle-write", G_CALLBACK(OnSensorWrite), s);
    {
        // The node is published before it exists so that an open right after the "add"
        // event is answered by the model.
        std::lock_guard<std::mutex> lock(s->mutex);
        fresh.present = true;
        s->node = fresh;
        ++s->nodesCreated;
    }
    TreePaths paths;
    char usbName[16];
    std::snprintf(usbName, sizeof usbName, "1-%u", nextUsbPort.fetch_add(1));
    const bool ok = AddDeviceTree(usbName, s->phys, fresh.vendorId, fresh.productId, fresh.version,
                                  fresh.descriptor, fresh.descriptorLength, number,
                                  fresh.handler, &paths);
    std::lock_guard<std::mutex> lock(s->mutex);
    s->node.usbPath = paths.usb;
    s->node.interfacePath = paths.interface;
    s->node.hidPath = paths.hid;
    s->node.hidrawPath = paths.hidraw;
    if (!ok) std::fprintf(stderr, "emulated sensor: could not add %s\n", fresh.devnode);
}

void Pump(EmulatedSensor* s) {
    while (!s->stopping.load()) {
        uint32_t wanted = 0;  // appearance that should have a node; 0: none
        uint32_t shown = 0;
        {
            std::lock_guard<std::mutex> lock(s->mutex);
            const uint64_t now = NowMs(s);
            sim_sensor_advance(s->model, now);
            if (sim_sensor_interface_count(s->model, now) > 0) wanted = s->model->appearance;
            shown = s->node.present ? s->node.appearance : 0;
        }
        if (wanted != shown) {
            RemoveSensorNode(s);
            if (wanted != 0) AddSensorNode(s);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(s->options.pumpPeriodMs));
    }
}

// umockdev_in_mock_environment() answers whether a testbed exists (UMOCKDEV_DIR), not
// whether the preload is loaded; the preload list itself tells.
bool UnderPreload() {
    const char* preload = std::getenv("LD_PRELOAD");
    return preload != nullptr && std::strstr(preload, "libumockdev-preload") != nullptr;
}

}  // namespace

void emulated_sensor_reexec_under_preload(int argc, char** argv) {
    if (UnderPreload()) return;
    // Listing the tests (ctest's discovery at build time) needs no testbed; that keeps the
    // discovery working in builds whose sanitizer runtime does not accept the preload.
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--gtest_list_tests", 18) == 0) return;
    }
    const char* current = std::getenv("LD_PRELOAD");
    std::string preload = current != nullptr ? current : "";
#if defined(__SANITIZE_ADDRESS__)
    // ASan's runtime must come first in the preload list.
    if (preload.find("libasan") == std::string::npos) {
        preload = std::string("libasan.so.8") + (preload.empty() ? "" : ":") + preload;
    }
#endif
    preload += (preload.empty() ? "" : ":") + std::string("libumockdev-preload.so.0");
    setenv("LD_PRELOAD", preload.c_str(), 1);
    execv("/proc/self/exe", argv);
    std::perror("emulated sensor: re-exec under the umockdev preload");
}

int emulated_testbed_ready() {
    std::call_once(testbedOnce, [] {
        if (UnderPreload()) testbed = umockdev_testbed_new();
    });
    return testbed != nullptr;
}

EmulatedSensor* emulated_sensor_start(const SimSensorConfig& config,
                                      const EmulatedSensorOptions& options) {
    if (!emulated_testbed_ready()) return nullptr;
    EmulatedSensor* s = new EmulatedSensor;
    s->options = options;
    s->model = new SimSensor;
    s->start = std::chrono::steady_clock::now();
    sim_sensor_init(s->model, &config, 0);
    FormatPhysicalPath(s->phys, sizeof s->phys);
    AddSensorNode(s);
    s->pump = std::thread(Pump, s);
    return s;
}

void emulated_sensor_stop(EmulatedSensor* s) {
    if (s == nullptr) return;
    s->stopping.store(true);
    s->pump.join();
    RemoveSensorNode(s);
    delete s->model;
    delete s;
}

uint64_t emulated_sensor_now(EmulatedSensor* s) { return NowMs(s); }

SimSensor* emulated_sensor_lock(EmulatedSensor* s) {
    s->mutex.lock();
    return s->model;
}

void emulated_sensor_unlock(EmulatedSensor* s) { s->mutex.unlock(); }

std::vector<SimTranscriptEntry> emulated_sensor_transcript(EmulatedSensor* s) {
    std::lock_guard<std::mutex> lock(s->mutex);
    return s->model->transcript;
}

bool emulated_sensor_flash_holds(EmulatedSensor* s, const uint8_t* bytes, uint32_t count) {
    std::vector<uint8_t> flash(count);
    std::lock_guard<std::mutex> lock(s->mutex);
    sim_sensor_read_flash(s->model, 0x4000, flash.data(), count);
    return std::memcmp(flash.data(), bytes, count) == 0;
}

void emulated_sensor_node(EmulatedSensor* s, char* node, uint32_t capacity) {
    std::lock_guard<std::mutex> lock(s->mutex);
    std::snprintf(node, capacity, "%s", s->node.present ? s->node.devnode : "");
}

uint32_t emulated_sensor_nodes_created(EmulatedSensor* s) {
    std::lock_guard<std::mutex> lock(s->mutex);
    return s->nodesCreated;
}

int emulated_sensor_wait_for_product(EmulatedSensor* s, uint16_t productId, uint32_t timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        {
            std::lock_guard<std::mutex> lock(s->mutex);
            if (s->node.present && s->node.productId == productId && !s->node.hidrawPath.empty()) {
                return 1;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return 0;
}

uint32_t emulated_sensor_descriptor(EmulatedSensor* s, uint8_t* out, uint32_t capacity) {
    std::lock_guard<std::mutex> lock(s->mutex);
    if (!s->node.present || s->node.descriptorLength > capacity) return 0;
    std::memcpy(out, s->node.descriptor, s->node.descriptorLength);
    return s->node.descriptorLength;
}

int emulated_extra_device_add(uint16_t vendorId, uint16_t productId, uint16_t version,
                              const uint8_t* descriptor, uint32_t descriptorLength) {
    if (!emulated_testbed_ready()) return 0;
    ExtraDevice* d = new ExtraDevice;
    d->descriptor.assign(descriptor, descriptor + descriptorLength);
    d->vendorId = vendorId;
    d->productId = productId;
    d->handler = umockdev_ioctl_base_new();
    g_signal_connect(d->handler, "handle-ioctl", G_CALLBACK(OnExtraIoctl), d);
    const uint32_t number = nextHidrawNumber.fetch_add(1);
    char usbName[16];
    std::lock_guard<std::mutex> lock(extraMutex);
    // "1-0.N" sorts before the sensor's "1-1": extra devices are listed first.
    std::snprintf(usbName, sizeof usbName, "1-0.%u", nextExtraPort.fetch_add(1));
    FormatPhysicalPath(d->phys, sizeof d->phys);
    TreePaths paths;
    const bool ok = AddDeviceTree(usbName, d->phys, vendorId, productId, version, descriptor,
                                  descriptorLength, number, d->handler, &paths);
    d->usbPath = paths.usb;
    d->devnode = "/dev/hidraw" + std::to_string(number);
    extraDevices.push_back(d);
    return ok ? 1 : 0;
}

void emulated_extra_devices_clear() {
    std::lock_guard<std::mutex> lock(extraMutex);
    for (ExtraDevice* d : extraDevices) {
        TreePaths paths;
        paths.usb = d->usbPath;
        RemoveDeviceTree(paths, d->devnode.c_str());
        g_object_unref(d->handler);
        delete d;
    }
    extraDevices.clear();
}
