// Shared between the main window and the update launch; not for the front ends.
#pragma once

#include "app/main_window.h"

// The sensor query: up to three IdentifySensor calls into state->sensor.
void QuerySensorOnce(MainWindowState* state);
// Ends the run with exit status 4 when the sensor query refused --family; true then.
bool EndOnFamilyRefusal(MainWindowState* state);
// The Update button.
void OnUpdateCommand(MainWindowState* state);
// A tick of an unattended run without a worker: starts it, or ends a run that cannot.
void OnUnattendedTick(MainWindowState* state);
// A tick while a worker is held: ends the program once the worker has ended, if it should.
void WatchWorker(MainWindowState* state);
