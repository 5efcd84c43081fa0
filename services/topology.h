#pragma once
// Where each logical processor sits: its physical core, and the die and package (socket) that
// hold the core, with the words the system's own tools use. The error window names a failing
// processor so, because overclockers set clocks and voltages per physical core, in firmware
// and vendor tools that count the cores in order.
//
// A core, die or package is named by its place in order on the machine, from 0: never by the
// system's own identifier of it (sysfs's core_id is the hardware's, often with gaps: a part
// of two dies of six cores can number them 0-5 and 8-13). The order is the hardware's:
//   Linux    services/qt/topology.cpp: sysfs, /sys/devices/system/cpu/cpuN/topology, the cores
//            in order of (physical_package_id, die_id, core_id); on hybrid parts the kinds from
//            the lists /sys/devices/cpu_core/cpus (performance) and cpu_atom/cpus (efficiency).
//            The reading, FromSysfs, is shared, so that tests can give it a stand-in root.
//   Windows  services/win32/topology.cpp: GetLogicalProcessorInformationEx, every processor
//            group's records, the cores in the order it lists them; the kinds from each core's
//            efficiency class (the higher, the faster), where the classes differ.
// Both build the description with FromCores, so the numbering is written once.

#include <string>
#include <vector>

namespace kelvarion::topology {

enum class CoreKind { Unknown, Performance, Efficiency };

struct Place {
  int core = -1;               // the physical core's place in order on the machine (-1: unknown)
  int die = -1, package = -1;  // places in order as well
  int group = -1;              // Windows: the processor group (-1 elsewhere)
  int number = -1;             // Windows: the processor's number within its group
  CoreKind kind = CoreKind::Unknown;
  int ofKind = -1;  // hybrid parts: the core's place among the cores of its kind
};

struct Description {
  std::vector<Place> processors;  // by the program's processor number (affinity.h)
  bool severalDies = false;       // some package holds more than one die
  bool severalPackages = false;
  bool hybrid = false;         // performance and efficiency cores
  bool severalGroups = false;  // Windows: more than one processor group
  // The words: "CPU" (Linux: lscpu, top, taskset) or "logical processor" (Windows' Task
  // Manager), each made plural with an s; "core"; "die"; "socket"; "group".
  const char* logical = "logical processor";
  const char* core = "core";
  const char* die = "die";
  const char* package = "socket";
  const char* group = "group";
};

// The system's description, read once, when it is first asked for.
const Description& System();

// "CPU 5 (core 2)", "CPU 5 (core 2, socket 1)", "logical processor 5 (core 2, die 1)",
// "logical processor 5 of group 1 (core 34)" where Windows has several groups; the logical
// processor alone where its core is not known; "a CPU the system did not name" for -1.
std::string Name(const Description& d, int processor);

// The physical core, for advice given per core, with its logical processors: "core 2, with CPUs 4
// and 5", "core 2 (die 1, socket 0), with CPU 4", on hybrid parts its kind and place among its kind
// ("core 9, efficiency core 1, with CPU 17"), on Windows with several groups "core 34, with logical
// processors 4 and 5 of group 1". "the core of CPU 5" where the system did not say.
std::string CoreName(const Description& d, int processor);

// The same processor, or two on one known physical core.
bool SameCore(const Description& d, int a, int b);

// One physical core as the system lists it, in the hardware's order.
struct CoreRecord {
  int package = -1, die = -1;   // the system's identifiers (any numbers), -1 if not known
  int efficiency = -1;          // the higher, the faster; -1 if not known
  std::vector<int> processors;  // the program's numbers of its logical processors
};

// Which system's numbering and words: Linux (CPU numbers) or Windows (group * 64 + number).
enum class Words { Linux, Windows };

// The description of these cores, numbered in the order given; packages and dies in order of
// their identifiers (dies within their package); the kinds where the efficiencies differ.
Description FromCores(const std::vector<CoreRecord>& cores, Words words);

// Linux: the description sysfs gives under `root` (/sys/devices/system/cpu): the processors
// `possible` lists, each with topology/core_id, die_id and physical_package_id where present
// (an offline processor has none), and the kinds from root/../../cpu_core/cpus and
// root/../../cpu_atom/cpus (/sys/devices/...) where both are there.
Description FromSysfs(const std::string& root);

}  // namespace kelvarion::topology
