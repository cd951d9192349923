// Presses OK in the message box of another program, as a person would: waits up to 60 s for
// a visible top-level window with the caption given, then sends it IDOK. Lets a test on the
// Linux side end a Windows program that answers in a box.
//   press_ok.exe CAPTION
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: press_ok CAPTION\n");
        return 2;
    }
    for (int attempt = 0; attempt < 3000; ++attempt) {
        HWND box = FindWindowA(nullptr, argv[1]);
        if (box != nullptr && IsWindowVisible(box)) {
            PostMessageA(box, WM_COMMAND, IDOK, 0);
            return 0;
        }
        Sleep(20);
    }
    std::fprintf(stderr, "press_ok: no window \"%s\"\n", argv[1]);
    return 1;
}
