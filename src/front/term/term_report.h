// The JSON report of --info, --update, --help and --version: with --json one object on
// standard output and nothing else there; with --report FILE the same object in FILE.
#pragma once

#include "app/json_report.h"
#include "app/long_options.h"

// Prints and writes the report as `options` ask (nothing when they ask for neither). A file
// that cannot be written is told in one line on standard error; the exit status stays.
void term_emit_json_report(const LongOptions& options, const JsonReport& report);
// True when `options` ask for the report in either place.
bool term_wants_json_report(const LongOptions& options);
