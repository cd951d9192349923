// Counts heap allocations of the whole process (global operator new), for benchmarks that
// must show that a hot path allocates nothing.
#pragma once

#include <cstdint>

uint64_t AllocationCount();
