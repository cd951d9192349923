// Shared between the main window and the update launch; not for the platforms.
#pragma once

// Set once the sensor has been queried in this run.
extern bool sensorQueried;
// Set by an Exit command that arrived while the worker was still running.
extern bool exitRequested;

// The sensor query of the first tick: up to three IdentifySensor calls into sensorInfo.
void QuerySensorOnce();
// Empties both update requests (tests run many programs in one process).
void ResetUpdateRequests();
