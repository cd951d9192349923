#include "front/term/term_report.h"

#include <cstdint>
#include <cstdio>

#include "platform/platform.h"

bool term_wants_json_report(const LongOptions& options) {
    return options.json || options.reportPath[0] != '\0';
}

void term_emit_json_report(const LongOptions& options, const JsonReport& report) {
    if (!term_wants_json_report(options)) return;
    static char text[kJsonReportCapacity];
    const size_t length = FormatJsonReport(report, text, sizeof text);
    if (options.json && length > 0) {
        std::fputs(text, stdout);
        std::fflush(stdout);
    }
    if (options.reportPath[0] == '\0') return;
    char reason[256] = "the report does not fit its buffer";
    if (length == 0 ||
        !plat_write_file_atomically(options.reportPath, reinterpret_cast<const uint8_t*>(text),
                                    length, reason, sizeof reason)) {
        std::fprintf(stderr, "%s: the report was not written to %s: %s\n", report.programName,
                     options.reportPath, reason);
    }
}
