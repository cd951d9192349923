#include "sensor/diag_log.h"

#include <cstdio>
#include <cstring>

#include "platform/system.h"

namespace {

// Appends `text` to the line, cutting it where the line is full; returns the new length.
size_t Append(char* line, size_t length, const char* text) {
    const size_t room = kDiagLineCapacity - 1 - length;
    size_t n = std::strlen(text);
    if (n > room) n = room;
    std::memcpy(line + length, text, n);
    line[length + n] = '\0';
    return length + n;
}

}  // namespace

void LogDiagnostic(uint32_t errorCode, const char* message, const char* moduleText,
                   bool withSystemText) {
    // The line is assembled in storage of this call, so lines written from two threads
    // never mix, and the caller's message is left as it was: the error part goes into the
    // line only. A line longer than the storage is cut.
    char line[kDiagLineCapacity];
    line[0] = '\0';
    size_t length = Append(line, 0, "---------- < ");
    length = Append(line, length, moduleText);
    length = Append(line, length, " > ---------\n");
    length = Append(line, length, message);
    if (withSystemText) {
        char systemText[kSystemTextCapacity];
        if (plat_error_text(errorCode, systemText, sizeof(systemText)) == 0) {
            std::snprintf(systemText, sizeof(systemText), "\nError Code = %x",
                          static_cast<unsigned>(errorCode));
        }
        systemText[kSystemTextCapacity - 1] = '\0';
        length = Append(line, length, systemText);
    }
    plat_debug_output(line);
}
