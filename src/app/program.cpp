// The program around the window: options, answers, lock, --info and the report, once for
// every front end.
#include "app/program.h"

#include <cstdio>
#include <cstring>

#include "platform/system.h"
#include "platform/records.h"
#include "platform/sensor_ids.h"
#include "sensor/update_result.h"

namespace {

// Where distributions install firmware files: the program and the vendor's images ship
// apart. Looked in, on Linux, for a family whose image the program was not built with.
const char kSystemFirmwareDirectory[] = "/usr/lib/firmware/zorflash";

void ParseLaunch(ProgramState* run) {
    ResetLaunchOptions(&run->launch);
    ParseCommandLine(run->options.update ? "/V" : run->slashOptions, &run->launch);
}

// The slash options that start an update by themselves (/F0 to /F2 with a file, /V) or end
// at once without a window (/F0 to /F3 without a file): nobody is at the screen. /F3 FILE
// shows the window and waits.
bool SlashModeUnattended(const LaunchOptions& launch) {
    return !LaunchInteractive(launch) && !(launch.launchMode == 3 && launch.fileName[0] != '\0');
}

void AfterOptions(ProgramState* run, bool lineTooLong) {
    // Placeholders are carried by the simulated edition; --firmware-dir tries real files.
    const bool onLinux = run->edition.flag == kEditionLinux || run->edition.flag == kEditionGtk;
    run->firmware = FirmwareSource{nullptr, onLinux ? kSystemFirmwareDirectory : nullptr, {}, {}};
    plat_instance_lock_path(run->edition.flag == kEditionSim, run->lockPath, sizeof run->lockPath);
    if (run->options.firmwareDirectory[0] != '\0') {
        run->firmware.directory = run->options.firmwareDirectory;
    }
    ParseLaunch(run);
    run->unattended = run->options.update || run->options.json || run->options.scripted ||
                      run->options.reportPath[0] != '\0' || lineTooLong ||
                      SlashModeUnattended(run->launch);
    run->locked = false;
    run->startRefused = false;
    run->familyUnknownText[0] = '\0';
    plat_run_stamp(&run->stamp);
}

void Print(const ProgramFace& face, ProgramStream stream, const char* text) {
    if (face.print != nullptr) {
        face.print(face.context, stream, text);
    } else {
        plat_write_standard(stream == ProgramStream::Error, text);
    }
}

bool Shows(const ProgramState* run, const ProgramFace& face) {
    return !run->unattended && face.show != nullptr;
}

// A line on standard error that begins with the program's name, which a usage error's text
// has already.
void PrintError(const ProgramState* run, const ProgramFace& face, const char* text) {
    const char* name = run->edition.programName;
    const size_t nameLength = std::strlen(name);
    const bool named = std::strncmp(text, name, nameLength) == 0 && text[nameLength] == ':';
    char line[kRefusalCapacity + 64];
    std::snprintf(line, sizeof line, "%s%s%s\n", named ? "" : name, named ? "" : ": ", text);
    Print(face, ProgramStream::Error, line);
}

void Tell(const ProgramState* run, const ProgramFace& face, ProgramMessage kind, const char* text) {
    if (Shows(run, face) && face.show(face.context, kind, text)) return;
    if (kind == ProgramMessage::Answer) {
        Print(face, ProgramStream::Out, text);
    } else {
        PrintError(run, face, text);
    }
}

// The report into --report's file; false, with the reason told on standard error, when it
// could not be written.
bool WriteReportFile(ProgramState* run, const ProgramFace& face, size_t length) {
    char reason[256] = "the report does not fit its buffer";
    if (length > 0 && plat_write_file_atomically(run->options.reportPath,
                                                 reinterpret_cast<const uint8_t*>(run->report),
                                                 length, reason, sizeof reason)) {
        return true;
    }
    char line[kFirmwarePathCapacity + 512];
    std::snprintf(line, sizeof line, "the report was not written to %s: %s",
                  run->options.reportPath, reason);
    PrintError(run, face, line);
    return false;
}

// The object --json prints and --report writes, whatever the exit status.
void EmitReport(ProgramState* run, const ProgramFace& face, JsonReport report) {
    const bool toFile = run->options.reportPath[0] != '\0';
    if (!run->options.json && !toFile) return;
    report.programName = run->edition.programName;
    report.runId = run->stamp.runId;
    report.startTime = run->stamp.startTime;
    const size_t length = FormatJsonReport(report, run->report, sizeof run->report);
    if (run->options.json && length > 0) Print(face, ProgramStream::Out, run->report);
    if (toFile && !run->startRefused) WriteReportFile(run, face, length);
}

void Unlock(ProgramState* run) {
    if (run->locked) plat_unlock_instance();
    run->locked = false;
}

// --info: the sensor as the window's first tick finds it; nothing is sent to it.
int AnswerInfo(ProgramState* run, const ProgramFace& face) {
    SensorInfo& sensor = run->infoSensor;
    QuerySensor(&sensor);
    int status = InfoExitStatus(sensor);
    char refusal[kRefusalCapacity];
    const bool refused = !ApplyFamilyOption(run->options.family, &sensor, refusal, sizeof refusal);
    if (refused) {
        Tell(run, face, ProgramMessage::Refusal, refusal);
        status = kExitUsage;
    }
    EmitReport(run, face, JsonReport{nullptr, status, &sensor, nullptr, refused ? refusal : nullptr});
    if (!run->options.json && !refused) {
        FormatSensorReport(sensor, run->text, sizeof run->text);
        Tell(run, face, ProgramMessage::Answer, run->text);
    }
    return status;
}

// The window takes no slash options and no file name: it has no unattended modes.
bool RefuseWindowWords(ProgramState* run) {
    if (run->edition.flag != kEditionGtk || run->slashOptions[0] == '\0') return false;
    const char* name = run->edition.programName;
    std::snprintf(run->text, sizeof run->text, "%s: %s is not an option of the window; see %s --help",
                  name, run->slashOptions, name);
    return true;
}

}  // namespace

void FormatFamilyUnknownText(const Edition& edition, char* text, size_t capacity) {
    const unsigned family0 = kProductFamily0;
    const unsigned family1 = kProductFamily1;
    if (edition.flag == kEditionGtk) {
        std::snprintf(text, capacity, FamilyUnknownFormat(FamilyWayOut::ChooseInWindow), family0,
                      family1);
    } else if (EditionOffers(edition, "family")) {
        std::snprintf(text, capacity, FamilyUnknownFormat(FamilyWayOut::UpdateWithOption),
                      edition.programName, family0, family1);
    } else {
        // Windows tells the family from the products this machine has met; a record of
        // neither, or of both, cannot tell it.
        const uint16_t products[2] = {kProductFamily0, kProductFamily1};
        bool met[2] = {};
        plat_usb_products_met(kSensorVendorId, products, 2, met);
        const FamilyWayOut wayOut =
            met[0] && met[1] ? FamilyWayOut::BothRecorded : FamilyWayOut::NoRecord;
        std::snprintf(text, capacity, FamilyUnknownFormat(wayOut), family0, family1);
    }
}

void ProgramTakeArguments(ProgramState* run, const Edition& edition, int argc,
                          const char* const* argv) {
    run->edition = edition;
    TakeLongOptionsFromArguments(argc, argv, edition, &run->options, run->slashOptions,
                                 sizeof run->slashOptions);
    AfterOptions(run, false);
}

void ProgramTakeLine(ProgramState* run, const Edition& edition, const char* line) {
    run->edition = edition;
    TakeLongOptionsFromLine(line, edition, &run->options, run->slashOptions,
                            sizeof run->slashOptions);
    // Nobody types 2048 characters at a prompt: a line too long to read came from a script.
    const bool tooLong = run->options.outcome == LongOptionsOutcome::UsageError &&
                         line != nullptr && std::strlen(line) >= sizeof run->slashOptions;
    AfterOptions(run, tooLong);
}

int ProgramMain(ProgramState* run, const ProgramFace& face, AppState* app) {
    StartDiagnosticLog(&run->log);
    int status = ProgramAnswer(run, face);
    if (status == kProgramGoesOn) status = ProgramStart(run, face);
    if (status != kProgramGoesOn) return status;
    const char* error = nullptr;
    status = face.loop(face.context, run, app, &error);
    return ProgramEnd(run, face, error == nullptr ? app : nullptr, status, error);
}

bool ProgramAsksSensor(const ProgramState* run) {
    return run->options.outcome == LongOptionsOutcome::Run ||
           run->options.outcome == LongOptionsOutcome::ShowInfo;
}

int ProgramAnswer(ProgramState* run, const ProgramFace& face) {
    int status = AnswerTextOptions(run->edition, run->options, &run->firmware, run->text,
                                   sizeof run->text);
    if (status < 0 && RefuseWindowWords(run)) status = kExitUsage;
    if (status < 0) return kProgramGoesOn;
    JsonReport report{nullptr, status, nullptr, nullptr, nullptr};
    if (status == kExitUsage) {
        report.error = run->text;
        Tell(run, face, ProgramMessage::UsageError, run->text);
        EmitReport(run, face, report);
        return status;
    }
    if (!run->options.json) Tell(run, face, ProgramMessage::Answer, run->text);
    if (run->options.outcome == LongOptionsOutcome::ShowHelp) {
        report.help = run->text;
    } else {
        for (uint16_t kind = kSensorFamily0; kind <= kSensorFamily1; ++kind) {
            DescribeImageSource(kind, &run->firmware, &run->images[kind]);
        }
        report.images = run->images;
    }
    EmitReport(run, face, report);
    return status;
}

int ProgramStart(ProgramState* run, const ProgramFace& face) {
    // From here on the run may be refused, fail or be killed: an earlier run's report must
    // not stay at --report's file meanwhile.
    if (run->options.reportPath[0] != '\0') {
        JsonReport start{run->edition.programName, 0, nullptr, nullptr, nullptr};
        start.runId = run->stamp.runId;
        start.startTime = run->stamp.startTime;
        start.running = true;
        const size_t length = FormatJsonReport(start, run->report, sizeof run->report);
        run->startRefused = !WriteReportFile(run, face, length);
    }
    const bool info = run->options.outcome == LongOptionsOutcome::ShowInfo;
    // One instance at a time, before anything is asked of the sensor: two programs updating
    // one sensor would interleave their commands, and a second one must not even query it.
    char refusal[512];
    if (plat_lock_editions(run->lockPath, refusal, sizeof refusal) != InstanceLock::Taken) {
        // A query asked while another instance may be writing ends at once, box or not.
        if (info) run->unattended = true;
        return ProgramRefuse(run, face,
                             info || run->options.update ? kExitAlreadyRunning : kExitNotStarted,
                             refusal);
    }
    run->locked = true;
    if (info) {
        const int status = AnswerInfo(run, face);
        Unlock(run);
        return status;
    }
    FormatFamilyUnknownText(run->edition, run->familyUnknownText, sizeof run->familyUnknownText);
    return kProgramGoesOn;
}

AppSettings ProgramAppSettings(ProgramState* run) {
    // The window tells what Update would do before it is tapped.
    return AppSettings{&run->firmware, run->options.update, run->options.family,
                       run->familyUnknownText, run->unattended,
                       run->edition.flag == kEditionGtk};
}

int ProgramRefuse(ProgramState* run, const ProgramFace& face, int status, const char* reason) {
    Tell(run, face, ProgramMessage::Refusal, reason);
    EmitReport(run, face, JsonReport{nullptr, status, nullptr, nullptr, reason});
    Unlock(run);
    return status;
}

int ProgramEnd(ProgramState* run, const ProgramFace& face, const AppState* app, int exitCode,
               const char* error) {
    // A face with messages of its own shows the run in a window nobody reads unattended:
    // a script is left the run's last word on standard error (why it could not start,
    // --update's last status line, a family refused to a slash mode).
    const char* lastWord = run->unattended ? error : nullptr;
    if (app != nullptr) {
        const UpdateOutcome& outcome = AppOutcome(app);
        if (run->options.update && outcome.end != UpdateEnd::NotRun && outcome.status != nullptr) {
            lastWord = outcome.status;
        } else if (!LaunchInteractive(run->launch) && AppFamilyRefusal(app)[0] != '\0') {
            lastWord = AppFamilyRefusal(app);
        }
    }
    if (face.show != nullptr && lastWord != nullptr) PrintError(run, face, lastWord);
    JsonReport report{nullptr, exitCode, nullptr, nullptr, error};
    if (app != nullptr) {
        report.sensor = &AppSensor(app);
        if (AppOutcome(app).end != UpdateEnd::NotRun) report.update = &AppOutcome(app);
    }
    EmitReport(run, face, report);
    Unlock(run);
    return exitCode;
}
