// The window of zorflash-gtk, for a tablet owner with a pen: it says what Update would do
// before it is tapped, shows the run in words, and gets the owner out of an interrupted
// update. It draws the run's state (RunState) its own way; the texts every edition shows
// stay on it as the detail line, so that support can match them. Widgets are touched on the
// GTK thread only: calls from other threads wait in the view's mailbox for the loop.
#pragma once

#include <adwaita.h>
#include <libintl.h>

#include <cstdint>

#include "app/loop_mailbox.h"
#include "app/window_model.h"
#include "platform/view.h"

// The window's texts go through gettext, in the "zorflash" domain.
constexpr char kTextDomain[] = "zorflash";
#define _(text) dgettext(kTextDomain, text)

struct View {
    AdwApplication* application;
    GtkBuilder* builder;      // the window's widgets, by their ids in the builder file
    GtkWidget* window;        // null once the window is gone
    uint32_t inhibitCookie;   // gtk_application_inhibit's, 0 when not held
    uint32_t refreshSource;   // redraws the bar between its steps
    // What was drawn last, so that a redraw changes (and tells a screen reader) only what
    // changed: the bar moves a thousand times in an update.
    uint32_t drawnPermille;
    const char* drawnIcon;
    WindowModel model;
    LoopMailbox mailbox;      // calls from other threads, on their way to the GTK loop
    // Called on the loop after each piece of work the app hands to it (view_run_on_loop).
    void (*afterLoopWork)(void* owner);
    void* owner;
};

// Builds the window (hidden) for `application`.
void gtk_view_build(View* view, AdwApplication* application);
// The widget of the builder file's `id`.
GtkWidget* gtk_view_part(const View* view, const char* id);
// Runs what waits for the loop and takes the window down; from here on nothing more reaches
// the window.
void gtk_view_close(View* view);
// What the front end knows besides the view calls: whether the sensor is being written and
// whether a sensor in its boot loader waits for its model. Redraws.
void gtk_view_follow(View* view, bool updating, bool needsFamily);
// Shows that the window cannot close while the sensor is written.
void gtk_view_show_close_refused(View* view);
// Shows the platform's line that the sensor is there but may not be opened; from any thread.
void gtk_view_show_permission(View* view, const char* line);
// A message with one button, over the window; returns once it has been read.
void gtk_view_message(View* view, const char* heading, const char* text);
