// The fuzz targets' one assertion: a broken property is reported and the process aborts,
// which libFuzzer records as a crash with the input that caused it.
#pragma once

#include <cstdio>
#include <cstdlib>

inline void FuzzCheck(bool holds, const char* property, long detail = 0) {
    if (holds) return;
    std::fprintf(stderr, "property broken: %s (%ld)\n", property, detail);
    std::abort();
}
