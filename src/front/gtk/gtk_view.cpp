// The window over GTK 4 and libadwaita. The app calls the view from the update worker as
// well as from the GTK thread; a call from another thread waits in the view's mailbox until
// the loop has carried it out. Each call changes the window's model, and the window is drawn
// again from the model as a whole, so that what it shows never depends on the order of calls.
#include "front/gtk/gtk_view.h"

#include <cstdio>
#include <cstring>

#include "app/app.h"
#include "front/gtk/window_ui.h"
#include "sensor/update_result.h"

namespace {

// The builder file's ids of each version row's caption and value, and of the model options.
const char* const kRowIds[2][2] = {{"caption0", "version0"}, {"caption1", "version1"}};
const char* const kModelOptionIds[2] = {"modelOption0", "modelOption1"};

GtkWidget* Part(const View* view, const char* id) { return gtk_view_part(view, id); }

// The icon for each of the model's pictures, by WindowIcon.
const char* const kIconNames[] = {
    "content-loading-symbolic",          "dialog-question-symbolic",
    "software-update-available-symbolic", "emblem-ok-symbolic",
    "dialog-warning-symbolic",           "dialog-error-symbolic",
    "dialog-password-symbolic",          "software-update-urgent-symbolic",
};

// "about 15 seconds", "about 2 minutes".
void FormatDuration(uint32_t ms, char* text, size_t capacity) {
    const uint32_t seconds = (ms + 4999) / 5000 * 5;
    if (seconds < 90) {
        std::snprintf(text, capacity, dngettext(kTextDomain, "%u second", "%u seconds", seconds), seconds);
    } else {
        const uint32_t minutes = (seconds + 30) / 60;
        std::snprintf(text, capacity, dngettext(kTextDomain, "%u minute", "%u minutes", minutes), minutes);
    }
}

// ---- Drawing the model --------------------------------------------------------------------

void SetText(GtkWidget* label, const char* text) {
    if (std::strcmp(gtk_label_get_text(GTK_LABEL(label)), text) != 0) {
        gtk_label_set_text(GTK_LABEL(label), text);
    }
}

// An area keeps its height whether its content shows or not, so nothing below it moves
// under the pen; what does not show is not there for a screen reader either.
void ShowPage(GtkWidget* area, bool shown) {
    gtk_widget_set_visible(gtk_widget_get_first_child(area), shown);
}

uint64_t NowMs() { return static_cast<uint64_t>(g_get_monotonic_time() / 1000); }

uint32_t MsSince(uint64_t sinceMs) {
    const uint64_t now = NowMs();
    return now > sinceMs ? static_cast<uint32_t>(now - sinceMs) : 0;
}

void SetButtonLabel(GtkWidget* button, const char* label) {
    if (std::strcmp(gtk_button_get_label(GTK_BUTTON(button)), label) != 0) {
        gtk_button_set_label(GTK_BUTTON(button), label);
    }
}

void SetClass(GtkWidget* widget, const char* cssClass, bool on) {
    (on ? gtk_widget_add_css_class : gtk_widget_remove_css_class)(widget, cssClass);
}

void DrawProgress(View* view) {
    const WindowModel& model = view->model;
    const RunState& state = model.state;
    ShowPage(Part(view, "progressArea"), WindowShowsBar(model));
    if (!WindowShowsBar(model)) return;
    const uint32_t permille = RunBarPermille(state, MsSince(model.stageSinceMs), model.estimateMs);
    const bool percentChanged = permille / 10 != view->drawnPermille / 10;
    if (permille != view->drawnPermille) {
        gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(Part(view, "progress")), permille / 1000.0);
        view->drawnPermille = permille;
    }
    char line[256];
    if (WindowSucceeded(model)) {
        std::snprintf(line, sizeof line, "%s", _("Done"));
    } else if (state.stage == RunStage::Ready || state.stage == RunStage::Ended) {
        return;  // between attempts and at the end the line stays as the stage left it
    } else {
        const int written = std::snprintf(line, sizeof line, "%s", _(WindowStageWords(state.stage)));
        if (state.attempt > 1 && written > 0) {
            std::snprintf(line + written, sizeof line - static_cast<size_t>(written),
                          _(" · attempt %u of %u"), state.attempt, state.attemptLimit);
        }
    }
    const bool stageChanged = std::strcmp(gtk_label_get_text(GTK_LABEL(Part(view, "stageLine"))), line) != 0;
    SetText(Part(view, "stageLine"), line);
    if (!percentChanged && !stageChanged) return;
    char value[320];
    std::snprintf(value, sizeof value, _("%s, %u percent"), line, permille / 10);
    gtk_accessible_update_property(GTK_ACCESSIBLE(Part(view, "progress")),
                                   GTK_ACCESSIBLE_PROPERTY_VALUE_TEXT, value, -1);
}

void Draw(View* view) {
    if (view->window == nullptr) return;
    const WindowModel& model = view->model;
    const WindowWords& words = WindowWordsFor(model);
    const char* icon = kIconNames[static_cast<int>(words.icon)];
    if (icon != view->drawnIcon) {
        gtk_image_set_from_icon_name(GTK_IMAGE(Part(view, "icon")), icon);
        view->drawnIcon = icon;
    }
    SetText(Part(view, "headline"), _(words.headline));
    char explanation[1024];
    char duration[64];
    FormatDuration(model.estimateMs, duration, sizeof duration);
    std::snprintf(explanation, sizeof explanation, _(words.explanation), duration);
    SetText(Part(view, "explanation"), explanation);

    gtk_widget_set_visible(Part(view, "modelChoice"), model.choosingModel);
    // Closed, the question forgets its pick: it opens again with nothing picked.
    if (!model.choosingModel) {
        for (const char* option : kModelOptionIds) {
            gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(Part(view, option)), FALSE);
        }
    }
    for (int row = 0; row < 2; ++row) {
        const char* version = WindowVersion(model, row);
        gtk_widget_set_visible(Part(view, kRowIds[row][0]), version != nullptr);
        gtk_widget_set_visible(Part(view, kRowIds[row][1]), version != nullptr);
        if (version != nullptr) SetText(Part(view, kRowIds[row][1]), version);
    }
    DrawProgress(view);

    ShowPage(Part(view, "noteArea"), model.refusal[0] != '\0');
    if (model.refusal[0] != '\0') SetText(Part(view, "note"), model.refusal);
    const char* detail = WindowDetail(model);
    gtk_widget_set_visible(Part(view, "detail"), detail[0] != '\0');
    SetText(Part(view, "detail"), detail);

    // The main action: offered only when there is something to do, styled as the window's
    // suggested action except the model choice, which is never a one-tap answer.
    const WindowAction action = WindowActionFor(model);
    gtk_widget_set_visible(Part(view, "actionButton"), action != WindowAction::None);
    if (action != WindowAction::None) {
        SetButtonLabel(Part(view, "actionButton"), _(WindowActionLabel(action)));
        SetClass(Part(view, "actionButton"), "suggested-action",
                 action != WindowAction::ChooseModel && action != WindowAction::WriteChosenModel);
        SetClass(Part(view, "actionButton"), "destructive-action", action == WindowAction::WriteChosenModel);
    }
    gtk_widget_set_sensitive(Part(view, "actionButton"), WindowActionReady(model));
    SetButtonLabel(Part(view, "closeButton"), model.choosingModel ? _("Cancel") : _("Close"));
    gtk_widget_set_sensitive(Part(view, "closeButton"), !model.updating);
}

// ---- Calls from other threads -------------------------------------------------------------

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

// Carries `change` out on the GTK thread, while the window is there (a worker may still
// report once it is gone, and nothing is left to show it), then redraws.
template <typename Change>
void Carry(View* view, Change change) {
    LoopMailboxChange(&view->mailbox, [view, &change] {
        if (view->window == nullptr) return;
        change(&view->model);
        Draw(view);
    });
}

void KeepAwake(View* view, bool on) {
    if (on && view->inhibitCookie == 0) {
        // 0 where no session manager answers (a bare X server): nothing more can be done.
        view->inhibitCookie = gtk_application_inhibit(
            GTK_APPLICATION(view->application), GTK_WINDOW(view->window),
            static_cast<GtkApplicationInhibitFlags>(GTK_APPLICATION_INHIBIT_SUSPEND |
                                                    GTK_APPLICATION_INHIBIT_LOGOUT),
            _("The pen sensor's firmware is being updated. Shutting down now can leave the pen "
              "unusable."));
    } else if (!on && view->inhibitCookie != 0) {
        gtk_application_uninhibit(GTK_APPLICATION(view->application), view->inhibitCookie);
        view->inhibitCookie = 0;
    }
}

// What moves with time alone while the sensor is written: the bar between its steps.
gboolean Refresh(gpointer data) {
    View* view = static_cast<View*>(data);
    if (view->model.updating) Draw(view);
    return G_SOURCE_CONTINUE;
}

// ---- Building -----------------------------------------------------------------------------

void OnModelPicked(GtkToggleButton*, gpointer data) {
    View* view = static_cast<View*>(data);
    if (!view->model.choosingModel) return;
    view->model.pickedModel = kSensorNone;
    for (uint16_t family = kSensorFamily0; family <= kSensorFamily1; ++family) {
        if (gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(Part(view, kModelOptionIds[family])))) {
            view->model.pickedModel = family;
        }
    }
    Draw(view);
}

}  // namespace

// ---- view.h -------------------------------------------------------------------------------

void view_show_text(View* view, ViewText field, const char* text) {
    Carry(view, [=](WindowModel* model) { WindowTakeText(model, field, text); });
}

// The window decides its own buttons from the run's state.
void view_enable_button(View*, ViewButton, bool) {}
void view_enable_progress(View*, bool) {}

void view_show_progress(View* view, uint32_t done, uint32_t total, bool) {
    Carry(view, [=](WindowModel* model) { WindowTakeProgress(model, done, total); });
}

void view_show_window(View* view, bool show) {
    Carry(view, [=](WindowModel*) {
        if (show) {
            gtk_window_present(GTK_WINDOW(view->window));
        } else {
            gtk_widget_set_visible(view->window, FALSE);
        }
    });
}

void view_show_state(View* view, const RunState& state) {
    Carry(view, [state](WindowModel* model) { WindowTakeState(model, state, NowMs()); });
}

void view_show_error(View* view, ViewError error) {
    switch (error) {
    case ViewError::UpdateNotStarted:
        gtk_view_message(view, _("The update could not start"),
                         StatusTextFor(StatusText::UpdateNotStarted));
        break;
    }
}

void view_run_on_loop(View* view, void (*work)(void*), void* argument) {
    LoopMailboxPost(&view->mailbox, work, argument);
}

// ---- The front end's side -----------------------------------------------------------------

void gtk_view_close(View* view) {
    KeepAwake(view, false);
    LoopMailboxClose(&view->mailbox);
    if (view->refreshSource != 0) g_source_remove(view->refreshSource);
    view->refreshSource = 0;
    GtkWidget* window = view->window;
    // From here on a late view call finds no window and shows nothing.
    view->window = nullptr;
    if (window != nullptr) gtk_window_destroy(GTK_WINDOW(window));
    // The builder holds the last references to what the window no longer does.
    if (view->builder != nullptr) g_object_unref(view->builder);
    view->builder = nullptr;
}

void gtk_view_follow(View* view, bool updating, bool needsFamily) {
    if (view->window == nullptr) return;
    // The session is asked to wait, with the window's reason, while the sensor is written.
    KeepAwake(view, updating);
    WindowFollow(&view->model, updating, needsFamily);
    Draw(view);
}

void gtk_view_show_close_refused(View* view) {
    if (view->window == nullptr) return;
    WindowTakeRefusal(&view->model, _("The sensor is being written: the window cannot close "
                                      "until the update has ended."));
    Draw(view);
}

void gtk_view_show_permission(View* view, const char* line) {
    Carry(view, [=](WindowModel* model) { WindowTakePermission(model, line); });
}

namespace {

void OnMessageRead(AdwMessageDialog*, const char*, gpointer data) { *static_cast<bool*>(data) = true; }

}  // namespace

void gtk_view_message(View* view, const char* heading, const char* text) {
    Carry(view, [=](WindowModel*) {
        GtkWidget* dialog = adw_message_dialog_new(
            gtk_widget_get_visible(view->window) ? GTK_WINDOW(view->window) : nullptr, heading, text);
        adw_message_dialog_add_response(ADW_MESSAGE_DIALOG(dialog), "close", _("Close"));
        bool read = false;
        g_signal_connect(dialog, "response", G_CALLBACK(OnMessageRead), &read);
        gtk_window_present(GTK_WINDOW(dialog));
        while (!read) g_main_context_iteration(nullptr, TRUE);
    });
}

void gtk_view_build(View* view, AdwApplication* application) {
    view->application = application;
    view->inhibitCookie = 0;
    WindowModelReset(&view->model);
    view->drawnPermille = 1001;
    view->drawnIcon = nullptr;
    LoopMailboxOpen(&view->mailbox, WakeLoop, view);
    // The widgets and their layout are the window's builder file's; the types it names of
    // libadwaita are made known first.
    g_type_ensure(ADW_TYPE_APPLICATION_WINDOW);
    g_type_ensure(ADW_TYPE_HEADER_BAR);
    g_type_ensure(ADW_TYPE_CLAMP);
    view->builder = gtk_builder_new_from_string(kWindowUi, -1);
    view->window = Part(view, "window");
    gtk_window_set_application(GTK_WINDOW(view->window), GTK_APPLICATION(application));
    for (uint16_t family = kSensorFamily0; family <= kSensorFamily1; ++family) {
        GtkWidget* option = Part(view, kModelOptionIds[family]);
        gtk_button_set_label(GTK_BUTTON(option), _(WindowModelOption(family)));
        g_signal_connect(option, "toggled", G_CALLBACK(OnModelPicked), view);
    }
    view->refreshSource = g_timeout_add(250, Refresh, view);
    Draw(view);
}

GtkWidget* gtk_view_part(const View* view, const char* id) {
    return GTK_WIDGET(gtk_builder_get_object(view->builder, id));
}
