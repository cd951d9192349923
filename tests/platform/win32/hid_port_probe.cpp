// Prints the port (plat_hid_port) of every HID interface present, one line each,
// "VVVV:PPPP <port>" ("VVVV:PPPP -" when the platform cannot tell). With --switch it then
// asks the sensor in normal mode to restart in its boot loader, waits (up to 10 s) until
// the boot loader is listed, and prints the list again after a line "--". For the Wine test
// against the emulated sensor (tests/front/win32/wine_e2e_test.cpp).
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "platform/hid.h"
#include "platform/sensor_ids.h"

namespace {

// Prints the list (with `print`); true when an interface of `productId` of the sensor's
// vendor was in it. With `switchIt`, sends that interface the switch request (report 2,
// value 2).
bool PrintPorts(uint16_t productId, bool switchIt, bool print) {
    bool found = false;
    HidInterfaceList* list = plat_hid_list_present();
    char path[kHidPathCapacity];
    HidInterfaceInfo listed;
    for (uint32_t i = 0; plat_hid_list_entry(list, i, path, sizeof path, &listed) != kHidListEnd;
         ++i) {
        HidConnection* connection = nullptr;
        HidInterfaceInfo info;
        if (!plat_succeeded(plat_hid_open(path, &connection, &info))) continue;
        char port[kHidPortCapacity];
        const bool told = plat_hid_port(connection, port, sizeof port);
        if (print) std::printf("%04x:%04x %s\n", info.vendorId, info.productId, told ? port : "-");
        if (info.vendorId == kSensorVendorId && info.productId == productId) {
            found = true;
            const uint8_t request[2] = {0x02, 0x02};
            if (switchIt) plat_hid_set_feature(connection, request, sizeof request);
        }
        plat_hid_close(connection);
    }
    plat_hid_list_release(list);
    return found;
}

}  // namespace

int main(int argc, char** argv) {
    const bool switchIt = argc > 1 && std::strcmp(argv[1], "--switch") == 0;
    PrintPorts(kProductFamily0, switchIt, true);
    if (!switchIt) return 0;
    for (int attempt = 0; attempt < 100 && !PrintPorts(kProductBootLoader, false, false);
         ++attempt) {
        Sleep(100);
    }
    std::printf("--\n");
    return PrintPorts(kProductBootLoader, false, true) ? 0 : 1;
}
