// The window of zorflash-gtk, for a tablet owner with a pen: it says what Update would do
// before it is tapped, shows the run in words, and gets the owner out of an interrupted
// update. It draws the run's state (RunState) its own way; the texts every edition shows
// stay on it as the detail line, so that support can match them. Widgets are touched on the
// GTK thread only: calls from other threads wait in the view's mailbox for the loop.
#pragma once

#include <adwaita.h>

#include <cstdint>

#include "app/loop_mailbox.h"
#include "app/window_model.h"
#include "platform/view.h"

struct View {
    AdwApplication* application;
    GtkWidget* window;        // null once the window is gone
    GtkWidget* icon;
    GtkWidget* headline;
    GtkWidget* explanation;
    GtkWidget* captions[2];   // installed version, new version
    GtkWidget* versions[2];   // by ViewText: CurrentVersion, NewVersion
    GtkWidget* modelChoice;   // the model question's two options
    GtkWidget* modelOptions[2];
    GtkWidget* progressArea;  // a stack: the bar while an update runs, else nothing
    GtkWidget* stageLine;     // the stage in words, the attempt and the time left
    GtkWidget* progress;
    GtkWidget* noteArea;      // a stack: the refusal, or nothing
    GtkWidget* note;
    GtkWidget* detail;        // the status line every edition shows
    GtkWidget* closeButton;
    GtkWidget* actionButton;  // Update, Retry, Finish Update, Choose Sensor Model…
    uint32_t inhibitCookie;   // gtk_application_inhibit's, 0 when not held
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
// Runs what waits for the loop; from here on nothing more reaches the window.
void gtk_view_close(View* view);
// What the front end knows besides the view calls: whether the sensor is being written and
// whether a sensor in its boot loader waits for its model. Redraws.
void gtk_view_follow(View* view, bool updating, bool needsFamily);
// Shows why the chosen model was refused, or (`text` null) that the window cannot close
// while the sensor is written; "" clears it.
void gtk_view_show_refusal(View* view, const char* text);
// Shows the platform's line that the sensor is there but may not be opened; from any thread.
void gtk_view_show_permission(View* view, const char* line);
// The model question of a sensor whose family nothing tells: a step of its own, with a
// warning, where Write Firmware is offered only once a model is picked.
void gtk_view_choose_model(View* view, bool on);
// A message with one button, over the window; returns once it has been read.
void gtk_view_message(View* view, const char* heading, const char* text);
// Redraws what changes with time alone: the bar between steps.
void gtk_view_refresh(View* view);
