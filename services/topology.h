#pragma once
// Where each logical processor sits: its physical core, and the die and package (socket) that
// hold the core, as the system describes them, with the words the system's own tools use. The
// error window names a failing processor so, because overclockers set clocks and voltages per
// physical core. Each backend fills the description from its system's calls:
//   Linux    services/qt/topology.cpp: sysfs, /sys/devices/system/cpu/cpuN/topology (the
//            reading itself, FromSysfs, is shared, so that tests can give it a stand-in root).
//   Windows  services/win32/topology.cpp: GetLogicalProcessorInformationEx, the records of
//            each core, die and package in the processor group the process runs in.

#include <string>
#include <vector>

namespace kelvarion::topology {

struct Place {
  int core = -1, die = -1, package = -1;  // -1 where the system did not say
};

struct Description {
  std::vector<Place> processors;  // by logical processor number
  bool severalDies = false;       // some package holds more than one die
  bool severalPackages = false;
  // The words: "CPU" (Linux: lscpu, top, taskset) or "logical processor" (Windows' Task Manager);
  // "core"; "die"; "socket".
  const char* logical = "logical processor";
  const char* core = "core";
  const char* die = "die";
  const char* package = "socket";
};

// The system's description, read once, when it is first asked for.
const Description& System();

// "CPU 5 (core 2)", "CPU 5 (core 2, socket 1)", "logical processor 5 (core 2, die 1)", or the
// logical processor alone where its core is not known; "a CPU the system did not name" for -1.
std::string Name(const Description& d, int logical);

// "core 2", "core 2 of socket 1", ...: the physical core alone, for advice given per core; the
// logical processor's core in words ("the core of CPU 5") where the system did not say.
std::string CoreName(const Description& d, int logical);

// Whether two logical processors are one physical core (or the same processor).
bool SameCore(const Description& d, int a, int b);

// Linux: the description sysfs gives under `root` (/sys/devices/system/cpu): the processors
// `possible` lists, each with topology/core_id, die_id and physical_package_id where present.
Description FromSysfs(const std::string& root);

}  // namespace kelvarion::topology
