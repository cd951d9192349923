// Where an open HID interface is plugged in: the location path of its USB device, read from
// the device tree through SetupAPI and the configuration manager.
//
// Windows: the interface's device node (HID\VID_..&PID_..\...) hangs below the USB device
// (USB\VID_..&PID_..\..., with a USB\VID_..&PID_..&MI_xx interface node between them on a
// composite device), which hangs below its hub. The USB device's CM_DRP_LOCATION_PATHS
// names the host controller and the chain of hub ports, "PCIROOT(0)#PCI(1400)#USBROOT(0)#
// USB(1)#USB(2)": the same for whatever product the device shows on that port, unique on the
// machine. (CM_DRP_LOCATION_INFORMATION, "Port_#0002.Hub_#0001", is not: another hub has a
// port 2 too.)
//
// Wine (8.0) keeps no such tree: its HID bus (winebus) makes each hidraw device a
// WINEBUS\VID_..&PID_..&MI_xx node, CM_Get_Parent finds no parent for it, and neither node
// has a location. What Wine passes on of the device is its vendor, product, version,
// strings and USB serial number (the kernel's HID_UNIQ, or the USB device's "serial"). Of
// these only the serial number belongs to the board rather than to the firmware it runs, so
// on Wine's bus the port reads as that serial number. It tells a second board apart as long
// as the boards' serial numbers differ; a device without one (Wine shows "0000") has no
// port this platform can tell. The CM_* calls are cfgmgr32.dll's (Wine's forwards them to
// its setupapi.dll).
#include <windows.h>
#include <setupapi.h>
#include <cfgmgr32.h>

// mingw-w64's HID headers carry no extern "C" guard of their own.
extern "C" {
#include <hidsdi.h>
}

#include <cstring>

#include "platform/hid.h"
#include "platform/win32/win32_hid_connection.h"

namespace {

// How many nodes up from the interface the USB device may be: HID node, USB interface
// node, USB device; more allows for filter or bus nodes between them, and bounds the walk
// in a tree that changes under it.
constexpr int kMaxTreeDepth = 8;

// The serial number Wine gives a device that reports none.
const wchar_t kWineNoSerialNumber[] = L"0000";

// The device node of the present HID interface at `path`, found among the HID interfaces
// of `set` (SetupDiOpenDeviceInterface would be shorter, but Wine 8 finds nothing with it).
// Wine's node numbers are the set's own: the set must live while `node` is used.
bool InterfaceNode(HDEVINFO set, const GUID* hidGuid, const char* path, DEVINST* node) {
    // The detail record on the stack: its header, then a path of the seam's capacity.
    union {
        SP_DEVICE_INTERFACE_DETAIL_DATA_A detail;
        char bytes[sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) + kHidPathCapacity];
    } record;
    SP_DEVICE_INTERFACE_DATA interfaceData;
    for (DWORD index = 0;; ++index) {
        std::memset(&interfaceData, 0, sizeof(interfaceData));
        interfaceData.cbSize = sizeof(interfaceData);
        if (!SetupDiEnumDeviceInterfaces(set, nullptr, hidGuid, index, &interfaceData)) break;
        std::memset(&record, 0, sizeof(record));
        record.detail.cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        SP_DEVINFO_DATA deviceData;
        std::memset(&deviceData, 0, sizeof(deviceData));
        deviceData.cbSize = sizeof(deviceData);
        // A path longer than the record fails here and cannot be the one opened.
        if (!SetupDiGetDeviceInterfaceDetailA(set, &interfaceData, &record.detail,
                                              sizeof(record) - 1, nullptr, &deviceData)) {
            continue;
        }
        // Interface paths compare without regard to case, as the object manager does.
        if (lstrcmpiA(record.detail.DevicePath, path) == 0) {
            *node = deviceData.DevInst;
            return true;
        }
    }
    return false;
}

bool StartsWithNoCase(const char* text, const char* prefix) {
    const size_t length = std::strlen(prefix);
    return std::strlen(text) >= length && CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE,
                                                         text, static_cast<int>(length),
                                                         prefix, static_cast<int>(length)) ==
                                              CSTR_EQUAL;
}

// A USB device's node, "USB\VID_F0A5&PID_0090\5&1a2b3c&0&2": not an interface of a
// composite device ("USB\VID_F0A5&PID_0090&MI_00\..."), and not a hub's root.
bool IsUsbDevice(const char* id) {
    if (!StartsWithNoCase(id, "USB\\VID_")) return false;
    const char* end = std::strchr(id + 4, '\\');
    for (const char* p = id + 4; p != nullptr && *p != '\0' && p != end; ++p) {
        if (StartsWithNoCase(p, "&MI_")) return false;
    }
    return true;
}

// The first of the node's location paths, the one through the PCI root.
bool LocationPath(DEVINST node, char* port, size_t capacity) {
    char paths[2 * kHidPortCapacity] = {};
    ULONG type = 0;
    ULONG length = sizeof(paths) - 2;  // two NULs stay at the end whatever is read
    if (CM_Get_DevNode_Registry_PropertyA(node, CM_DRP_LOCATION_PATHS, &type, paths, &length,
                                          0) != CR_SUCCESS ||
        type != REG_MULTI_SZ) {
        return false;
    }
    const size_t first = std::strlen(paths);
    if (first == 0 || first >= capacity) return false;
    std::memcpy(port, paths, first + 1);
    return true;
}

// Wine's HID bus names the node below an interface WINEBUS\<the interface node's id after
// "HID\">. Only there is the serial number taken for the port.
bool OnWinesHidBus(DEVINST node) {
    char id[MAX_DEVICE_ID_LEN] = {};
    if (CM_Get_Device_IDA(node, id, sizeof(id) - 1, 0) != CR_SUCCESS ||
        !StartsWithNoCase(id, "HID\\")) {
        return false;
    }
    char busId[MAX_DEVICE_ID_LEN + 8] = "WINEBUS\\";
    std::memcpy(busId + 8, id + 4, std::strlen(id + 4) + 1);
    // Looked up through SetupAPI: Wine 8's CM_Locate_DevNode finds no node at all.
    HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
    if (set == INVALID_HANDLE_VALUE) return false;
    SP_DEVINFO_DATA deviceData;
    std::memset(&deviceData, 0, sizeof(deviceData));
    deviceData.cbSize = sizeof(deviceData);
    const bool found = SetupDiOpenDeviceInfoA(set, busId, nullptr, 0, &deviceData) != FALSE;
    SetupDiDestroyDeviceInfoList(set);
    return found;
}

// "WINEBUS serial <number>", from the class driver's serial-number string.
bool WineSerialPort(HANDLE device, char* port, size_t capacity) {
    wchar_t serial[127] = {};  // the class driver's limit: 126 characters and a NUL
    if (!HidD_GetSerialNumberString(device, serial, sizeof(serial) - sizeof(wchar_t)) ||
        serial[0] == L'\0' || lstrcmpW(serial, kWineNoSerialNumber) == 0) {
        return false;
    }
    const char kPrefix[] = "WINEBUS serial ";
    char text[sizeof(kPrefix) + 4 * 127] = {};
    std::memcpy(text, kPrefix, sizeof(kPrefix));
    const int written = WideCharToMultiByte(CP_UTF8, 0, serial, -1, text + sizeof(kPrefix) - 1,
                                            static_cast<int>(sizeof(text) - sizeof(kPrefix)),
                                            nullptr, nullptr);
    const size_t length = std::strlen(text);
    if (written <= 0 || length >= capacity) return false;
    std::memcpy(port, text, length + 1);
    return true;
}

}  // namespace

namespace {

// The port of the interface at `node`, whose open handle is `device`.
bool PortOfNode(DEVINST node, HANDLE device, char* port, size_t capacity) {
    DEVINST parent = 0;
    if (CM_Get_Parent(&parent, node, 0) != CR_SUCCESS) {
        return OnWinesHidBus(node) && WineSerialPort(device, port, capacity);
    }
    for (int depth = 0; depth < kMaxTreeDepth; ++depth) {
        char id[MAX_DEVICE_ID_LEN] = {};
        if (CM_Get_Device_IDA(parent, id, sizeof(id) - 1, 0) != CR_SUCCESS) return false;
        if (IsUsbDevice(id)) return LocationPath(parent, port, capacity);
        node = parent;
        if (CM_Get_Parent(&parent, node, 0) != CR_SUCCESS) return false;
    }
    return false;
}

}  // namespace

bool win32_hid_port(HidConnection* connection, char* port, size_t capacity) {
    if (capacity > 0) port[0] = '\0';
    if (connection == nullptr || capacity == 0) return false;
    GUID hidGuid;
    HidD_GetHidGuid(&hidGuid);
    HDEVINFO set = SetupDiGetClassDevsA(&hidGuid, nullptr, nullptr,
                                        DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return false;
    DEVINST node = 0;
    const bool told = InterfaceNode(set, &hidGuid, connection->path, &node) &&
                      PortOfNode(node, connection->device, port, capacity);
    SetupDiDestroyDeviceInfoList(set);
    if (!told && capacity > 0) port[0] = '\0';
    return told;
}
