#pragma once
// Which logical processors the calling thread may run on. The stress test holds its thread to
// one processor at a time and moves it from one to the next, so that every core is driven to
// its highest boost clock in turn and an error can be laid at the door of one of them.
//
// The calls come as a table of functions so that the test can be given others: tests use that
// to see what is asked and to make a call fail. Each backend provides the platform's own:
//   Linux    services/qt/affinity.cpp: sched_getaffinity, sched_setaffinity, sched_getcpu. A
//            processor's number is the kernel's (CPU 5 is 5).
//   Windows  services/win32/affinity.cpp, built with that backend. Windows counts processors
//            within processor groups of up to 64 (machines with more than 64 logical processors
//            have several), so the program numbers a processor group * 64 + its number within
//            the group (`Number`): processor 3 of group 1 is 67, and on a machine of one group
//            the program's numbers are Windows' own. Every processor of every active group
//            (GetActiveProcessorGroupCount, GetActiveProcessorCount), or, where the process is
//            held to part of its group, that part (GetProcessAffinityMask); SetThreadGroupAffinity,
//            which holds a thread within one group, on GetCurrentThread(); and
//            GetCurrentProcessorNumberEx. A set that spans several groups (the whole list, put
//            back at a test's end) puts back the group affinity the thread had before it was
//            first held (GetThreadGroupAffinity).

#include <algorithm>
#include <cstdint>
#include <vector>

namespace kelvarion::affinity {

struct Calls {
  // The logical processors the calling thread may run on now, in increasing order. False if
  // the system cannot say.
  bool (*get)(std::vector<int>& processors);
  // Lets the calling thread run only on these processors. False if the system refuses.
  bool (*set)(const std::vector<int>& processors);
  // The logical processor the calling thread is running on, or -1 if the system cannot say.
  int (*current)();
};

// The platform's calls.
const Calls& System();

// Windows' processor groups, in the program's numbering; written once here, with no system
// call, so that tests can give them any machine.
constexpr int kGroupSize = 64;
inline int Number(int group, int number) {
  return group * kGroupSize + number;
}
inline int GroupOf(int processor) {
  return processor / kGroupSize;
}
inline int NumberInGroup(int processor) {
  return processor % kGroupSize;
}

// One group's processors as a mask (bit n: processor n of the group).
struct GroupMask {
  int group = 0;
  std::uint64_t mask = 0;
};

// The program's numbers of the processors in these masks, in increasing order.
inline std::vector<int> Processors(const std::vector<GroupMask>& groups) {
  std::vector<int> out;
  for (const GroupMask& g : groups)
    for (int n = 0; n < kGroupSize; ++n)
      if (g.group >= 0 && (g.mask >> n & 1)) out.push_back(Number(g.group, n));
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

// The group that holds all these processors and their mask in it; false where they lie in
// several groups (or none), as a thread can be held within one group only.
inline bool InOneGroup(const std::vector<int>& processors, GroupMask& out) {
  if (processors.empty()) return false;
  out = GroupMask{GroupOf(processors.front()), 0};
  for (const int p : processors) {
    if (p < 0 || GroupOf(p) != out.group) return false;
    out.mask |= std::uint64_t{1} << NumberInGroup(p);
  }
  return true;
}

}  // namespace kelvarion::affinity
