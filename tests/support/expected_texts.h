// What the user is shown that the tests compare, written once on the tests' side: the
// window's caption and the status line's texts. They are not taken from the program's own
// tables, so that a wrong byte there fails here; the version is the build's
// (zorflash_version.h, from project(VERSION) of the top CMakeLists.txt). Macros, so that a
// test can join them into a longer literal ("Status : " TEXT_UPDATE_COMPLETE "\n") and put
// them in a table of literals.
#pragma once

#include "zorflash_version.h"

#define TEXT_CAPTION "Digitizer Firmware Update Utility Ver." ZORFLASH_VERSION

#define TEXT_UPDATING "Now Updating...."
#define TEXT_UPDATE_COMPLETE "Update complete."
#define TEXT_NO_CONNECTION "A connection was not established. Update can not be performed."
#define TEXT_UP_TO_DATE "The current version matches this version. No update is needed."
#define TEXT_VERSION_MISMATCH "Version Mismatch. This update is not appropriate for this system."
#define TEXT_MCU_MISMATCH "MCU Mismatch. This update is not appropriate for this system."
