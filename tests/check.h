#pragma once
// Checks for the test programs that run without Qt Test (the Windows builds under Wine): each
// failed check is printed where it stands and counted; the program exits with the count.

#include <cstdio>

namespace kelvarion::test {
inline int failures = 0;
}  // namespace kelvarion::test

#define CHECK(condition)                                               \
  do {                                                                 \
    if (!(condition)) {                                                \
      std::printf("FAIL %s:%d: %s\n", __FILE__, __LINE__, #condition); \
      ++kelvarion::test::failures;                                     \
    }                                                                  \
  } while (false)
