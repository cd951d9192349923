#include "front/term/term_report.h"

#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>

#include "app/reports.h"
#include "platform/platform.h"
#include "update/firmware_catalogue.h"
#include "zorflash_version.h"

namespace {

using Json = nlohmann::ordered_json;

std::string VersionText(const SensorInfo& sensor) {
    char text[kVersionTextCapacity];
    FormatCurrentVersion(sensor, "????", text, sizeof text);
    return text;
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

Json SensorJson(const SensorInfo& sensor) {
    const char* mode = SensorModeWords(sensor);
    if (mode == nullptr) return nullptr;
    char product[8];
    std::snprintf(product, sizeof product, "0x%04X", sensor.productId);
    Json json;
    json["family"] = sensor.kind == kSensorNone ? Json(nullptr) : Json(sensor.kind);
    json["productId"] = product;
    json["mode"] = mode;
    json["version"] = VersionText(sensor);
    return json;
}

}  // namespace

void PrintJsonReport(const TermReport& report) {
    Json json;
    json["program"] = report.programName;
    json["programVersion"] = ZORFLASH_VERSION;
    json["exitStatus"] = report.exitStatus;
    if (report.sensor != nullptr) {
        const SensorInfo& sensor = *report.sensor;
        json["sensor"] = SensorJson(sensor);
        if (sensor.kind != kSensorNone) {
            char carried[kVersionTextCapacity];
            FormatNewVersion(sensor.kind, carried, sizeof carried);
            json["carriedVersion"] = carried;
        } else {
            json["carriedVersion"] = nullptr;
        }
        json["verdict"] = VerdictWords(VerdictFor(sensor));
        // The places the family rests on, as --info lists them.
        char records[kRecordsTextCapacity];
        plat_describe_products_met(records, sizeof records);
        Json lines = Json::array();
        for (const char* line = records; *line != '\0';) {
            const char* feed = std::strchr(line, '\n');
            const size_t length = feed != nullptr ? static_cast<size_t>(feed - line) : std::strlen(line);
            lines.push_back(std::string(line, length));
            line += length + (feed != nullptr ? 1 : 0);
        }
        json["records"] = lines;
    }
    if (report.update != nullptr) {
        const UpdateOutcome& outcome = *report.update;
        Json update;
        update["end"] = EndWords(outcome.end);
        update["result"] = static_cast<uint32_t>(outcome.result);
        update["status"] = outcome.status != nullptr ? outcome.status : "";
        update["versionBefore"] = VersionText(outcome.before);
        update["versionAfter"] = VersionText(outcome.after);
        update["attempts"] = outcome.attempts;
        update["sha256"] = outcome.sha256[0] != '\0' ? Json(outcome.sha256) : Json(nullptr);
        update["seconds"] = outcome.elapsedMs / 1000.0;
        json["update"] = update;
    }
    if (report.help != nullptr) json["help"] = report.help;
    if (report.images != nullptr) {
        Json images = Json::array();
        for (unsigned i = 0; i < 2; ++i) {
            const ImageSourceDescription& image = report.images[i];
            Json entry;
            entry["image"] = std::string(1, image.letter);
            entry["family"] = image.family;
            entry["firmwareVersion"] = image.version;
            entry["source"] = image.source;
            entry["path"] = image.path[0] != '\0' ? Json(image.path) : Json(nullptr);
            entry["sha256"] = image.sha256[0] != '\0' ? Json(image.sha256) : Json(nullptr);
            if (image.problem[0] != '\0') entry["problem"] = image.problem;
            images.push_back(entry);
        }
        json["images"] = images;
    }
    if (report.error != nullptr) json["error"] = report.error;
    // Texts the program did not make (a folder name in a status line) may hold any bytes:
    // they are replaced, never a reason to print half an object.
    const std::string text = json.dump(2, ' ', false, Json::error_handler_t::replace);
    std::fprintf(stdout, "%s\n", text.c_str());
    std::fflush(stdout);
}
