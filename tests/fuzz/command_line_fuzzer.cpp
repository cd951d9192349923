// The command-line parser on any bytes of any length. The text sits in storage of exactly
// its size (so a read past its end is caught) and the options record is checked to hold
// terminated text within its field. Each parse is compared with a plain model of the
// option rules written from the documented behaviour, and the documented cases are checked
// once at start-up, so a change of behaviour shows here as well as a memory error.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "app/command_line.h"
#include "fuzz_check.h"
#include "fuzz_platform.h"

namespace {


struct Model {
    int32_t launchMode = 255;
    uint32_t sOptionValue = 0;
    int sOptionGiven = 0;
    int32_t wOptionValue = 0;
    int dumpOptionGiven = 0;
    std::string fileName;
    uint32_t fileNameSets = 0;
};

bool Letter(char c, char upper) { return c == upper || c == upper - 'A' + 'a'; }

void ModelOption(const std::string& token, Model* m) {
    if (token.size() < 2) return;
    const char letter = token[1];
    if (Letter(letter, 'F')) {
        if (token.size() >= 3 && token[2] >= '0' && token[2] <= '3') m->launchMode = token[2] - '0';
    } else if (Letter(letter, 'V')) {
        m->launchMode = 4;
    } else if (Letter(letter, 'S')) {
        uint32_t value = 0;
        for (size_t i = 2; i < token.size(); ++i) {
            const char c = token[i];
            uint32_t digit = 0;
            if (c >= '0' && c <= '9') digit = static_cast<uint32_t>(c - '0');
            if (c >= 'A' && c <= 'F') digit = static_cast<uint32_t>(c - 'A' + 10);
            if (c >= 'a' && c <= 'f') digit = static_cast<uint32_t>(c - 'a' + 10);
            value = value * 16 + digit;
        }
        m->sOptionValue = value;
        m->sOptionGiven = 1;
    } else if (Letter(letter, 'W')) {
        m->wOptionValue = static_cast<int32_t>(std::strtol(token.c_str() + 2, nullptr, 10));
    } else if (token.size() >= 5 && Letter(token[1], 'D') && Letter(token[2], 'U') &&
               Letter(token[3], 'M') && Letter(token[4], 'P')) {
        m->dumpOptionGiven = 1;
    }
}

// Tokens end at a blank or the end; "/" and "-" start a new token and drop the one begun.
// A token keeps at most 511 characters and a file name what its field holds.
Model ModelParse(const char* commandLine) {
    Model m;
    if (commandLine[0] == '\0') return m;
    std::string token;
    bool first = true;
    for (size_t i = 0;; ++i) {
        const char c = commandLine[i];
        if (c == ' ' || c == '\0') {
            if (!token.empty() && (token[0] == '/' || token[0] == '-')) {
                ModelOption(token, &m);
            } else {
                std::string word = first ? token : token.substr(1);
                if (word.size() >= kFileNameCapacity) word.resize(kFileNameCapacity - 1);
                m.fileName = word;
                ++m.fileNameSets;
            }
            if (c == '\0') break;
            token.assign(1, c);
            first = false;
        } else if (c == '/' || c == '-') {
            token.assign(1, c);
            first = false;
        } else if (token.size() < 511) {
            token += c;
        }
    }
    return m;
}

struct Parsed {
    LaunchOptions options;
};

Parsed Parse(const char* commandLine) {
    Parsed p;
    ResetLaunchOptions(&p.options);
    ParseCommandLine(commandLine, &p.options);
    return p;
}

void CheckAgainstModel(const char* commandLine) {
    const Parsed p = Parse(commandLine);
    const Model m = ModelParse(commandLine);
    // The file name is terminated inside its field before anything reads it as text.
    FuzzCheck(std::memchr(p.options.fileName, '\0', kFileNameCapacity) != nullptr,
              "the file name is terminated within its 260 characters");
    FuzzCheck(p.options.launchMode == m.launchMode, "launch mode", p.options.launchMode);
    FuzzCheck(p.options.sOptionValue == m.sOptionValue, "/S value",
              static_cast<long>(p.options.sOptionValue));
    FuzzCheck(p.options.sOptionGiven == m.sOptionGiven, "/S given");
    FuzzCheck(p.options.wOptionValue == m.wOptionValue, "/W value", p.options.wOptionValue);
    FuzzCheck(p.options.dumpOptionGiven == m.dumpOptionGiven, "/DUMP given");
    FuzzCheck(m.fileName == p.options.fileName, "file name");
}

struct DocumentedCase {
    const char* commandLine;
    int32_t launchMode;
    const char* fileName;
    uint32_t sOptionValue;
    int sOptionGiven;
    int32_t wOptionValue;
    int dumpOptionGiven;
};

// The documented cases of the command line, parsed exactly so.
const DocumentedCase kDocumented[] = {
    {"", 255, "", 0, 0, 0, 0},
    {"/F0 image.bin", 0, "image.bin", 0, 0, 0, 0},
    {"image.bin -f1", 1, "image.bin", 0, 0, 0, 0},
    {"/F2 ", 2, "", 0, 0, 0, 0},
    {"/F4", 255, "", 0, 0, 0, 0},
    {"/F01", 0, "", 0, 0, 0, 0},
    {"/verbose", 4, "", 0, 0, 0, 0},
    {"/S1aF", 255, "", 0x1AF, 1, 0, 0},
    {"/S", 255, "", 0, 1, 0, 0},
    {"/S12G4", 255, "", 0x1204, 1, 0, 0},
    {"/S123456789", 255, "", 0x23456789, 1, 0, 0},
    {"/W250 x", 255, "x", 0, 0, 250, 0},
    {"/Wabc", 255, "", 0, 0, 0, 0},
    {"/W+17", 255, "", 0, 0, 17, 0},
    {"/dump", 255, "", 0, 0, 0, 1},
    {"/DuMpX", 255, "", 0, 0, 0, 1},
    {"/DUM", 255, "", 0, 0, 0, 0},
    {"my-file.bin", 255, "", 0, 0, 0, 0},
    {"images/a.bin", 255, "", 0, 0, 0, 0},
    {"a.bin b.bin", 255, "b.bin", 0, 0, 0, 0},
    {"\"q r\"", 255, "r\"", 0, 0, 0, 0},
    {"/F1 /V", 4, "", 0, 0, 0, 0},
    {"/V /F1", 1, "", 0, 0, 0, 0},
    {"x\ty", 255, "x\ty", 0, 0, 0, 0},
};

void CheckDocumentedCases() {
    for (const DocumentedCase& c : kDocumented) {
        const Parsed p = Parse(c.commandLine);
        const bool same = p.options.launchMode == c.launchMode &&
                          std::strcmp(p.options.fileName, c.fileName) == 0 &&
                          p.options.sOptionValue == c.sOptionValue &&
                          p.options.sOptionGiven == c.sOptionGiven &&
                          p.options.wOptionValue == c.wOptionValue &&
                          p.options.dumpOptionGiven == c.dumpOptionGiven;
        if (!same) std::fprintf(stderr, "documented case \"%s\" parsed differently\n", c.commandLine);
        FuzzCheck(same, "a documented case parses as documented");
        CheckAgainstModel(c.commandLine);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    CheckDocumentedCases();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The text as the start-up code hands it over: NUL-terminated; a NUL inside ends it.
    std::unique_ptr<char[]> text(new char[size + 1]);
    std::memcpy(text.get(), data, size);
    text[size] = '\0';
    CheckAgainstModel(text.get());
    return 0;
}
