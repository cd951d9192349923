// A front end's loop around the app, written once for every face: the tick timer follows the
// app's wish for ticks, a close is the app's close (refused while the sensor is written), and
// the run's end is found after every call. The front end maps each AppLoopNext onto its own
// timer, window and session.
#pragma once

#include "app/app.h"
#include "app/window_model.h"

struct AppLoop {
    AppState* app;
    bool ticking;    // the front end's tick timer runs
    bool closeKept;  // a close nobody can be asked about again waits for the update's end
};

// What the loop does after a call into the app.
struct AppLoopNext {
    bool startTimer;    // start the tick timer, or set it again so that its period counts from now
    bool stopTimer;
    bool updating;      // the sensor is being written: the session's end is held off
    bool closeRefused;  // the close just asked for is refused: say why (a kept close, once)
    bool finished;      // the run is over: the window goes and the program ends with exitCode
    int exitCode;
};

// `timerRunning`: the front end started its tick timer with the window, before the app.
void AppLoopStart(AppLoop* loop, AppState* app, bool timerRunning);
AppLoopNext AppLoopTick(AppLoop* loop);
// Exit sets the timer again, so that the next tick comes a whole period after the press.
AppLoopNext AppLoopPress(AppLoop* loop, AppButton button);
// The window's close (`whenDone` false), or one nobody can be asked about again (a signal,
// the session's end), which is carried out once the update has ended.
AppLoopNext AppLoopClose(AppLoop* loop, bool whenDone);
// After anything else the app did on the loop: its start, the worker's end, a retry, a
// family chosen.
AppLoopNext AppLoopFollow(AppLoop* loop);
// The window's main action, as WindowActionFor names it, carried out: Update and Finish
// Update press Update, Retry looks at the sensor again, the model question opens, and the
// model picked in it is chosen (a refusal is the window's to show).
AppLoopNext AppLoopAct(AppLoop* loop, WindowModel* window);
// The window's other button: Cancel while the model question is open (back to the window,
// nothing chosen), else Exit.
AppLoopNext AppLoopDismiss(AppLoop* loop, WindowModel* window);
