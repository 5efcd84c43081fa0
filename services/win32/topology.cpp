// The processor topology on Windows: GetLogicalProcessorInformationEx, the records of every
// processor group. Windows numbers no cores itself: the cores are taken in the order it lists
// them, the hardware's, and the packages and dies in theirs (topology.h, FromCores).
#include "services/topology.h"

#include <windows.h>

#include <memory>

#include "services/affinity.h"

namespace kelvarion::topology {

namespace {

// Windows 10 lists the dies of a package too; older headers do not name that relation.
constexpr int kRelationProcessorDie = 5;

// Windows 10's efficiency class of a core: the byte after Flags, which older headers call
// reserved (and older systems leave 0, as on every machine whose cores are all alike).
int EfficiencyClass(const PROCESSOR_RELATIONSHIP& p) {
  return reinterpret_cast<const BYTE*>(&p)[1];
}

// The place in `lists` of the list that holds `processor`, or -1.
int Holding(const std::vector<std::vector<int>>& lists, int processor) {
  for (std::size_t i = 0; i < lists.size(); ++i)
    for (const int p : lists[i])
      if (p == processor) return static_cast<int>(i);
  return -1;
}

Description Read() {
  DWORD length = 0;
  GetLogicalProcessorInformationEx(RelationAll, nullptr, &length);
  if (length == 0) return FromCores({}, Words::Windows);
  std::unique_ptr<char[]> buffer(new char[length]);
  auto* first = reinterpret_cast<SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX*>(buffer.get());
  if (!GetLogicalProcessorInformationEx(RelationAll, first, &length))
    return FromCores({}, Words::Windows);
  std::vector<CoreRecord> cores;
  std::vector<std::vector<int>> dies, packages;
  for (DWORD at = 0; at < length;) {
    const auto* r =
        reinterpret_cast<const SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX*>(buffer.get() + at);
    if (r->Size == 0) break;
    at += r->Size;
    const int relation = static_cast<int>(r->Relationship);
    if (relation != RelationProcessorCore && relation != kRelationProcessorDie &&
        relation != RelationProcessorPackage)
      continue;
    const PROCESSOR_RELATIONSHIP& p = r->Processor;
    std::vector<affinity::GroupMask> masks;
    for (WORD g = 0; g < p.GroupCount; ++g)
      masks.push_back({p.GroupMask[g].Group, static_cast<std::uint64_t>(p.GroupMask[g].Mask)});
    std::vector<int> processors = affinity::Processors(masks);
    if (processors.empty()) continue;
    if (relation == RelationProcessorCore) {
      CoreRecord c;
      c.efficiency = EfficiencyClass(p);
      c.processors = std::move(processors);
      cores.push_back(std::move(c));
    } else {
      (relation == kRelationProcessorDie ? dies : packages).push_back(std::move(processors));
    }
  }
  for (CoreRecord& c : cores) {
    c.package = Holding(packages, c.processors.front());
    c.die = Holding(dies, c.processors.front());
  }
  return FromCores(cores, Words::Windows);
}

}  // namespace

const Description& System() {
  static const Description d = Read();
  return d;
}

}  // namespace kelvarion::topology
