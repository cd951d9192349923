// Writes diagnostic lines through the real Windows debugger output, for the driver that
// runs it under its own debugger. The last line comes from a real failure: a flash command
// on a device record that is not open, whose HidD_SetFeature fails.
#include "flash/flash_protocol.h"
#include "sensor/diag_log.h"
#include "sensor/hid_device.h"

int main() {
    LogDiagnostic(0, "Failed to open ORVELL USB sensor", "Module Name : GetFWVersion", 0);
    LogDiagnostic(2, "010", "Module Name : flash_write", 1);    // ERROR_FILE_NOT_FOUND
    LogDiagnostic(0x2A, "020", "Module Name : flash_verify", 1);  // a code with no text
    HidDevice device = ClosedHidDevice();
    return WriteUpdateMark(&device) ? 0 : 1;
}
