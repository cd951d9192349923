// The GTK 4 window of zorflash-gtk: the view the app draws on, and what the front end's loop
// needs of it. Widgets are touched on the GTK main thread only; the view calls that arrive
// from other threads are carried out there (gtk_view.cpp).
#pragma once

#include <gtk/gtk.h>

#include <cstdint>

#include "app/loop_mailbox.h"
#include "platform/view.h"

struct View {
    GtkApplication* application;
    GtkWidget* window;              // null once the window is gone
    GtkWidget* texts[4];            // by ViewText: current, new, status, notice
    GtkWidget* statusAge;           // "(12 s)": seconds since the status line last changed
    GtkWidget* buttons[2];          // by ViewButton: Update, Exit
    GtkWidget* progress;
    GtkWidget* familyRow;           // shown while the update waits for the sensor's family
    GtkWidget* familyButtons[2];
    GtkWidget* note;                // why a close or a family was refused
    GtkWidget* permission;          // the platform's line when the sensor cannot be opened
    LoopMailbox mailbox;            // calls from other threads, on their way to the GTK loop
    int64_t statusChangedUs;        // monotonic time of the last status change; 0: none yet
    uint32_t inhibitCookie;         // gtk_application_inhibit's, 0 when not held
    // Called on the loop after each piece of work the app hands to it (view_run_on_loop).
    void (*afterLoopWork)(void* owner);
    void* owner;
};

// Builds the window (hidden) and its controls for `application`.
void gtk_view_build(View* view, GtkApplication* application, const char* title);
// Runs what waits for the loop; from here on nothing more reaches the window.
void gtk_view_close(View* view);
// Shows `text` under the status line until the status line changes (a refusal).
void gtk_view_show_note(View* view, const char* text);
// Shows the platform's line that the sensor is there but may not be opened.
void gtk_view_show_permission(View* view, const char* text);
// Shows or hides the two family buttons.
void gtk_view_show_family_choice(View* view, bool show);
// A message with an OK button, modal over the window; returns once it has been read.
void gtk_view_message(View* view, const char* text, const char* caption);
// Asks the session not to suspend or log out while on, with the window's reason.
void gtk_view_inhibit(View* view, bool on);
// Refreshes the seconds beside the status line.
void gtk_view_refresh_status_age(View* view);
