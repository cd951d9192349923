// The program around the window, the same for every front end: the long options, the answers
// to --help, --version and a usage error, the instance lock, --info, the JSON report of --json
// and --report, and the one decision of whether anybody watches the run. A front end gives
// only how it prints, how it shows a message (if it has messages at all) and its loop:
//
//   static ProgramState run;                 // one per process: it holds the report's buffer
//   ProgramTakeArguments(&run, edition, argc, argv);
//   return ProgramMain(&run, face, &app);    // face.loop runs the app, the lock held
#pragma once

#include <cstddef>
#include <cstdint>

#include "app/app.h"
#include "app/command_line.h"
#include "app/json_report.h"
#include "app/long_options.h"
#include "app/reports.h"
#include "platform/system.h"
#include "sensor/diag_log.h"
#include "sensor/sensor_info.h"

constexpr int kProgramGoesOn = -1;
// The exit status of a run with the window or the slash options that cannot begin (another
// instance runs, the lock cannot be taken).
constexpr int kExitNotStarted = 2;

enum class ProgramStream : uint8_t { Out, Error };
// What a message is, for a face that shows each kind its own way.
enum class ProgramMessage : uint8_t {
    Answer,      // --help, --version, --info: asked for
    UsageError,  // the command line is refused
    Refusal,     // the run cannot begin: another instance, the lock, a --family refused
};

struct ProgramState;

struct ProgramFace {
    void* context;
    // Writes `text` as it stands on standard output or standard error; null: as the
    // platform writes them (plat_write_standard).
    void (*print)(void* context, ProgramStream stream, const char* text);
    // Shows `text` to the person at the screen; false when it is printed as well (or only).
    // Null when the face has no messages of its own. Never called for a run nobody watches.
    bool (*show)(void* context, ProgramMessage kind, const char* text);
    // The face's loop, once the lock is held: starts `app` with its view, runs it to its end
    // and returns the exit code. A loop that cannot start sets `error` to why, the app never
    // started.
    int (*loop)(void* context, ProgramState* run, AppState* app, const char** error);
};

struct ProgramState {
    Edition edition;
    LongOptions options;
    char slashOptions[kCommandLineCapacity];  // what the long options leave of the line
    LaunchOptions launch;                     // from the slash options; /V for --update
    FirmwareSource firmware;  // beside the carried images: the edition's folder, or none
    char lockPath[256];       // the instance lock's name, the edition's
    DiagnosticLog log;        // the platform's notices; a face may give it a hook first
    // Nobody watches: a script's option (--update, --report, --json, or a word cut short of
    // one), an unattended slash mode, or a line too long to read. Nothing waits for a click.
    bool unattended;
    bool locked;
    char familyUnknownText[kRefusalCapacity];
    SensorInfo infoSensor;  // --info's query
    RunStamp stamp;
    bool startRefused;      // --report's start object could not be written (told then)
    ImageSourceDescription images[2];
    char text[8192];        // the answer or message being given
    char report[kJsonReportCapacity];
};

// Takes the long options off the program's arguments, or off Windows' command-line text,
// and decides once whether the run is unattended; the edition says where its images and its
// lock are.
void ProgramTakeArguments(ProgramState* run, const Edition& edition, int argc,
                          const char* const* argv);
void ProgramTakeLine(ProgramState* run, const Edition& edition, const char* line);

// The whole program once its options are taken: the answers, the lock, --info, the face's
// loop over `app` and the report. Returns the exit status.
int ProgramMain(ProgramState* run, const ProgramFace& face, AppState* app);
// Whether the run asks the sensor (the window's run or --info), not only for a text.
bool ProgramAsksSensor(const ProgramState* run);

// Answers --help, --version and a usage error without touching anything. Returns the exit
// status, or kProgramGoesOn.
int ProgramAnswer(ProgramState* run, const ProgramFace& face);
// Leaves --report's start object, takes the instance lock and answers --info. Returns the
// exit status of a run that ends here (the lock is then released), or kProgramGoesOn with
// the lock held: the window's run follows, then ProgramEnd.
int ProgramStart(ProgramState* run, const ProgramFace& face);
// The app's settings for the run ProgramStart let go on.
AppSettings ProgramAppSettings(ProgramState* run);
// Ends a run that cannot begin, or could not go on: `reason` told as a refusal, the report
// written with it. Releases the lock. Returns `status`.
int ProgramRefuse(ProgramState* run, const ProgramFace& face, int status, const char* reason);
// The end of a run that went on: the report of what the app found and did (`app` null when
// the window never ran; `error` says why, or null), and the lock released. Returns
// `exitCode`.
int ProgramEnd(ProgramState* run, const ProgramFace& face, const AppState* app, int exitCode,
               const char* error);

// Where nothing tells the family of a sensor in its boot loader: the way out the edition
// offers, in its words.
void FormatFamilyUnknownText(const Edition& edition, char* text, size_t capacity);
