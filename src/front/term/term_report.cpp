#include "front/term/term_report.h"

#include <cstdint>
#include <cstdio>

#include "platform/system.h"

namespace {

// One run per process, reported from the main thread: its stamp, taken at its first report,
// and whether the start object could not be written (its reason was told then).
RunStamp runStamp;
bool stamped = false;
bool startRefused = false;

const RunStamp& Stamp() {
    if (!stamped) plat_run_stamp(&runStamp);
    stamped = true;
    return runStamp;
}

// The report into --report's file; false, with the reason told on standard error, when it
// could not be written.
bool WriteReportFile(const LongOptions& options, const char* programName, const char* text,
                     size_t length) {
    char reason[256] = "the report does not fit its buffer";
    if (length > 0 &&
        plat_write_file_atomically(options.reportPath, reinterpret_cast<const uint8_t*>(text),
                                   length, reason, sizeof reason)) {
        return true;
    }
    std::fprintf(stderr, "%s: the report was not written to %s: %s\n", programName,
                 options.reportPath, reason);
    return false;
}

}  // namespace

bool term_wants_json_report(const LongOptions& options) {
    return options.json || options.reportPath[0] != '\0';
}

void term_begin_json_report(const LongOptions& options, const char* programName) {
    if (options.reportPath[0] == '\0') return;
    JsonReport start{programName, 0, nullptr, nullptr, nullptr};
    start.runId = Stamp().runId;
    start.startTime = Stamp().startTime;
    start.running = true;
    static char text[kJsonReportCapacity];
    const size_t length = FormatJsonReport(start, text, sizeof text);
    startRefused = !WriteReportFile(options, programName, text, length);
}

void term_emit_json_report(const LongOptions& options, const JsonReport& report) {
    if (!term_wants_json_report(options)) return;
    JsonReport withStamp = report;
    withStamp.runId = Stamp().runId;
    withStamp.startTime = Stamp().startTime;
    static char text[kJsonReportCapacity];
    const size_t length = FormatJsonReport(withStamp, text, sizeof text);
    if (options.json && length > 0) {
        std::fputs(text, stdout);
        std::fflush(stdout);
    }
    if (options.reportPath[0] == '\0' || startRefused) return;
    WriteReportFile(options, report.programName, text, length);
}
