// The terminal front end: the main dialog drawn in a terminal (or followed line by line when
// standard output is not a terminal), its keys, signals and loop, over the program driver.
// Both Linux terminal programs (zorflash, zorflash-sim) enter through here.
#pragma once

#include "app/program.h"

// The terminal's face: every answer and refusal printed, its loop the dialog drawn in the
// terminal with its keys and signals.
ProgramFace term_face();

// The whole program of a terminal edition once ProgramTakeArguments has taken its options.
// Returns the exit status.
int term_program(ProgramState* run);
