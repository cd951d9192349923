// Entry of zorflash.exe: the real sensor through SetupAPI and the HID class driver.
#include <windows.h>

#include "platform/win32/win32_ui.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int showCommand) {
    return RunMainDialog(instance, commandLine, showCommand, Edition{kEditionWindows, "zorflash"});
}
