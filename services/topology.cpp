// The shared part of the processor topology (topology.h): the numbering, the names, and the
// reading of sysfs.
#include "services/topology.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <tuple>
#include <utility>

#include "services/affinity.h"

namespace kelvarion::topology {

namespace {

const Place* PlaceOf(const Description& d, int processor) {
  if (processor < 0 || processor >= static_cast<int>(d.processors.size())) return nullptr;
  const Place& p = d.processors[static_cast<std::size_t>(processor)];
  return p.core >= 0 ? &p : nullptr;
}

// "die 1, socket 0" where the machine has more than one of them; "" where it has not.
std::string Containers(const Description& d, const Place& p) {
  std::string s;
  const auto add = [&](const char* word, int n) {
    s += (s.empty() ? "" : ", ") + std::string(word) + ' ' + std::to_string(n);
  };
  if (d.severalDies && p.die >= 0) add(d.die, p.die);
  if (d.severalPackages && p.package >= 0) add(d.package, p.package);
  return s;
}

// "4", "4 and 5", "0, 1 and 2".
std::string Join(const std::vector<std::string>& items) {
  std::string s;
  for (std::size_t i = 0; i < items.size(); ++i)
    s += (i == 0 ? "" : i + 1 == items.size() ? " and " : ", ") + items[i];
  return s;
}

// " of group 1" where Windows has several groups.
std::string GroupSuffix(const Description& d, int group) {
  return d.severalGroups ? " of " + std::string(d.group) + ' ' + std::to_string(group) : "";
}

// A processor's number as the system shows it: within its group where there are several.
int Shown(const Description& d, int processor) {
  return d.severalGroups ? affinity::NumberInGroup(processor) : processor;
}

// A whole file's first number, or -1.
int ReadNumber(const std::string& path) {
  std::ifstream in(path);
  long n = -1;
  if (!(in >> n) || n < 0 || n > 1 << 24) return -1;
  return static_cast<int>(n);
}

// "0-3,8-11" into its numbers.
std::vector<int> ReadList(const std::string& path) {
  std::ifstream in(path);
  std::string text;
  std::vector<int> out;
  if (!std::getline(in, text)) return out;
  std::stringstream items(text);
  std::string item;
  while (std::getline(items, item, ',')) {
    char* end = nullptr;
    const long lo = std::strtol(item.c_str(), &end, 10);
    long hi = lo;
    if (end && *end == '-') hi = std::strtol(end + 1, nullptr, 10);
    if (lo < 0 || hi < lo || hi > 1 << 16) return {};
    for (long n = lo; n <= hi; ++n) out.push_back(static_cast<int>(n));
  }
  return out;
}

template <class T>
int Rank(const std::set<T>& all, const T& one) {
  const auto at = all.find(one);
  return at == all.end() ? -1 : static_cast<int>(std::distance(all.begin(), at));
}

}  // namespace

std::string Name(const Description& d, int processor) {
  if (processor < 0) return std::string("a ") + d.logical + " the system did not name";
  std::string s = std::string(d.logical) + ' ' + std::to_string(Shown(d, processor)) +
                  GroupSuffix(d, affinity::GroupOf(processor));
  if (const Place* p = PlaceOf(d, processor)) {
    const std::string containers = Containers(d, *p);
    s += " (" + std::string(d.core) + ' ' + std::to_string(p->core) +
         (containers.empty() ? "" : ", " + containers) + ')';
  }
  return s;
}

std::string CoreName(const Description& d, int processor) {
  const Place* p = PlaceOf(d, processor);
  if (!p) return "the " + std::string(d.core) + " of " + Name(d, processor);
  std::string s = std::string(d.core) + ' ' + std::to_string(p->core);
  const std::string containers = Containers(d, *p);
  if (!containers.empty()) s += " (" + containers + ')';
  if (d.hybrid && p->kind != CoreKind::Unknown)
    s += std::string(p->kind == CoreKind::Performance ? ", performance " : ", efficiency ") +
         d.core + ' ' + std::to_string(p->ofKind);
  // Its logical processors, which Windows keeps in one group (named once), as it keeps a core.
  std::vector<int> members;
  std::set<int> groups;
  for (int q = 0; q < static_cast<int>(d.processors.size()); ++q)
    if (const Place* o = PlaceOf(d, q); o && o->core == p->core) {
      members.push_back(q);
      groups.insert(affinity::GroupOf(q));
    }
  const bool oneGroup = groups.size() == 1;
  std::vector<std::string> numbers;
  for (const int q : members)
    numbers.push_back(std::to_string(Shown(d, q)) +
                      (oneGroup ? "" : GroupSuffix(d, affinity::GroupOf(q))));
  s += std::string(", with ") + d.logical + (members.size() == 1 ? " " : "s ") + Join(numbers) +
       (oneGroup ? GroupSuffix(d, *groups.begin()) : "");
  return s;
}

bool SameCore(const Description& d, int a, int b) {
  if (a == b) return true;
  const Place* pa = PlaceOf(d, a);
  const Place* pb = PlaceOf(d, b);
  return pa && pb && pa->core == pb->core;
}

Description FromCores(const std::vector<CoreRecord>& cores, Words words) {
  Description d;
  if (words == Words::Linux) d.logical = "CPU";
  std::set<int> packages, classes;
  std::set<std::pair<int, int>> dies;
  for (const CoreRecord& c : cores) {
    if (c.package >= 0) packages.insert(c.package);
    if (c.die >= 0) dies.insert({c.package, c.die});
    if (c.efficiency >= 0) classes.insert(c.efficiency);
  }
  d.hybrid = classes.size() > 1;
  int ofKind[3] = {};
  std::set<int> groups;
  for (std::size_t i = 0; i < cores.size(); ++i) {
    const CoreRecord& c = cores[i];
    Place place;
    place.core = static_cast<int>(i);
    place.package = c.package >= 0 ? Rank(packages, c.package) : -1;
    place.die = c.die >= 0 ? Rank(dies, {c.package, c.die}) : -1;
    if (d.hybrid && c.efficiency >= 0) {
      place.kind = c.efficiency == *classes.rbegin() ? CoreKind::Performance : CoreKind::Efficiency;
      place.ofKind = ofKind[static_cast<int>(place.kind)]++;
    }
    for (const int p : c.processors) {
      if (p < 0) continue;
      if (d.processors.size() <= static_cast<std::size_t>(p))
        d.processors.resize(static_cast<std::size_t>(p) + 1);
      Place& at = d.processors[static_cast<std::size_t>(p)];
      at = place;
      if (words == Words::Windows) {
        at.group = affinity::GroupOf(p);
        at.number = affinity::NumberInGroup(p);
        groups.insert(at.group);
      }
    }
  }
  d.severalPackages = packages.size() > 1;
  std::map<int, int> diesOf;
  for (const auto& die : dies) d.severalDies = d.severalDies || ++diesOf[die.first] > 1;
  d.severalGroups = groups.size() > 1;
  return d;
}

Description FromSysfs(const std::string& root) {
  const std::vector<int> possible = ReadList(root + "/possible");
  const std::vector<int> performance = ReadList(root + "/../../cpu_core/cpus");
  const std::vector<int> efficiency = ReadList(root + "/../../cpu_atom/cpus");
  const bool hybrid = !performance.empty() && !efficiency.empty();
  const auto in = [](const std::vector<int>& list, int cpu) {
    return std::find(list.begin(), list.end(), cpu) != list.end();
  };
  // The cores in order of (package, die, core_id), each with its CPUs.
  std::map<std::tuple<int, int, int>, CoreRecord> byId;
  for (const int cpu : possible) {
    const std::string dir = root + "/cpu" + std::to_string(cpu) + "/topology/";
    const int core = ReadNumber(dir + "core_id");
    if (core < 0) continue;  // offline: its place unknown
    const int package = ReadNumber(dir + "physical_package_id");
    const int die = ReadNumber(dir + "die_id");
    CoreRecord& r = byId[{package, die, core}];
    r.package = package;
    r.die = die;
    if (hybrid) r.efficiency = in(performance, cpu) ? 1 : in(efficiency, cpu) ? 0 : -1;
    r.processors.push_back(cpu);
  }
  std::vector<CoreRecord> cores;
  for (auto& entry : byId) cores.push_back(std::move(entry.second));
  Description d = FromCores(cores, Words::Linux);
  if (!possible.empty() && d.processors.size() <= static_cast<std::size_t>(possible.back()))
    d.processors.resize(static_cast<std::size_t>(possible.back()) + 1);
  return d;
}

}  // namespace kelvarion::topology
