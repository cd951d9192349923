#include "app/json_report.h"

#include <cstdio>
#include <cstring>

#include "app/reports.h"
#include "platform/records.h"
#include "update/firmware_catalogue.h"
#include "zorflash_version.h"

namespace {

constexpr unsigned kMaxDepth = 4;

// The text being written: containers open at `depth`, with how many members each has so far.
struct JsonText {
    char* text;
    size_t capacity;
    size_t length;
    bool full;
    unsigned depth;
    unsigned members[kMaxDepth + 1];
};

void Put(JsonText* out, const char* bytes, size_t count) {
    if (out->full || count >= out->capacity - out->length) {
        out->full = true;
        return;
    }
    std::memcpy(out->text + out->length, bytes, count);
    out->length += count;
}

void Put(JsonText* out, const char* text) { Put(out, text, std::strlen(text)); }

void Indent(JsonText* out, unsigned depth) {
    Put(out, "\n", 1);
    for (unsigned i = 0; i < depth; ++i) Put(out, "  ", 2);
}

void Open(JsonText* out, const char* bracket) {
    Put(out, bracket, 1);
    if (out->depth < kMaxDepth) ++out->depth;
    out->members[out->depth] = 0;
}

// An empty container closes on its own line's bracket: "{}", "[]".
void Close(JsonText* out, const char* bracket) {
    if (out->members[out->depth] > 0) Indent(out, out->depth - 1);
    --out->depth;
    Put(out, bracket, 1);
}

// Each member on a line of its own, after a comma from the one before.
void NextMember(JsonText* out) {
    if (out->members[out->depth]++ > 0) Put(out, ",", 1);
    Indent(out, out->depth);
}

// The length of the valid UTF-8 sequence that begins at `bytes` (1 to 4), or 0 when its
// first byte cannot begin one or a later byte does not continue it; `*bad` is then how many
// bytes the bad sequence spans (the byte that broke it is read again as a start).
size_t Utf8Sequence(const unsigned char* bytes, size_t count, size_t* bad) {
    const unsigned char first = bytes[0];
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the second byte's range
    if (first < 0x80) return 1;
    if (first >= 0xC2 && first <= 0xDF) {
        length = 2;
    } else if (first >= 0xE0 && first <= 0xEF) {
        length = 3;
        if (first == 0xE0) low = 0xA0;  // no overlong form
        if (first == 0xED) high = 0x9F;  // no surrogate
    } else if (first >= 0xF0 && first <= 0xF4) {
        length = 4;
        if (first == 0xF0) low = 0x90;
        if (first == 0xF4) high = 0x8F;  // nothing past U+10FFFF
    } else {
        *bad = 1;
        return 0;
    }
    for (size_t i = 1; i < length; ++i) {
        if (i >= count || bytes[i] < low || bytes[i] > high) {
            *bad = i;
            return 0;
        }
        low = 0x80;
        high = 0xBF;
    }
    return length;
}

void String(JsonText* out, const char* text) {
    Put(out, "\"", 1);
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text);
    const size_t count = std::strlen(text);
    for (size_t i = 0; i < count;) {
        size_t bad = 0;
        const size_t length = Utf8Sequence(bytes + i, count - i, &bad);
        if (length == 0) {
            Put(out, "\xEF\xBF\xBD", 3);
            i += bad;
            continue;
        }
        const unsigned char c = bytes[i];
        char escape[8] = "";
        switch (c) {
        case '\b': std::strcpy(escape, "\\b"); break;
        case '\t': std::strcpy(escape, "\\t"); break;
        case '\n': std::strcpy(escape, "\\n"); break;
        case '\f': std::strcpy(escape, "\\f"); break;
        case '\r': std::strcpy(escape, "\\r"); break;
        case '"': std::strcpy(escape, "\\\""); break;
        case '\\': std::strcpy(escape, "\\\\"); break;
        default:
            if (c <= 0x1F) std::snprintf(escape, sizeof escape, "\\u%04x", c);
            break;
        }
        if (escape[0] != '\0') {
            Put(out, escape);
        } else {
            Put(out, text + i, length);
        }
        i += length;
    }
    Put(out, "\"", 1);
}

void Key(JsonText* out, const char* name) {
    NextMember(out);
    String(out, name);
    Put(out, ": ", 2);
}

void StringMember(JsonText* out, const char* name, const char* value) {
    Key(out, name);
    String(out, value);
}

// A text that may be missing: null when it is empty.
void StringOrNullMember(JsonText* out, const char* name, const char* value) {
    Key(out, name);
    if (value[0] != '\0') {
        String(out, value);
    } else {
        Put(out, "null");
    }
}

void NumberMember(JsonText* out, const char* name, long long value) {
    char digits[24];
    std::snprintf(digits, sizeof digits, "%lld", value);
    Key(out, name);
    Put(out, digits);
}

// Milliseconds as seconds in their shortest decimal form, always with a fraction ("5.0").
void SecondsMember(JsonText* out, const char* name, uint32_t milliseconds) {
    char digits[24];
    int length = std::snprintf(digits, sizeof digits, "%u.%03u", milliseconds / 1000,
                               milliseconds % 1000);
    while (length > 0 && digits[length - 1] == '0' && digits[length - 2] != '.') --length;
    Key(out, name);
    Put(out, digits, static_cast<size_t>(length));
}

void VersionMember(JsonText* out, const char* name, const SensorInfo& sensor) {
    char text[kVersionTextCapacity];
    FormatCurrentVersion(sensor, kUnknownVersion, text, sizeof text);
    StringMember(out, name, text);
}

const char* EndWords(UpdateEnd end) {
    switch (end) {
    case UpdateEnd::NoSensor: return "no sensor";
    case UpdateEnd::FamilyUnknown: return "family unknown";
    case UpdateEnd::UpToDate: return "up to date";
    case UpdateEnd::Mismatch: return "does not fit";
    case UpdateEnd::NoImage: return "no image";
    case UpdateEnd::Updated: return "updated";
    case UpdateEnd::NotBack: return "not back";
    case UpdateEnd::Failed: return "failed";
    case UpdateEnd::NotRun: break;
    }
    return "not run";
}

void SensorMember(JsonText* out, const SensorInfo& sensor) {
    Key(out, "sensor");
    const char* mode = SensorModeWords(sensor);
    if (mode == nullptr) {
        Put(out, "null");
        return;
    }
    char product[8];
    std::snprintf(product, sizeof product, "0x%04X", sensor.productId);
    Open(out, "{");
    if (sensor.kind == kSensorNone) {
        Key(out, "family");
        Put(out, "null");
    } else {
        NumberMember(out, "family", sensor.kind);
    }
    StringMember(out, "productId", product);
    StringMember(out, "mode", mode);
    VersionMember(out, "version", sensor);
    Close(out, "}");
}

void SensorMembers(JsonText* out, const SensorInfo& sensor) {
    SensorMember(out, sensor);
    if (sensor.kind != kSensorNone) {
        char carried[kVersionTextCapacity];
        FormatNewVersion(sensor.kind, carried, sizeof carried);
        StringMember(out, "carriedVersion", carried);
    } else {
        Key(out, "carriedVersion");
        Put(out, "null");
    }
    StringMember(out, "verdict", VerdictWords(VerdictFor(sensor)));
    // The places the family rests on, as --info lists them, one string a line.
    static char records[kRecordsTextCapacity];
    plat_describe_products_met(records, sizeof records);
    Key(out, "records");
    Open(out, "[");
    char line[kRecordsTextCapacity];
    for (const char* at = records; *at != '\0';) {
        const char* feed = std::strchr(at, '\n');
        const size_t length = feed != nullptr ? static_cast<size_t>(feed - at) : std::strlen(at);
        std::memcpy(line, at, length);
        line[length] = '\0';
        NextMember(out);
        String(out, line);
        at += length + (feed != nullptr ? 1 : 0);
    }
    Close(out, "]");
}

void UpdateMember(JsonText* out, const UpdateOutcome& outcome) {
    Key(out, "update");
    Open(out, "{");
    StringMember(out, "end", EndWords(outcome.end));
    NumberMember(out, "result", static_cast<uint32_t>(outcome.result));
    StringMember(out, "status", outcome.status != nullptr ? outcome.status : "");
    VersionMember(out, "versionBefore", outcome.before);
    VersionMember(out, "versionAfter", outcome.after);
    NumberMember(out, "attempts", outcome.attempts);
    StringOrNullMember(out, "sha256", outcome.sha256);
    SecondsMember(out, "seconds", outcome.elapsedMs);
    Close(out, "}");
}

void ImagesMember(JsonText* out, const ImageSourceDescription* images) {
    Key(out, "images");
    Open(out, "[");
    for (unsigned i = 0; i < 2; ++i) {
        const ImageSourceDescription& image = images[i];
        const char letter[2] = {image.letter, '\0'};
        NextMember(out);
        Open(out, "{");
        StringMember(out, "image", letter);
        NumberMember(out, "family", image.family);
        StringMember(out, "firmwareVersion", image.version);
        StringMember(out, "source", image.source);
        StringOrNullMember(out, "path", image.path);
        StringOrNullMember(out, "sha256", image.sha256);
        if (image.problem[0] != '\0') StringMember(out, "problem", image.problem);
        Close(out, "}");
    }
    Close(out, "]");
}

}  // namespace

size_t FormatJsonReport(const JsonReport& report, char* text, size_t capacity) {
    if (capacity == 0) return 0;
    JsonText out = {text, capacity, 0, false, 0, {}};
    Open(&out, "{");
    StringMember(&out, "program", report.programName);
    StringMember(&out, "programVersion", ZORFLASH_VERSION);
    if (report.running) {
        Key(&out, "exitStatus");
        Put(&out, "null");
    } else {
        NumberMember(&out, "exitStatus", report.exitStatus);
    }
    if (report.sensor != nullptr) SensorMembers(&out, *report.sensor);
    if (report.update != nullptr) UpdateMember(&out, *report.update);
    if (report.help != nullptr) StringMember(&out, "help", report.help);
    if (report.images != nullptr) ImagesMember(&out, report.images);
    if (report.error != nullptr) StringMember(&out, "error", report.error);
    if (report.runId != nullptr) {
        StringMember(&out, "state", report.running ? "running" : "ended");
        StringMember(&out, "runId", report.runId);
        StringMember(&out, "startTime", report.startTime != nullptr ? report.startTime : "");
    }
    Close(&out, "}");
    Put(&out, "\n", 1);
    if (out.full) {
        text[0] = '\0';
        return 0;
    }
    text[out.length] = '\0';
    return out.length;
}
