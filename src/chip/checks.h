// ZIRRAFON_ASSERT(condition): a stated bound of the engine's fast paths
// (frame sums below 2^29, at most 8 ticks a frame, ...) checked where the
// code relies on it. Active in the builds that hunt faults (the sanitizer and
// fuzz builds define ZIRRAFON_CHECKS), where a broken bound stops the program
// with its file, line and condition; compiled out elsewhere, where the
// condition is not even evaluated, so checks cost nothing in the player.
#pragma once

#if defined(ZIRRAFON_CHECKS)
#include <cstdio>
#include <cstdlib>

namespace zirrafon_checks {
[[noreturn]] inline void Failed(const char* condition, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: bound broken: %s\n", file, line, condition);
    std::abort();
}
} // namespace zirrafon_checks

#define ZIRRAFON_ASSERT(condition)                                                                 \
    ((condition) ? static_cast<void>(0) : ::zirrafon_checks::Failed(#condition, __FILE__, __LINE__))
#else
#define ZIRRAFON_ASSERT(condition) static_cast<void>(sizeof((condition) ? 1 : 0))
#endif
