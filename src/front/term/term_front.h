// The terminal front end: the main dialog drawn in a terminal (or followed line by line when
// standard output is not a terminal), its keys, signals and loop, over the program driver.
// Both Linux terminal programs (zorflash, zorflash-sim) enter through here.
#pragma once

#include "app/program.h"

// The terminal's face: it prints every answer and refusal.
ProgramFace term_face();
// The whole program once ProgramTakeArguments has taken its options; returns the exit status.
int term_program(ProgramState* run);
