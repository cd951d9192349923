#include "app/long_options.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "firmware/sha256.h"

namespace {

enum class LongOptionId { Help, Version, FirmwareDirectory };

struct LongOptionRow {
    const char* name;      // without the leading "--"
    const char* argument;  // the value's name in the help text; null: takes none
    uint32_t editions;
    LongOptionId id;
    const char* help;
};

constexpr uint32_t kAllEditions = kEditionLinux | kEditionWindows | kEditionSim;

const LongOptionRow kLongOptions[] = {
    {"firmware-dir", "DIR", kEditionLinux | kEditionSim, LongOptionId::FirmwareDirectory,
     "write image-a.bin or image-b.bin from DIR"},
    {"help", nullptr, kAllEditions, LongOptionId::Help, "show this text and end"},
    {"version", nullptr, kAllEditions, LongOptionId::Version,
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

void Fail(LongOptions* options, const Edition& edition, const char* what, const char* word) {
    if (options->outcome == LongOptionsOutcome::UsageError) return;  // the first one is told
    options->outcome = LongOptionsOutcome::UsageError;
    std::snprintf(options->error, sizeof options->error, "%s: %s %s; see %s --help",
                  edition.programName, what, word, edition.programName);
}

// Takes one word that begins with "--"; `next` is the word after it (null at the end).
// Returns how many words were used.
int TakeLongOption(const char* word, const char* next, const Edition& edition,
                   LongOptions* options) {
    const char* name = word + 2;
    const char* equals = std::strchr(name, '=');
    const size_t nameLength = equals != nullptr ? static_cast<size_t>(equals - name) : std::strlen(name);
    for (const LongOptionRow& row : kLongOptions) {
        if ((row.editions & edition.flag) == 0 || std::strlen(row.name) != nameLength ||
            std::strncmp(row.name, name, nameLength) != 0) {
            continue;
        }
        const char* value = nullptr;
        int used = 1;
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
        case LongOptionId::Help:
            if (options->outcome == LongOptionsOutcome::Run) options->outcome = LongOptionsOutcome::ShowHelp;
            break;
        case LongOptionId::Version:
            if (options->outcome == LongOptionsOutcome::Run) options->outcome = LongOptionsOutcome::ShowVersion;
            break;
        case LongOptionId::FirmwareDirectory:
            if (std::strlen(value) >= sizeof options->firmwareDirectory) {
                Fail(options, edition, "the folder name is too long in", word);
            } else {
                std::snprintf(options->firmwareDirectory, sizeof options->firmwareDirectory, "%s", value);
            }
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
    options->error[0] = '\0';
    if (restCapacity > 0) rest[0] = '\0';
}

bool IsLongOption(const char* word) { return word[0] == '-' && word[1] == '-'; }

void AppendWord(const char* word, size_t wordLength, char* rest, size_t restCapacity,
                size_t* restLength) {
    if (restCapacity == 0) return;
    if (*restLength > 0 && *restLength + 1 < restCapacity) rest[(*restLength)++] = ' ';
    const size_t room = restCapacity - 1 - *restLength;
    const size_t take = wordLength < room ? wordLength : room;
    std::memcpy(rest + *restLength, word, take);
    *restLength += take;
    rest[*restLength] = '\0';
}

}  // namespace

void TakeLongOptionsFromArguments(int argc, const char* const* argv, const Edition& edition,
                                  LongOptions* options, char* rest, size_t restCapacity) {
    ResetLongOptions(options, rest, restCapacity);
    size_t restLength = 0;
    for (int i = 1; i < argc;) {
        if (IsLongOption(argv[i])) {
            i += TakeLongOption(argv[i], i + 1 < argc ? argv[i + 1] : nullptr, edition, options);
        } else {
            AppendWord(argv[i], std::strlen(argv[i]), rest, restCapacity, &restLength);
            ++i;
        }
    }
}

void TakeLongOptionsFromLine(const char* line, const Edition& edition, LongOptions* options,
                             char* rest, size_t restCapacity) {
    ResetLongOptions(options, rest, restCapacity);
    size_t restLength = 0;
    // Each word is copied out so that it ends in a terminator; the longest word kept is the
    // longest folder name, a longer one is a usage error of its own.
    char word[kFirmwarePathCapacity + 32];
    char next[sizeof word];
    const char* at = line != nullptr ? line : "";
    auto readWord = [](const char** cursor, char* out, size_t capacity) {
        while (**cursor == ' ' || **cursor == '\t') ++*cursor;
        size_t length = 0;
        while (**cursor != '\0' && **cursor != ' ' && **cursor != '\t') {
            if (length + 1 < capacity) out[length++] = **cursor;
            ++*cursor;
        }
        out[length] = '\0';
        return length;
    };
    size_t length = readWord(&at, word, sizeof word);
    while (length > 0) {
        if (IsLongOption(word)) {
            const char* afterWord = at;
            const size_t nextLength = readWord(&afterWord, next, sizeof next);
            if (TakeLongOption(word, nextLength > 0 ? next : nullptr, edition, options) == 2) {
                at = afterWord;
            }
        } else {
            AppendWord(word, length, rest, restCapacity, &restLength);
        }
        length = readWord(&at, word, sizeof word);
    }
}

void FormatHelpText(const Edition& edition, char* text, size_t capacity) {
    size_t length = 0;
    const char* name = edition.programName;
    Append(text, capacity, &length,
           "Usage: %s [OPTION]... [/F0 | /F1 | /F2 | /F3 FILE | /V]\n"
           "Updates the firmware of the pen-digitizer sensor.\n\n"
           "Without options the dialog is shown and waits for Update.\n"
           "  /F0, /F1, /F2 FILE  update at once, unattended, and end (FILE is not read)\n"
           "  /F3 FILE            show the dialog and wait for Update\n"
           "  /V                  update at once, unattended, and end\n"
           "Options with a slash may also start with a single '-', in either case.\n\n",
           name);
    for (const LongOptionRow& row : kLongOptions) {
        if ((row.editions & edition.flag) == 0) continue;
        char left[64];
        std::snprintf(left, sizeof left, "--%s%s%s", row.name, row.argument ? " " : "",
                      row.argument ? row.argument : "");
        Append(text, capacity, &length, "  %-18s  %s\n", left, row.help);
    }
    Append(text, capacity, &length,
           "\nExit status:\n"
           "  0  --help or --version; or the last update found no sensor\n"
           "  2  the dialog ended, or an unattended update ended (whatever its outcome:\n"
           "     the status line tells)\n"
           "  4  usage error: an unknown long option, or /F0 to /F3 without a file\n");
}

void FormatVersionText(const Edition& edition, FirmwareSource* source, char* text,
                       size_t capacity) {
    size_t length = 0;
    Append(text, capacity, &length, "%s 1.0.0.3\n", edition.programName);
    for (uint16_t kind = kSensorFamily0; kind <= kSensorFamily1; ++kind) {
        const ImageShape& shape = ImageShapeForKind(kind);
        char version[kVersionTextCapacity];
        FormatNewVersion(kind, version, sizeof version);
        Append(text, capacity, &length, "image %c, firmware %s (family %u): ", shape.letter,
               version, static_cast<unsigned>(kind));
        ImageChoice choice;
        const bool usable = ChooseImage(kind, source, &choice);
        switch (choice.origin) {
        case ImageOriginKind::Carried: {
            const CarriedImage& carried = CarriedImageForKind(kind);
            if (carried.origin == CarriedOrigin::BuildFile) {
                Append(text, capacity, &length, "embedded (from %s)\n", carried.buildPath);
            } else {
                Append(text, capacity, &length, "placeholder (for the simulated sensor only)\n");
            }
            break;
        }
        case ImageOriginKind::File:
            Append(text, capacity, &length, "%s\n", choice.path);
            break;
        case ImageOriginKind::FileProblem:
            if (source->directory != nullptr) {
                // The folder the user named: its file is what an update would take.
                Append(text, capacity, &length, "%s, not usable\n  %s\n", choice.path, choice.problem);
                break;
            }
            // Else nothing is carried and the system's folder has no usable file either.
            [[fallthrough]];
        case ImageOriginKind::NotCarried:
            Append(text, capacity, &length, "none: placeholder\n  %s\n", choice.problem);
            break;
        }
        if (usable) {
            char hex[kSha256HexCapacity];
            Sha256Hex(ImageBytes(choice.image), ImageByteCount(choice.image), hex);
            Append(text, capacity, &length, "  sha256 %s\n", hex);
        }
    }
}
