// Counts heap allocations made by the whole process, so tests and benchmarks can check
// that a steady-state path allocates nothing. Works by interposing malloc and friends;
// sanitizers own those symbols, so the counter is unavailable in sanitizer builds.
#pragma once

#include <cstddef>

namespace test_support {

// False when the build cannot count (sanitizers); the counts are then always 0.
bool alloc_counting_available();
// Allocations (malloc, calloc, realloc, aligned forms) made so far by every thread.
std::size_t allocation_count();

}  // namespace test_support
