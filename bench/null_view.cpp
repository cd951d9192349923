// A view that shows nothing: the benchmarks measure the protocol, not a toolkit.
#include "platform/view.h"

void view_show_text(View*, ViewText, const char*) {}
void view_enable_button(View*, ViewButton, bool) {}
void view_show_progress(View*, uint32_t, uint32_t, bool) {}
void view_enable_progress(View*, bool) {}
void view_show_window(View*, bool) {}
void view_show_error(View*, ViewError) {}
void view_show_state(View*, const RunState&) {}
void view_run_on_loop(View*, void (*)(void*), void*) {}
