#pragma once
// Which logical processors the calling thread may run on. The stress test holds its thread to
// one processor at a time and moves it from one to the next, so that every core is driven to
// its highest boost clock in turn and an error can be laid at the door of one of them.
//
// The calls come as a table of functions so that the test can be given others: tests use that
// to see what is asked and to make a call fail. Each backend provides the platform's own:
//   Linux    services/qt/affinity.cpp: sched_getaffinity, sched_setaffinity, sched_getcpu.
//   Windows  services/win32/affinity.cpp, built with that backend: GetProcessAffinityMask (a
//            thread's own mask cannot be read back, and it starts as the process's),
//            SetThreadAffinityMask on GetCurrentThread(), GetCurrentProcessorNumber; limited to
//            the processor group the process runs in (64 logical processors).

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

}  // namespace kelvarion::affinity
