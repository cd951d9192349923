// The diagnostic log with message and module texts of any length, with or without the
// system's error text (of any length too, or none). The line must be the framed text cut
// to 1023 characters, emitted once, terminated inside its storage.
//
// Input: byte 0 flags (bit 0: ask for the system text; bit 1: the system has a text),
// bytes 1-4 the error code, bytes 5-6 the module length, 7-8 the message length, 9-10 the
// system text length (each up to 65535), then the bytes the three texts are cut from, in
// turn, repeated as often as needed. A zero byte in a text ends it early, as in C.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz_check.h"
#include "fuzz_platform.h"
#include "sensor/diag_log.h"

namespace {

// A text of `length` bytes from the fill bytes, in storage of exactly its size.
std::unique_ptr<char[]> MakeText(const uint8_t* fill, size_t fillSize, size_t* cursor,
                                 size_t length, bool allowZero) {
    std::unique_ptr<char[]> text(new char[length + 1]);
    for (size_t i = 0; i < length; ++i) {
        char c = fillSize == 0 ? 'm' : static_cast<char>(fill[(*cursor)++ % fillSize]);
        if (!allowZero && c == '\0') c = '0';
        text[i] = c;
    }
    text[length] = '\0';
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 11) return 0;
    const bool withSystemText = data[0] & 1;
    const bool systemHasText = (data[0] >> 1) & 1;
    const uint32_t errorCode = static_cast<uint32_t>(data[1]) | static_cast<uint32_t>(data[2]) << 8 |
                               static_cast<uint32_t>(data[3]) << 16 | static_cast<uint32_t>(data[4]) << 24;
    const size_t moduleLength = data[5] | data[6] << 8;
    const size_t messageLength = data[7] | data[8] << 8;
    // The fake system's text is kept below its 4096-byte store.
    const size_t systemLength = (data[9] | data[10] << 8) % (kFuzzSystemTextCapacity - 1);
    const uint8_t* fill = data + 11;
    const size_t fillSize = size - 11;
    size_t cursor = 0;
    std::unique_ptr<char[]> module = MakeText(fill, fillSize, &cursor, moduleLength, true);
    std::unique_ptr<char[]> message = MakeText(fill, fillSize, &cursor, messageLength, true);
    std::unique_ptr<char[]> system = MakeText(fill, fillSize, &cursor, systemLength, false);

    FuzzSetup setup{};
    fuzz_machine_reset(setup, nullptr, 0);
    if (systemHasText) {
        std::memcpy(fuzzMachine.systemText, system.get(), systemLength + 1);
        fuzzMachine.systemTextSet = 1;
    }
    const std::string messageBefore = message.get();

    LogDiagnostic(errorCode, message.get(), module.get(), withSystemText ? 1 : 0);

    // The expected line: opening, module, closing, message, the error part when asked for
    // (the system's text when it fits the 1024-character buffer, else the code in hex).
    std::string line = "---------- < ";
    line += module.get();
    line += " > ---------\n";
    line += message.get();
    if (withSystemText) {
        if (systemHasText && systemLength > 0 && systemLength + 1 <= kSystemTextCapacity) {
            line += system.get();
        } else {
            char code[32];
            std::snprintf(code, sizeof code, "\nError Code = %x", errorCode);
            line += code;
        }
    }
    if (line.size() > kDiagLineCapacity - 1) line.resize(kDiagLineCapacity - 1);

    FuzzCheck(fuzzMachine.lineCount == 1, "one call emits one line",
              static_cast<long>(fuzzMachine.lineCount));
    FuzzCheck(fuzzMachine.lineLengths[0] <= kDiagLineCapacity - 1, "the line holds 1023 characters",
              static_cast<long>(fuzzMachine.lineLengths[0]));
    FuzzCheck(line == fuzzMachine.lines[0], "the line is the framed text");
    FuzzCheck(messageBefore == message.get(), "the caller's message is left as it was");
    return 0;
}
