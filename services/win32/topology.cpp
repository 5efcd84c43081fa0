// The processor topology on Windows: GetLogicalProcessorInformationEx, in the processor group
// the process runs in (the one its affinity works in). Windows numbers no cores itself: a core,
// die or package is named by its place in the system's list of them, counted from 0.
#include "services/topology.h"

#include <windows.h>

#include <memory>

namespace kelvarion::topology {

namespace {

// Windows 10 lists the dies of a package too; older headers do not name that relation.
constexpr int kRelationProcessorDie = 5;

Description Read() {
  Description d;  // "logical processor", as Task Manager says
  PROCESSOR_NUMBER here{};
  GetCurrentProcessorNumberEx(&here);
  DWORD length = 0;
  GetLogicalProcessorInformationEx(RelationAll, nullptr, &length);
  if (length == 0) return d;
  std::unique_ptr<char[]> buffer(new char[length]);
  auto* first = reinterpret_cast<SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX*>(buffer.get());
  if (!GetLogicalProcessorInformationEx(RelationAll, first, &length)) return d;
  d.processors.resize(8 * sizeof(KAFFINITY));
  int cores = 0, dies = 0, packages = 0;
  for (DWORD at = 0; at < length;) {
    const auto* r =
        reinterpret_cast<const SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX*>(buffer.get() + at);
    if (r->Size == 0) break;
    at += r->Size;
    const int relation = static_cast<int>(r->Relationship);
    int Place::*field = nullptr;
    int number = 0;
    if (relation == RelationProcessorCore) {
      field = &Place::core;
      number = cores++;
    } else if (relation == kRelationProcessorDie) {
      field = &Place::die;
      number = dies++;
    } else if (relation == RelationProcessorPackage) {
      field = &Place::package;
      number = packages++;
    } else {
      continue;
    }
    const PROCESSOR_RELATIONSHIP& p = r->Processor;
    for (WORD g = 0; g < p.GroupCount; ++g) {
      if (p.GroupMask[g].Group != here.Group) continue;
      for (std::size_t bit = 0; bit < d.processors.size(); ++bit)
        if (p.GroupMask[g].Mask & (KAFFINITY{1} << bit)) d.processors[bit].*field = number;
    }
  }
  d.severalPackages = packages > 1;
  // Dies are listed across packages: more dies than packages means some package has several.
  d.severalDies = dies > packages && packages > 0;
  return d;
}

}  // namespace

const Description& System() {
  static const Description d = Read();
  return d;
}

}  // namespace kelvarion::topology
