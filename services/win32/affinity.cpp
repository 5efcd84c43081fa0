// Processor affinity on Windows, across processor groups (affinity.h): the program's processor
// number is group * 64 + the processor's number in its group.
#include "services/affinity.h"

#include <windows.h>

namespace kelvarion::affinity {

namespace {

// What the thread had before the program first held it, put back by a set that spans several
// groups. Each thread keeps its own.
thread_local GROUP_AFFINITY saved{};
thread_local bool haveSaved = false;

// Every processor of every active group; where the process is held to part of its group (a
// user's choice, as Task Manager's "Set affinity" makes), that part alone. The process's mask
// is 0 once its threads run in several groups, which only this program's tour does.
bool Get(std::vector<int>& processors) {
  DWORD_PTR process = 0, system = 0;
  USHORT group = 0, count = 1;
  if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) && process != 0 &&
      process != system && GetProcessGroupAffinity(GetCurrentProcess(), &count, &group) &&
      count == 1) {
    processors = Processors({GroupMask{group, process}});
    return !processors.empty();
  }
  std::vector<GroupMask> groups;
  const WORD active = GetActiveProcessorGroupCount();
  for (WORD g = 0; g < active; ++g) {
    const DWORD n = GetActiveProcessorCount(g);
    const int bits = static_cast<int>(8 * sizeof(KAFFINITY));  // 32 in the 32-bit build
    groups.push_back({g, n >= static_cast<DWORD>(bits) ? ~std::uint64_t{0} >> (64 - bits)
                                                       : (std::uint64_t{1} << n) - 1});
  }
  processors = Processors(groups);
  return !processors.empty();
}

bool Set(const std::vector<int>& processors) {
  const HANDLE thread = GetCurrentThread();
  GroupMask one;
  if (!InOneGroup(processors, one)) {
    if (processors.empty()) return false;
    // Several groups: the whole list put back at a test's end. A thread held within one group
    // gets back what it had; one never held has nothing to undo.
    if (!haveSaved) return true;
    haveSaved = false;
    return SetThreadGroupAffinity(thread, &saved, nullptr) != 0;
  }
  if (one.mask != static_cast<KAFFINITY>(one.mask)) return false;  // beyond a 32-bit group
  GROUP_AFFINITY wanted{};
  wanted.Group = static_cast<WORD>(one.group);
  wanted.Mask = static_cast<KAFFINITY>(one.mask);
  GROUP_AFFINITY before{};
  if (!SetThreadGroupAffinity(thread, &wanted, &before)) return false;
  if (!haveSaved) {
    saved = before;
    haveSaved = true;
  }
  return true;
}

int Current() {
  PROCESSOR_NUMBER here{};
  GetCurrentProcessorNumberEx(&here);
  return Number(here.Group, here.Number);
}

const Calls kSystem{&Get, &Set, &Current};

}  // namespace

const Calls& System() {
  return kSystem;
}

}  // namespace kelvarion::affinity
