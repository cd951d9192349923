#include "app/long_options.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "app/reports.h"
#include "firmware/sha256.h"
#include "firmware_layout.h"
#include "platform/sensor_ids.h"
#include "zorflash_version.h"

namespace {

enum class LongOptionId { Help, Version, FirmwareDirectory, Info, Update, Json, Report, Family };

struct LongOptionRow {
    const char* name;      // without the leading "--"
    const char* argument;  // the value's name in the help text; null: takes none
    uint32_t editions;
    LongOptionId id;
    const char* help;
};

constexpr uint32_t kAllEditions = kEditionLinux | kEditionWindows | kEditionSim;
// Every edition, the window too (which offers no unattended update).
constexpr uint32_t kWindowEditions = kAllEditions | kEditionGtk;

constexpr uint32_t kTerminalEditions = kEditionLinux | kEditionSim;

// Names the normal-mode products by number, as sensor_ids.h has them.
constexpr char kFamilyHelp[] =
    "the family (0 or 1) of a sensor found in its boot loader that nothing else tells:\n"
    "                      0 if it was product 0x0090 in normal mode, 1 if 0x00E6";
static_assert(ProductNumberInText(kFamilyHelp, 0) == kProductFamily0 &&
                  ProductNumberInText(kFamilyHelp, 1) == kProductFamily1,
              "--family's help names family 0's product first, then family 1's");

const LongOptionRow kLongOptions[] = {
    {"info", nullptr, kWindowEditions, LongOptionId::Info,
     "show the sensor, its version, the version written and the verdict; change nothing"},
    {"update", nullptr, kAllEditions, LongOptionId::Update,
     "update unattended (as /V) and end with an exit status that tells how it went"},
    {"json", nullptr, kTerminalEditions | kEditionGtk, LongOptionId::Json,
     "with --info, --update, --help or --version: one JSON object on standard\n"
     "                      output, whatever happens"},
    {"report", "FILE", kWindowEditions, LongOptionId::Report,
     "write the object --json prints to FILE (replaced whole), whatever happens;\n"
     "                      also with /V and /F0 to /F2"},
    {"family", "N", kTerminalEditions | kEditionGtk, LongOptionId::Family, kFamilyHelp},
    {"firmware-dir", "DIR", kTerminalEditions | kEditionGtk, LongOptionId::FirmwareDirectory,
     "write " ZORFLASH_IMAGE_A_FILE_NAME " or " ZORFLASH_IMAGE_B_FILE_NAME " from DIR"},
    {"help", nullptr, kWindowEditions, LongOptionId::Help, "show this text and end"},
    {"version", nullptr, kWindowEditions, LongOptionId::Version,
     "show the version, the firmware carried and its SHA-256, and end"},
};

// Appends printf-formatted text at `*length`, keeping the text terminated when it is full.
void Append(char* text, size_t capacity, size_t* length, const char* format, ...)
    __attribute__((format(printf, 4, 5)));
void Append(char* text, size_t capacity, size_t* length, const char* format, ...) {
    if (*length + 1 >= capacity) return;
    va_list arguments;
    va_start(arguments, format);
    const int written = std::vsnprintf(text + *length, capacity - *length, format, arguments);
    va_end(arguments);
    if (written > 0) *length = std::min(*length + static_cast<size_t>(written), capacity - 1);
}

// One line (or two) per long option the edition offers.
void AppendLongOptions(const Edition& edition, char* text, size_t capacity, size_t* length) {
    for (const LongOptionRow& row : kLongOptions) {
        if ((row.editions & edition.flag) == 0) continue;
        char left[64];
        std::snprintf(left, sizeof left, "--%s%s%s", row.name, row.argument ? " " : "",
                      row.argument ? row.argument : "");
        Append(text, capacity, length, "  %-18s  %s\n", left, row.help);
    }
}

void Fail(LongOptions* options, const Edition& edition, const char* what, const char* word) {
    if (options->outcome == LongOptionsOutcome::UsageError) return;  // the first one is told
    options->outcome = LongOptionsOutcome::UsageError;
    std::snprintf(options->error, sizeof options->error, "%s: %s %s; see %s --help",
                  edition.programName, what, word, edition.programName);
}

// A path option's value, kept whole or refused: a cut path would name another file.
void TakePath(const char* value, char* path, size_t capacity, const char* kind, const char* word,
              const Edition& edition, LongOptions* options) {
    if (std::strlen(value) < capacity) {
        std::snprintf(path, capacity, "%s", value);
        return;
    }
    char what[64];
    std::snprintf(what, sizeof what, "the %s name is too long in", kind);
    Fail(options, edition, what, word);
}

// The options a script gives: a word that is one of them, begins with one, or is a beginning
// of one at least three letters long ("--updat", "--update=1", "--rep", "--json" where the
// edition has no JSON) was written for a run nobody watches, even when it is refused.
const char* const kUnattendedOptionNames[] = {"update", "report", "json"};

bool NamesUnattendedOption(const char* name, size_t nameLength) {
    for (const char* option : kUnattendedOptionNames) {
        const size_t optionLength = std::strlen(option);
        const size_t shared = std::min(nameLength, optionLength);
        if (shared >= 3 && std::strncmp(name, option, shared) == 0) return true;
    }
    return false;
}

// Takes one word that begins with "--"; `next` is the word after it (null at the end).
// Returns how many words were used.
int TakeLongOption(const char* word, const char* next, const Edition& edition,
                   LongOptions* options) {
    const char* name = word + 2;
    const char* equals = std::strchr(name, '=');
    const size_t nameLength = equals != nullptr ? static_cast<size_t>(equals - name) : std::strlen(name);
    if (NamesUnattendedOption(name, nameLength)) options->scripted = true;
    for (const LongOptionRow& row : kLongOptions) {
        if ((row.editions & edition.flag) == 0 || std::strlen(row.name) != nameLength ||
            std::strncmp(row.name, name, nameLength) != 0) {
            continue;
        }
        const char* value = nullptr;
        int used = 1;
        // Whoever asked for JSON gets it, also for the usage error of a wrong --json=...
        if (row.id == LongOptionId::Json) options->json = true;
        if (row.argument != nullptr) {
            if (equals != nullptr) {
                value = equals + 1;
            } else if (next != nullptr) {
                value = next;
                used = 2;
            }
            if (value == nullptr || value[0] == '\0') {
                Fail(options, edition, "a value is missing after", word);
                return used;
            }
        } else if (equals != nullptr) {
            Fail(options, edition, "no value is taken by", word);
            return used;
        }
        switch (row.id) {
        // --help and --version answer whatever else the line asks.
        case LongOptionId::Help:
            if (options->outcome != LongOptionsOutcome::UsageError) options->outcome = LongOptionsOutcome::ShowHelp;
            break;
        case LongOptionId::Version:
            if (options->outcome != LongOptionsOutcome::UsageError &&
                options->outcome != LongOptionsOutcome::ShowHelp) {
                options->outcome = LongOptionsOutcome::ShowVersion;
            }
            break;
        case LongOptionId::Info:
            if (options->outcome == LongOptionsOutcome::Run) options->outcome = LongOptionsOutcome::ShowInfo;
            break;
        case LongOptionId::Update:
            options->update = true;
            break;
        case LongOptionId::Json:
            options->json = true;
            break;
        case LongOptionId::Family:
            if (std::strcmp(value, "0") != 0 && std::strcmp(value, "1") != 0) {
                Fail(options, edition, "0 or 1 is the family, not", value);
            } else {
                options->family = static_cast<uint16_t>(value[0] - '0');
            }
            break;
        case LongOptionId::Report:
            TakePath(value, options->reportPath, sizeof options->reportPath, "file", word, edition,
                     options);
            break;
        case LongOptionId::FirmwareDirectory:
            TakePath(value, options->firmwareDirectory, sizeof options->firmwareDirectory,
                     "folder", word, edition, options);
            break;
        }
        return used;
    }
    Fail(options, edition, "unknown option", word);
    return 1;
}

void ResetLongOptions(LongOptions* options, char* rest, size_t restCapacity) {
    options->outcome = LongOptionsOutcome::Run;
    options->firmwareDirectory[0] = '\0';
    options->reportPath[0] = '\0';
    options->error[0] = '\0';
    options->update = false;
    options->json = false;
    options->scripted = false;
    options->family = kSensorNone;
    if (restCapacity > 0) rest[0] = '\0';
}

// The combinations that make no sense are refused before anything is touched.
void CheckCombination(const Edition& edition, const char* rest, LongOptions* options) {
    const bool info = options->outcome == LongOptionsOutcome::ShowInfo;
    if (info && options->update) {
        Fail(options, edition, "one of --info and --update, not both:", "--info --update");
    } else if (options->json && !info && !options->update &&
               options->outcome == LongOptionsOutcome::Run) {
        // Only the options the edition offers are named.
        Fail(options, edition,
             EditionOffers(edition, "update")
                 ? "--json goes with --info, --update, --help or --version, not alone:"
                 : "--json goes with --info, --help or --version, not alone:",
             "--json");
    } else if ((info || options->update) && rest[0] != '\0') {
        Fail(options, edition, "--info and --update take no slash option or file name:", rest);
    }
}

bool IsLongOption(const char* word) { return word[0] == '-' && word[1] == '-'; }

// Appends the word after a blank (none before the first); false, and nothing appended, when
// the two do not fit.
bool AppendWord(const char* word, size_t wordLength, char* rest, size_t restCapacity,
                size_t* restLength) {
    const size_t blank = *restLength > 0 ? 1 : 0;
    if (restCapacity == 0 || wordLength + blank > restCapacity - 1 - *restLength) return false;
    if (blank != 0) rest[(*restLength)++] = ' ';
    std::memcpy(rest + *restLength, word, wordLength);
    *restLength += wordLength;
    rest[*restLength] = '\0';
    return true;
}

// A cut line would be read as another command ("<long word> /V /F3 x" without its end is
// still an unattended update): a line that does not fit is refused whole.
void RefuseLongLine(const Edition& edition, LongOptions* options, char* rest,
                    size_t restCapacity) {
    Fail(options, edition, "the command line is longer than", "this program reads");
    if (restCapacity > 0) rest[0] = '\0';
}

// One word of a command-line text as Windows splits a program's arguments (the rules of
// CommandLineToArgvW and of the C runtime's start-up code): blanks and tabs outside double
// quotes separate words, and a double quote opens or closes a quoted part without being part
// of the word's text. Backslashes are ordinary, paths are full of them, except right before a
// double quote: 2n of them and the quote are n backslashes and a quote that opens or closes;
// 2n+1 of them and the quote are n backslashes and a quote that is text. So the value of
// --report "C:\logs\" --update runs on past its closing quote, as every Windows program reads
// it, and --update is part of it.
struct LineWord {
    size_t start;  // its first byte
    size_t end;    // one past its last byte
    size_t next;   // the next word's first byte, or the line's end
};

bool IsWordSeparator(char c) { return c == ' ' || c == '\t'; }

// The word at or after `at`; false when only separators are left.
bool NextLineWord(const char* line, size_t at, LineWord* word) {
    while (IsWordSeparator(line[at])) ++at;
    if (line[at] == '\0') return false;
    word->start = at;
    bool quoted = false;
    while (line[at] != '\0' && (quoted || !IsWordSeparator(line[at]))) {
        if (line[at] == '\\') {
            size_t backslashes = 0;
            while (line[at] == '\\') {
                ++backslashes;
                ++at;
            }
            // An odd run makes the quote after it text; an even one leaves it to the loop.
            if (line[at] == '"' && backslashes % 2 == 1) ++at;
            continue;
        }
        if (line[at] == '"') quoted = !quoted;
        ++at;
    }
    word->end = at;
    while (IsWordSeparator(line[at])) ++at;
    word->next = at;
    return true;
}

// The word's text as Windows hands it to a program (quotes that open or close dropped,
// backslashes before a quote halved), cut to `capacity` - 1 characters.
void CopyWordText(const char* line, const LineWord& word, char* text, size_t capacity) {
    size_t length = 0;
    const auto put = [&](char c) {
        if (length + 1 < capacity) text[length++] = c;
    };
    for (size_t i = word.start; i < word.end;) {
        if (line[i] == '\\') {
            size_t backslashes = 0;
            while (i < word.end && line[i] == '\\') {
                ++backslashes;
                ++i;
            }
            const bool beforeQuote = i < word.end && line[i] == '"';
            for (size_t k = 0; k < (beforeQuote ? backslashes / 2 : backslashes); ++k) put('\\');
            if (beforeQuote && backslashes % 2 == 1) put(line[i++]);
            continue;
        }
        if (line[i] != '"') put(line[i]);
        ++i;
    }
    text[length] = '\0';
}

// A long option is a word whose text begins with "--", quoted or not ("--update" is the
// argument --update to Windows). A "--" inside a quoted name ("fw --new.bin") is part of
// that name, not a word of its own.
bool IsLongOptionWord(const char* line, const LineWord& word) {
    char start[3];
    CopyWordText(line, word, start, sizeof start);
    return IsLongOption(start);
}

// Appends `count` bytes; false, and nothing appended, when they do not fit.
bool AppendBytes(const char* bytes, size_t count, char* rest, size_t restCapacity,
                 size_t* restLength) {
    if (restCapacity == 0 || count > restCapacity - 1 - *restLength) return false;
    std::memcpy(rest + *restLength, bytes, count);
    *restLength += count;
    rest[*restLength] = '\0';
    return true;
}

}  // namespace

void TakeLongOptionsFromArguments(int argc, const char* const* argv, const Edition& edition,
                                  LongOptions* options, char* rest, size_t restCapacity) {
    ResetLongOptions(options, rest, restCapacity);
    size_t restLength = 0;
    bool fits = true;
    for (int i = 1; i < argc;) {
        if (IsLongOption(argv[i])) {
            i += TakeLongOption(argv[i], i + 1 < argc ? argv[i + 1] : nullptr, edition, options);
        } else {
            fits = fits && AppendWord(argv[i], std::strlen(argv[i]), rest, restCapacity,
                                      &restLength);
            ++i;
        }
    }
    if (!fits) RefuseLongLine(edition, options, rest, restCapacity);
    CheckCombination(edition, rest, options);
}

void TakeLongOptionsFromLine(const char* line, const Edition& edition, LongOptions* options,
                             char* rest, size_t restCapacity) {
    ResetLongOptions(options, rest, restCapacity);
    const char* text = line != nullptr ? line : "";
    // The option and its value are copied out without their quotes so that they end in a
    // terminator; the longest kept is the longest folder name, a longer one is a usage
    // error of its own.
    char option[kFirmwarePathCapacity + 32];
    char value[sizeof option];
    size_t restLength = 0;
    size_t copiedUpTo = 0;   // the line's bytes before this are in `rest` or cut
    size_t keptWordEnd = 0;  // one past the last word that stays
    bool fits = true;
    LineWord word;
    size_t at = 0;
    while (NextLineWord(text, at, &word)) {
        at = word.next;
        if (!IsLongOptionWord(text, word)) {
            keptWordEnd = word.end;
            continue;
        }
        CopyWordText(text, word, option, sizeof option);
        LineWord valueWord;
        const bool hasValue = NextLineWord(text, word.next, &valueWord);
        if (hasValue) CopyWordText(text, valueWord, value, sizeof value);
        const int used = TakeLongOption(option, hasValue ? value : nullptr, edition, options);
        const size_t cutEnd = used == 2 ? valueWord.next : word.next;
        // The option leaves with the blanks and tabs between it and the next word; the last
        // one of the line with those between it and the word before. What stays reads as
        // the line typed without it.
        const size_t cutStart =
            text[cutEnd] != '\0' ? word.start : std::max(keptWordEnd, copiedUpTo);
        fits = fits && AppendBytes(text + copiedUpTo, cutStart - copiedUpTo, rest, restCapacity,
                                   &restLength);
        copiedUpTo = cutEnd;
        at = cutEnd;
    }
    fits = fits && AppendBytes(text + copiedUpTo, std::strlen(text + copiedUpTo), rest,
                               restCapacity, &restLength);
    if (!fits) RefuseLongLine(edition, options, rest, restCapacity);
    CheckCombination(edition, rest, options);
}

bool EditionOffers(const Edition& edition, const char* name) {
    for (const LongOptionRow& row : kLongOptions) {
        if ((row.editions & edition.flag) != 0 && std::strcmp(row.name, name) == 0) return true;
    }
    return false;
}

void FormatHelpText(const Edition& edition, char* text, size_t capacity) {
    size_t length = 0;
    const char* name = edition.programName;
    if (edition.flag == kEditionGtk) {
        Append(text, capacity, &length,
               "Usage: %s [OPTION]...\n"
               "Updates the firmware of the pen-digitizer sensor, in a window that waits for "
               "Update.\n\n",
               name);
        AppendLongOptions(edition, text, capacity, &length);
        Append(text, capacity, &length,
               "\nExit status: 0 --help or --version, or the last update found no sensor;\n"
               "2 the window was closed, or another zorflash is running; 4 usage error.\n"
               "Exit status of --info: 0 a sensor was found, 3 none was, 4 usage error,\n"
               "6 another zorflash is running.\n");
        return;
    }
    Append(text, capacity, &length,
           "Usage: %s [OPTION]... [/F0 | /F1 | /F2 | /F3 FILE | /V]\n"
           "Updates the firmware of the pen-digitizer sensor.\n\n"
           "Without options the dialog is shown and waits for Update.\n"
           "  /F0, /F1, /F2 FILE  update at once, unattended, and end (FILE is not read)\n"
           "  /F3 FILE            show the dialog and wait for Update\n"
           "  /V                  update at once, unattended, and end\n"
           "Options with a slash may also start with a single '-', in either case.\n\n",
           name);
    AppendLongOptions(edition, text, capacity, &length);
    Append(text, capacity, &length,
           "\nExit status with the slash options or none:\n"
           "  0  --help or --version; or the last update found no sensor\n"
           "  2  the dialog ended, or an unattended update ended (whatever its outcome:\n"
           "     the status line tells)\n"
           "  4  usage error: an unknown long option, or /F0 to /F3 without a file\n"
           "Exit status of --info: 0 a sensor was found, 3 none was, 4 usage error.\n"
           "Exit status of --update:\n"
           "  0  the sensor runs the firmware this program carries: updated now, or\n"
           "     already up to date\n"
           "  1  the update failed (the status line's message says how)\n"
           "  3  no sensor found\n"
           "  4  usage error\n"
           "  5  this update does not fit the sensor (version or boot-loader mismatch)\n"
           "  6  another zorflash is running, or its lock cannot be taken\n"
           "  7  no firmware image for the sensor's family\n"
           "  8  written and verified, but the sensor did not come back in normal mode\n"
           "  9  sensor in its boot loader, family unknown\n");
}

void DescribeImageSource(uint16_t kind, FirmwareSource* source, ImageSourceDescription* out) {
    const ImageShape& shape = ImageShapeForKind(kind);
    out->letter = shape.letter;
    out->family = kind;
    FormatNewVersion(kind, out->version, sizeof out->version);
    out->sha256[0] = '\0';
    ImageChoice& choice = out->choice;
    const bool usable = ChooseImage(kind, source, &choice);
    out->path = choice.path;
    out->problem = choice.problem;
    switch (choice.origin) {
    case ImageOriginKind::Carried: {
        const CarriedImage& carried = CarriedImageForKind(kind);
        const bool embedded = carried.origin == CarriedOrigin::BuildFile;
        out->source = embedded ? "embedded" : "placeholder";
        out->path = embedded ? carried.buildPath : "";
        break;
    }
    case ImageOriginKind::File:
        out->source = "file";
        break;
    case ImageOriginKind::FileProblem:
        // The folder the user named: its file is what an update would take. Else nothing
        // is carried and the system's folder has no usable file either.
        out->source = source->directory != nullptr ? "file" : "none";
        if (source->directory == nullptr) out->path = "";
        break;
    case ImageOriginKind::NotCarried:
        out->source = "none";
        break;
    }
    if (usable) Sha256Hex(ImageBytes(choice.image), ImageByteCount(choice.image), out->sha256);
}

void FormatVersionText(const Edition& edition, FirmwareSource* source, char* text,
                       size_t capacity) {
    size_t length = 0;
    Append(text, capacity, &length, "%s " ZORFLASH_VERSION "\n", edition.programName);
    ImageSourceDescription image;
    for (uint16_t kind = kSensorFamily0; kind <= kSensorFamily1; ++kind) {
        DescribeImageSource(kind, source, &image);
        Append(text, capacity, &length, "image %c, firmware %s (family %u): ", image.letter,
               image.version, static_cast<unsigned>(kind));
        if (std::strcmp(image.source, "embedded") == 0) {
            Append(text, capacity, &length, "embedded (from %s)\n", image.path);
        } else if (std::strcmp(image.source, "placeholder") == 0) {
            Append(text, capacity, &length, "placeholder (for the simulated sensor only)\n");
        } else if (std::strcmp(image.source, "file") == 0 && image.problem[0] == '\0') {
            Append(text, capacity, &length, "%s\n", image.path);
        } else if (std::strcmp(image.source, "file") == 0) {
            Append(text, capacity, &length, "%s, not usable\n  %s\n", image.path, image.problem);
        } else {
            Append(text, capacity, &length, "none: placeholder\n  %s\n", image.problem);
        }
        if (image.sha256[0] != '\0') Append(text, capacity, &length, "  sha256 %s\n", image.sha256);
    }
}

int AnswerTextOptions(const Edition& edition, const LongOptions& options,
                      FirmwareSource* source, char* text, size_t capacity) {
    switch (options.outcome) {
    case LongOptionsOutcome::Run:
    case LongOptionsOutcome::ShowInfo:
        return -1;
    case LongOptionsOutcome::ShowHelp:
        FormatHelpText(edition, text, capacity);
        return 0;
    case LongOptionsOutcome::ShowVersion:
        FormatVersionText(edition, source, text, capacity);
        return 0;
    case LongOptionsOutcome::UsageError:
        break;
    }
    std::snprintf(text, capacity, "%s", options.error);
    return kExitUsage;
}
