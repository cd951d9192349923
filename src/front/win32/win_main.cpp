// Entry of zorflash.exe: the real sensor through SetupAPI and the HID class driver.
#include <windows.h>

#include "front/win32/main_dialog.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int showCommand) {
    return win32_run_main_dialog(instance, commandLine, showCommand,
                                 Edition{kEditionWindows, "zorflash"});
}
