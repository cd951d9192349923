// The window of zorflash-gtk, for a tablet owner with a pen: it says what Update would do
// before it is tapped, shows the run in words, and gets the owner out of an interrupted
// update. It draws the run's state (RunState) its own way; the texts every edition shows
// stay on it as the detail line, so that support can match them. Widgets are touched on the
// GTK thread only: calls from other threads wait in the view's mailbox for the loop.
#pragma once

#include <adwaita.h>

#include <cstdint>

#include "app/loop_mailbox.h"
#include "platform/view.h"

constexpr size_t kGtkTextCapacity = 512;
constexpr size_t kGtkLineCapacity = 3072;

// What the window knows of the run; every change redraws the window from it.
struct GtkWindowModel {
    char texts[4][kGtkTextCapacity];  // by ViewText: what every edition shows
    RunState state;                   // the latest
    RunVerdict verdict;               // the first look's
    uint32_t estimateMs;              // the first look's estimate of an update
    bool lookedAlready;               // the first look has ended
    bool updating;                    // the sensor is being written (Close is refused)
    bool wroteSomething;              // an update of this run reached the erase
    bool needsFamily;                 // a sensor in its boot loader waits for its model
    bool choosingModel;               // the model question is on show
    uint16_t pickedModel;             // the model picked in it; kSensorNone: none yet
    int64_t stageSinceUs;             // when the stage last changed (monotonic)
    char refusal[kGtkLineCapacity];   // why a close or a model was refused; "" when not
    char permission[kGtkLineCapacity];  // the platform's line when the node may not be opened
};

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
    GtkWindowModel model;
    LoopMailbox mailbox;      // calls from other threads, on their way to the GTK loop
    // Called on the loop after each piece of work the app hands to it (view_run_on_loop).
    void (*afterLoopWork)(void* owner);
    void* owner;
};

// What the main action button does now.
enum class GtkAction : uint8_t { None, Update, Retry, Recover, ChooseModel, WriteChosenModel };

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
bool gtk_view_choosing_model(const View* view);
uint16_t gtk_view_picked_model(const View* view);
// What tapping the main action button does now.
GtkAction gtk_view_action(const View* view);
// A message with one button, over the window; returns once it has been read.
void gtk_view_message(View* view, const char* heading, const char* text);
// Redraws what changes with time alone: the bar between steps.
void gtk_view_refresh(View* view);
