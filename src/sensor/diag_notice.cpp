// The platform's notices worded as diagnostic lines, framed as the core frames its own, under
// the name of what the core was doing when the platform met them.
#include <cstdio>

#include "platform/system.h"
#include "sensor/diag_log.h"

namespace {

struct NoticeWording {
    PlatNoticeKind kind;
    const char* moduleText;
    const char* what;  // the record's notices: what became of the record
};

constexpr NoticeWording kNoticeWordings[] = {
    {PlatNoticeKind::NoPermission, "Module Name : OpenHidDevice", ""},
    {PlatNoticeKind::RecordIgnored, "Module Name : ProductsMet", "is ignored"},
    {PlatNoticeKind::RecordUnreadable, "Module Name : ProductsMet", "cannot be read"},
    {PlatNoticeKind::RecordNotWritten, "Module Name : ProductsMet", "cannot be written"},
};

const NoticeWording& WordingOf(PlatNoticeKind kind) {
    for (const NoticeWording& wording : kNoticeWordings) {
        if (wording.kind == kind) return wording;
    }
    return kNoticeWordings[0];
}

void WriteNotice(const PlatNotice& notice, void* context) {
    const DiagnosticLog* log = static_cast<const DiagnosticLog*>(context);
    char message[kDiagLineCapacity];
    FormatNotice(notice, message, sizeof message);
    LogDiagnostic(0, message, WordingOf(notice.kind).moduleText, false);
    if (log->hook != nullptr) log->hook(notice, message, log->context);
}

}  // namespace

size_t FormatNotice(const PlatNotice& notice, char* text, size_t capacity) {
    if (capacity == 0) return 0;
    int length = 0;
    if (notice.kind == PlatNoticeKind::NoPermission) {
        length = std::snprintf(text, capacity,
                               "No permission to open %s (sensor %04x:%04x): install the udev "
                               "rule %s and plug the sensor in again",
                               notice.place, notice.vendorId, notice.productId, notice.rule);
    } else {
        // A path too long for the line is cut: the line stays one line.
        length = std::snprintf(text, capacity, "The record of the sensors met in %s %s: %s",
                               notice.place, WordingOf(notice.kind).what, notice.reason);
    }
    if (length < 0) {
        text[0] = '\0';
        return 0;
    }
    return static_cast<size_t>(length) < capacity ? static_cast<size_t>(length) : capacity - 1;
}

void StartDiagnosticLog(DiagnosticLog* log) { plat_set_notice_handler(WriteNotice, log); }
