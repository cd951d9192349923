// The JSON report of --info, --update, --help and --version: with --json one object on
// standard output and nothing else there; with --report FILE the same object in FILE.
#pragma once

#include "app/json_report.h"
#include "app/long_options.h"

// As a run begins (its command line accepted, before the lock and the sensor): replaces
// --report's FILE with the start object ("exitStatus": null, "state": "running"), so that a
// run refused, failed or killed later never leaves an earlier run's report there. A file that
// cannot be written is told in one line on standard error, and the final report is then not
// tried again.
void term_begin_json_report(const LongOptions& options, const char* programName);
// Prints and writes the report as `options` ask (nothing when they ask for neither), with the
// run's id and start time. A file that cannot be written is told in one line on standard
// error; the exit status stays.
void term_emit_json_report(const LongOptions& options, const JsonReport& report);
// True when `options` ask for the report in either place.
bool term_wants_json_report(const LongOptions& options);
