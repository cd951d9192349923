// The view over GTK 4 widgets. The app calls the view from the update worker as well as from
// the main thread; GTK may only be touched by the thread that runs its loop, so a call from
// any other thread waits in the view's mailbox until the loop has carried it out.
#include "front/gtk/gtk_view.h"
#include "sensor/update_result.h"

#include <cstdio>

#include "platform/sensor_ids.h"

namespace {

// Large enough to hit with a pen or a finger (GNOME's touch target is 44 px and up).
constexpr int kButtonWidth = 160;
constexpr int kButtonHeight = 56;

// The caption labels of the design's template; the value fields sit beside them.
const char kCurrentVersionCaption[] = "Current Version : ";
const char kNewVersionCaption[] = "New Version      : ";
const char kKeepAwakeReason[] =
    "The sensor firmware is being updated. Shutting down now can damage the sensor.";

// Runs on the loop what other threads handed to it; after the app's own work (the worker's
// end) the front end looks at the app again.
gboolean RunMailbox(gpointer data) {
    View* view = static_cast<View*>(data);
    if (LoopMailboxRun(&view->mailbox) && view->afterLoopWork != nullptr) {
        view->afterLoopWork(view->owner);
    }
    return G_SOURCE_REMOVE;
}

// Always an idle source, never run here: g_main_context_invoke would run it on the calling
// thread whenever the loop happens not to hold its context.
void WakeLoop(void* data) { g_idle_add_full(G_PRIORITY_DEFAULT, RunMailbox, data, nullptr); }

// Carries `change` out on the GTK thread, while the window is there: a worker may still
// report once it is gone, and nothing is left to show it.
template <typename Change>
void Carry(View* view, Change change) {
    LoopMailboxChange(&view->mailbox, [view, &change] {
        if (view->window != nullptr) change();
    });
}

void SetAccessibleName(GtkWidget* widget, const char* name) {
    gtk_accessible_update_property(GTK_ACCESSIBLE(widget), GTK_ACCESSIBLE_PROPERTY_LABEL, name, -1);
}

GtkWidget* ValueLabel(const char* field, bool wrap) {
    GtkWidget* label = gtk_label_new("");
    gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
    gtk_label_set_selectable(GTK_LABEL(label), FALSE);
    if (wrap) {
        gtk_label_set_wrap(GTK_LABEL(label), TRUE);
        gtk_label_set_max_width_chars(GTK_LABEL(label), 60);
    }
    gtk_widget_set_hexpand(label, TRUE);
    // A label's accessible name is its text, which GTK keeps up to date; the description
    // says which field it is.
    gtk_accessible_update_property(GTK_ACCESSIBLE(label), GTK_ACCESSIBLE_PROPERTY_DESCRIPTION,
                                   field, -1);
    return label;
}

GtkWidget* LargeButton(const char* text) {
    GtkWidget* button = gtk_button_new_with_label(text);
    gtk_widget_set_size_request(button, kButtonWidth, kButtonHeight);
    SetAccessibleName(button, text);
    return button;
}

void ShowText(View* view, ViewText field, const char* text) {
    gtk_label_set_text(GTK_LABEL(view->texts[static_cast<int>(field)]), text);
    if (field == ViewText::Status) {
        view->statusChangedUs = g_get_monotonic_time();
        gtk_view_show_note(view, "");
        gtk_view_refresh_status_age(view);
    }
}

void ShowProgress(View* view, uint32_t done, uint32_t total) {
    const double fraction = total > 0 ? static_cast<double>(done) / total : 0.0;
    gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(view->progress), fraction > 1.0 ? 1.0 : fraction);
    char text[48];
    std::snprintf(text, sizeof text, "%u of %u", done, total);
    gtk_accessible_update_property(GTK_ACCESSIBLE(view->progress),
                                   GTK_ACCESSIBLE_PROPERTY_VALUE_TEXT, text, -1);
}

void OnMessageRead(GtkDialog* dialog, int, gpointer data) {
    *static_cast<bool*>(data) = true;
    gtk_window_destroy(GTK_WINDOW(dialog));
}

// Modal over the window; the loop goes on (ticks, other calls) until OK is pressed.
void MessageBox(View* view, const char* text, const char* caption) {
    GtkWidget* dialog = gtk_message_dialog_new(
        gtk_widget_get_visible(view->window) ? GTK_WINDOW(view->window) : nullptr,
        GTK_DIALOG_MODAL, GTK_MESSAGE_INFO, GTK_BUTTONS_OK, "%s", text);
    gtk_window_set_title(GTK_WINDOW(dialog), caption);
    bool read = false;
    g_signal_connect(dialog, "response", G_CALLBACK(OnMessageRead), &read);
    gtk_window_present(GTK_WINDOW(dialog));
    while (!read) g_main_context_iteration(nullptr, TRUE);
}

void KeepAwake(View* view, bool on) {
    if (on && view->inhibitCookie == 0) {
        // 0 where no session manager answers (a bare X server): nothing more can be done.
        view->inhibitCookie = gtk_application_inhibit(
            view->application, GTK_WINDOW(view->window),
            static_cast<GtkApplicationInhibitFlags>(GTK_APPLICATION_INHIBIT_SUSPEND |
                                                    GTK_APPLICATION_INHIBIT_LOGOUT),
            kKeepAwakeReason);
    } else if (!on && view->inhibitCookie != 0) {
        gtk_application_uninhibit(view->application, view->inhibitCookie);
        view->inhibitCookie = 0;
    }
}

GtkWidget* CaptionedRow(GtkWidget* grid, int row, const char* caption, GtkWidget* value) {
    GtkWidget* label = gtk_label_new(caption);
    gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
    gtk_grid_attach(GTK_GRID(grid), label, 0, row, 1, 1);
    gtk_grid_attach(GTK_GRID(grid), value, 1, row, 1, 1);
    return label;
}

}  // namespace

void view_show_text(View* view, ViewText field, const char* text) {
    Carry(view, [=] { ShowText(view, field, text); });
}

void view_enable_button(View* view, ViewButton button, bool enabled) {
    Carry(view, [=] { gtk_widget_set_sensitive(view->buttons[static_cast<int>(button)], enabled); });
}

// A new run of steps needs no range of its own in GTK's bar, only where it stands.
void view_show_progress(View* view, uint32_t done, uint32_t total, bool) {
    Carry(view, [=] { ShowProgress(view, done, total); });
}

void view_enable_progress(View* view, bool enabled) {
    Carry(view, [=] { gtk_widget_set_sensitive(view->progress, enabled); });
}

void view_show_window(View* view, bool show) {
    Carry(view, [=] {
        if (show) gtk_window_present(GTK_WINDOW(view->window));
        else gtk_widget_set_visible(view->window, FALSE);
    });
}

void gtk_view_message(View* view, const char* text, const char* caption) {
    Carry(view, [=] { MessageBox(view, text, caption); });
}

// The window shows the run in the dialog's words for now; the state is there for a face of
// its own.
void view_show_state(View*, const RunState&) {}

void view_show_error(View* view, ViewError error) {
    switch (error) {
    case ViewError::UpdateNotStarted:
        gtk_view_message(view, StatusTextFor(StatusText::UpdateNotStarted),
                         gtk_window_get_title(GTK_WINDOW(view->window)));
        break;
    }
}

void gtk_view_inhibit(View* view, bool on) {
    Carry(view, [=] { KeepAwake(view, on); });
}

void view_run_on_loop(View* view, void (*work)(void*), void* argument) {
    LoopMailboxPost(&view->mailbox, work, argument);
}

void gtk_view_close(View* view) { LoopMailboxClose(&view->mailbox); }

void gtk_view_build(View* view, GtkApplication* application, const char* title) {
    view->application = application;
    view->statusChangedUs = 0;
    view->inhibitCookie = 0;
    LoopMailboxOpen(&view->mailbox, WakeLoop, view);
    view->window = gtk_application_window_new(application);
    gtk_window_set_title(GTK_WINDOW(view->window), title);
    gtk_window_set_icon_name(GTK_WINDOW(view->window), "zorflash-gtk");

    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 12);
    gtk_widget_set_margin_start(box, 18);
    gtk_widget_set_margin_end(box, 18);
    gtk_widget_set_margin_top(box, 18);
    gtk_widget_set_margin_bottom(box, 18);
    gtk_window_set_child(GTK_WINDOW(view->window), box);

    GtkWidget* grid = gtk_grid_new();
    gtk_grid_set_column_spacing(GTK_GRID(grid), 12);
    gtk_grid_set_row_spacing(GTK_GRID(grid), 6);
    gtk_box_append(GTK_BOX(box), grid);
    view->texts[static_cast<int>(ViewText::CurrentVersion)] = ValueLabel("Current version", false);
    view->texts[static_cast<int>(ViewText::NewVersion)] = ValueLabel("New version", false);
    view->texts[static_cast<int>(ViewText::Status)] = ValueLabel("Status", true);
    view->texts[static_cast<int>(ViewText::Notice)] = ValueLabel("Notice", true);
    CaptionedRow(grid, 0, kCurrentVersionCaption, view->texts[static_cast<int>(ViewText::CurrentVersion)]);
    CaptionedRow(grid, 1, kNewVersionCaption, view->texts[static_cast<int>(ViewText::NewVersion)]);

    gtk_box_append(GTK_BOX(box), view->texts[static_cast<int>(ViewText::Notice)]);

    GtkWidget* buttons = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 12);
    gtk_widget_set_halign(buttons, GTK_ALIGN_END);
    view->buttons[static_cast<int>(ViewButton::Update)] = LargeButton("Update");
    view->buttons[static_cast<int>(ViewButton::Exit)] = LargeButton("Exit");
    gtk_box_append(GTK_BOX(buttons), view->buttons[0]);
    gtk_box_append(GTK_BOX(buttons), view->buttons[1]);
    gtk_box_append(GTK_BOX(box), buttons);

    view->familyRow = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 12);
    const uint16_t familyProducts[2] = {kProductFamily0, kProductFamily1};
    for (unsigned family = 0; family < 2; ++family) {
        char label[64];
        std::snprintf(label, sizeof label, "Family %u (was product 0x%04X)", family,
                      static_cast<unsigned>(familyProducts[family]));
        view->familyButtons[family] = LargeButton(label);
    }
    gtk_box_append(GTK_BOX(view->familyRow), view->familyButtons[0]);
    gtk_box_append(GTK_BOX(view->familyRow), view->familyButtons[1]);
    gtk_widget_set_visible(view->familyRow, FALSE);
    gtk_box_append(GTK_BOX(box), view->familyRow);

    GtkWidget* statusRow = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
    gtk_box_append(GTK_BOX(statusRow), view->texts[static_cast<int>(ViewText::Status)]);
    view->statusAge = ValueLabel("Seconds since the status changed", false);
    gtk_widget_set_hexpand(view->statusAge, FALSE);
    gtk_widget_set_valign(view->statusAge, GTK_ALIGN_START);
    gtk_box_append(GTK_BOX(statusRow), view->statusAge);
    gtk_box_append(GTK_BOX(box), statusRow);

    view->note = ValueLabel("Refused", true);
    gtk_widget_set_visible(view->note, FALSE);
    gtk_box_append(GTK_BOX(box), view->note);
    view->permission = ValueLabel("Sensor access", true);
    gtk_widget_set_visible(view->permission, FALSE);
    gtk_box_append(GTK_BOX(box), view->permission);

    view->progress = gtk_progress_bar_new();
    SetAccessibleName(view->progress, "Progress");
    gtk_widget_set_sensitive(view->progress, FALSE);
    gtk_box_append(GTK_BOX(box), view->progress);
}

void gtk_view_show_note(View* view, const char* text) {
    gtk_label_set_text(GTK_LABEL(view->note), text);
    gtk_widget_set_visible(view->note, text[0] != '\0');
}

void gtk_view_show_permission(View* view, const char* text) {
    gtk_label_set_text(GTK_LABEL(view->permission), text);
    gtk_widget_set_visible(view->permission, text[0] != '\0');
}

void gtk_view_show_family_choice(View* view, bool show) {
    gtk_widget_set_visible(view->familyRow, show);
}

void gtk_view_refresh_status_age(View* view) {
    char text[32] = "";
    if (view->statusChangedUs != 0) {
        const int64_t seconds = (g_get_monotonic_time() - view->statusChangedUs) / G_USEC_PER_SEC;
        std::snprintf(text, sizeof text, "(%lld s)", static_cast<long long>(seconds));
    }
    gtk_label_set_text(GTK_LABEL(view->statusAge), text);
}
