// The terminal front end: the main dialog drawn in a terminal (or followed line by line when
// standard output is not a terminal), its keys, signals and loop, over the program driver.
// Both Linux terminal programs (zorflash, zorflash-sim) enter through here.
#pragma once

#include <cstdio>

#include "app/app.h"
#include "app/program.h"

// How the terminal prints: answers on standard output, the rest on standard error.
ProgramFace term_face();

// Takes the program's arguments into `run`, with where its images come from beside the
// carried ones (null: nowhere) and its instance lock, which outlives the run.
void term_take_arguments(ProgramState* run, const Edition& edition, const char* firmwareDirectory,
                         const char* lockPath, int argc, char** argv);

// The whole program once ProgramTakeArguments has taken the options into `run` (with its
// firmware and lock path): the answers, the lock, --info, the dialog's run and the report.
// Returns the exit status.
int term_program(ProgramState* run);

// The dialog, keys, signals and update worker, the lock already held; the window's lines go
// to `display`. Returns the exit code.
int term_run(ProgramState* run, AppState* app, FILE* display);
