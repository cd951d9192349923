// Words that begin with "--": the long options. They are taken off the command line before
// the slash options are parsed, so that "--version" can never read as "-version" and then
// as /V (an unattended update).
#pragma once

#include <cstddef>
#include <cstdint>

#include "firmware/sha256.h"
#include "update/firmware_source.h"

// The programs that offer a long option.
enum EditionFlag : uint32_t {
    kEditionLinux = 1,    // zorflash over hidraw
    kEditionWindows = 2,  // zorflash.exe
    kEditionSim = 4,      // zorflash-sim, on either system
    kEditionGtk = 8,      // zorflash-gtk, the window over hidraw
};

struct Edition {
    uint32_t flag;
    const char* programName;  // as the texts name the program
};

enum class LongOptionsOutcome {
    Run,          // go on with the remaining command line
    ShowHelp,     // print the usage text, exit 0
    ShowVersion,  // print the version text, exit 0
    ShowInfo,     // --info: identify the sensor, print what was found, exit 0 or 3
    UsageError,   // print `error`, exit 4
};

constexpr size_t kLongOptionErrorCapacity = 512;

struct LongOptions {
    LongOptionsOutcome outcome;
    char firmwareDirectory[kFirmwarePathCapacity];  // --firmware-dir, "" when not given
    char reportPath[kFirmwarePathCapacity];         // --report, "" when not given
    char error[kLongOptionErrorCapacity];           // one line for UsageError
    bool update;      // --update: the unattended update with an exit status that tells
    bool json;        // --json: one JSON object on standard output, all else on standard error
    // A word of --update, --report or --json, given whole, with a value, or cut short: the
    // line was written by a script, so nothing may wait for a click, even to refuse it.
    bool scripted;
    uint16_t family;  // --family: 0 or 1; kSensorNone (2) when not given
};

// From the program's arguments (argv[1..argc-1]): the long options go to `options`, every
// other word is joined with single blanks into `rest`. A line that does not fit `rest` is a
// usage error, never cut.
void TakeLongOptionsFromArguments(int argc, const char* const* argv, const Edition& edition,
                                  LongOptions* options, char* rest, size_t restCapacity);
// The same from one command-line text (Windows' WinMain line). Words are split as Windows
// splits arguments (blanks and tabs outside double quotes, backslashes before a quote as
// CommandLineToArgvW reads them); a word whose text begins with
// "--" is a long option, a "--" inside a quoted name is not. The long options and their
// values are cut out of the line with the blanks and tabs that part them from the next word
// (the last one's: from the word before); every other byte goes to `rest` as it stands, so
// that the slash options' parser sees what it saw before long options existed. A line that
// does not fit `rest` is a usage error.
void TakeLongOptionsFromLine(const char* line, const Edition& edition, LongOptions* options,
                             char* rest, size_t restCapacity);
// True when the edition offers the long option `name` (without its "--").
bool EditionOffers(const Edition& edition, const char* name);

// What --version tells of one image: where an update would take its bytes from now.
struct ImageSourceDescription {
    char letter;                          // 'A' or 'B'
    uint16_t family;
    char version[kVersionTextCapacity];   // the firmware version it brings
    const char* source;                   // "embedded", "placeholder", "file" or "none"
    const char* path;                     // the build's file or the file read; "" when none
    const char* problem;                  // why it cannot be written; "" when it can
    char sha256[kSha256HexCapacity];      // of the bytes an update would write; "" when none
    ImageChoice choice;                   // holds the texts `path` and `problem` point into
};

// Describes the image of family `kind`; may read its file into `source`.
void DescribeImageSource(uint16_t kind, FirmwareSource* source, ImageSourceDescription* out);

// The texts of --help and --version. The version text names where each image's bytes come
// from as an update would choose them, with their SHA-256; it may read the image files into
// `source`.
void FormatHelpText(const Edition& edition, char* text, size_t capacity);
void FormatVersionText(const Edition& edition, FirmwareSource* source, char* text,
                       size_t capacity);

// The answer to --help, --version or a wrong long option: its text (the usage error's one
// line) in `text` and the exit status, 0 or 4; -1, and no text, when the program goes on.
int AnswerTextOptions(const Edition& edition, const LongOptions& options,
                      FirmwareSource* source, char* text, size_t capacity);
