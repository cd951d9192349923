// The command line: /F0../F3 and /V choose an unattended launch, a bare word becomes the
// file name; /S, /W and /DUMP are stored for compatibility and used nowhere.
#include "app/command_line.h"

#include <cstdlib>
#include <cstring>

namespace {

// The bare word's characters, less the blank that started it, replace the file name.
// Words longer than the file-name field are cut to what it holds.
void TakeBareWord(const char* word, uint32_t length, LaunchOptions* options) {
    if (length > kFileNameCapacity - 1) {
        length = kFileNameCapacity - 1;
    }
    std::memcpy(options->fileName, word, length);
    options->fileName[length] = '\0';
}

uint32_t HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return static_cast<uint32_t>(c - '0');
    if (c >= 'A' && c <= 'F') return static_cast<uint32_t>(c - 'A' + 10);
    if (c >= 'a' && c <= 'f') return static_cast<uint32_t>(c - 'a' + 10);
    // Any other character still takes a digit's place.
    return 0;
}

bool IsLetter(char c, char upper) {
    return c == upper || c == upper - 'A' + 'a';
}

// An option token: `token` holds its own `length` characters and a terminator behind them.
void TakeOption(const char* token, uint32_t length, LaunchOptions* options) {
    if (length < 2) {
        return;
    }
    const char letter = token[1];
    if (IsLetter(letter, 'F')) {
        if (length >= 3 && token[2] >= '0' && token[2] <= '3') {
            options->launchMode = token[2] - '0';
        }
    } else if (IsLetter(letter, 'V')) {
        options->launchMode = 4;
    } else if (IsLetter(letter, 'S')) {
        uint32_t value = 0;
        for (uint32_t i = 2; i < length; ++i) {
            value = value * 16 + HexDigitValue(token[i]);  // digits past the eighth wrap out
        }
        options->sOptionValue = value;
        options->sOptionGiven = true;
    } else if (IsLetter(letter, 'W')) {
        options->wOptionValue = static_cast<int32_t>(std::strtol(token + 2, nullptr, 10));
    } else if (length >= 5 && IsLetter(token[1], 'D') && IsLetter(token[2], 'U') &&
               IsLetter(token[3], 'M') && IsLetter(token[4], 'P')) {
        options->dumpOptionGiven = true;
    }
}

}  // namespace

void ResetLaunchOptions(LaunchOptions* options) {
    std::memset(options, 0, sizeof *options);
    options->launchMode = kLaunchInteractive;
}

void ParseCommandLine(const char* commandLine, LaunchOptions* options) {
    if (commandLine == nullptr || commandLine[0] == '\0') {
        return;
    }
    // One token at a time; characters past the buffer's 511 are cut. The buffer is kept
    // NUL-terminated behind the token so that /W can be converted in place.
    char token[kTokenCapacity];
    std::memset(token, 0, sizeof token);
    uint32_t length = 0;
    bool firstToken = true;
    std::memset(options->fileName, 0, sizeof options->fileName);

    auto startToken = [&](char c) {
        std::memset(token, 0, sizeof token);
        token[0] = c;
        length = 1;
        firstToken = false;
    };

    for (size_t i = 0;; ++i) {
        const char c = commandLine[i];
        if (c == ' ' || c == '\0') {
            if (length > 0 && (token[0] == '/' || token[0] == '-')) {
                TakeOption(token, length, options);
            } else {
                // Every token but the first begins with its separating blank.
                const uint32_t skip = firstToken ? 0 : 1;
                TakeBareWord(token + skip, length - skip, options);
            }
            if (c == '\0') {
                break;
            }
            startToken(c);
        } else if (c == '/' || c == '-') {
            // A slash or hyphen starts an option wherever it stands; what came before it in
            // the same token is dropped unseen.
            startToken(c);
        } else if (length < kTokenCapacity - 1) {
            token[length++] = c;
        }
    }
}

bool LaunchInteractive(const LaunchOptions& options) { return options.launchMode >= 5; }

bool LaunchLacksFileName(const LaunchOptions& options) {
    const int32_t mode = options.launchMode;
    return mode < 5 && mode != 4 && options.fileName[0] == '\0';
}
