// zorflash-note-met PRODUCT: notes a sensor's normal-mode product ("0090" or "00e6", as udev
// gives $attr{idProduct}) in the record of the sensors met, with the same code and the same
// atomic write as zorflash's own note. The package's udev rule runs it as root each time a
// sensor appears, so the machine's record follows the sensors plugged in whether or not
// zorflash runs; at early boot, when /var may not be writable yet, its systemd unit runs it
// again once the system is up.
//
// Exit status 0 when the record now holds the product; 1 when it could not be written (the
// reason went to standard error); 2, quietly, for anything but one of the two products.
#include <strings.h>

#include <cstdio>
#include <cstring>

#include "platform/records.h"
#include "platform/sensor_ids.h"
#include "sensor/diag_log.h"

int main(int argc, char** argv) {
    if (argc != 2 || std::strlen(argv[1]) != 4) return 2;
    uint16_t product = 0;
    const uint16_t normalProducts[] = {kProductFamily0, kProductFamily1};
    for (const uint16_t normalProduct : normalProducts) {
        char text[8];
        std::snprintf(text, sizeof text, "%04x", static_cast<unsigned>(normalProduct));
        if (strcasecmp(argv[1], text) == 0) product = normalProduct;
    }
    if (product == 0) return 2;
    // A record that cannot be written is a notice of the platform's: its line is the reason.
    static DiagnosticLog diagnosticLog = {nullptr, nullptr};
    StartDiagnosticLog(&diagnosticLog);
    plat_note_product_met(kSensorVendorId, product);
    bool met = false;
    plat_usb_products_met(kSensorVendorId, &product, 1, &met);
    return met ? 0 : 1;
}
