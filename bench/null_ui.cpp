// A dialog that shows nothing: the benchmarks measure the protocol, not a toolkit.
#include "platform/ui.h"

void ui_set_item_text(WindowHandle, int, const char*) {}
uint32_t ui_get_item_text(WindowHandle, int, char* buffer, uint32_t capacity) {
    if (capacity) buffer[0] = '\0';
    return 0;
}
void ui_enable_item(WindowHandle, int, bool) {}
void ui_set_progress_range(WindowHandle, uint16_t) {}
void ui_set_progress_position(WindowHandle, uint16_t) {}
void ui_step_progress(WindowHandle) {}
void ui_set_timer(WindowHandle, uint32_t, uint32_t) {}
void ui_kill_timer(WindowHandle, uint32_t) {}
void ui_show_window(WindowHandle, bool) {}
void ui_destroy_window(WindowHandle) {}
void ui_post_quit(int) {}
void ui_message_box(const char*, const char*) {}
ThreadHandle ui_thread_start(unsigned (*)(void*), void*) { return nullptr; }
bool ui_thread_ended(ThreadHandle, uint32_t*) { return true; }
void ui_thread_close(ThreadHandle) {}
void ui_keep_awake(WindowHandle, bool) {}
