// Processor affinity on Windows. Limited to the processor group the process runs in: 64 logical
// processors (32 in the 32-bit build), all of them on most machines.
#include "services/affinity.h"

#include <windows.h>

namespace kelvarion::affinity {

namespace {

// A thread's own mask cannot be read back without changing it; it starts as the process's,
// and the test puts back what it found, so the process's mask is the thread's between tests.
bool Get(std::vector<int>& processors) {
  DWORD_PTR process = 0, system = 0;
  if (!GetProcessAffinityMask(GetCurrentProcess(), &process, &system)) return false;
  processors.clear();
  for (int i = 0; i < static_cast<int>(8 * sizeof(DWORD_PTR)); ++i)
    if (process & (DWORD_PTR{1} << i)) processors.push_back(i);
  return !processors.empty();
}

bool Set(const std::vector<int>& processors) {
  DWORD_PTR mask = 0;
  for (int p : processors) {
    if (p < 0 || p >= static_cast<int>(8 * sizeof(DWORD_PTR))) return false;
    mask |= DWORD_PTR{1} << p;
  }
  return mask != 0 && SetThreadAffinityMask(GetCurrentThread(), mask) != 0;
}

int Current() {
  return static_cast<int>(GetCurrentProcessorNumber());
}

const Calls kSystem{&Get, &Set, &Current};

}  // namespace

const Calls& System() {
  return kSystem;
}

}  // namespace kelvarion::affinity
