// The one diagnostic channel: framed lines on the debugger output.
#pragma once

#include <cstdint>

#include "platform/system.h"  // kDiagLineCapacity: 1023 characters and the terminator

constexpr unsigned kSystemTextCapacity = 1024;

void LogDiagnostic(uint32_t errorCode, const char* message, const char* moduleText,
                   bool withSystemText);
