// The shared part of the processor topology (topology.h): names, and the reading of sysfs.
#include "services/topology.h"

#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <utility>

namespace kelvarion::topology {

namespace {

const Place* PlaceOf(const Description& d, int logical) {
  if (logical < 0 || logical >= static_cast<int>(d.processors.size())) return nullptr;
  const Place& p = d.processors[static_cast<std::size_t>(logical)];
  return p.core >= 0 ? &p : nullptr;
}

// ", die 1", ", socket 0" where the machine has more than one.
std::string Containers(const Description& d, const Place& p, const char* joint) {
  std::string s;
  if (d.severalDies && p.die >= 0) s += joint + std::string(d.die) + ' ' + std::to_string(p.die);
  if (d.severalPackages && p.package >= 0)
    s += joint + std::string(d.package) + ' ' + std::to_string(p.package);
  return s;
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

}  // namespace

std::string Name(const Description& d, int logical) {
  if (logical < 0) return std::string("a ") + d.logical + " the system did not name";
  std::string s = std::string(d.logical) + ' ' + std::to_string(logical);
  if (const Place* p = PlaceOf(d, logical))
    s += " (" + std::string(d.core) + ' ' + std::to_string(p->core) + Containers(d, *p, ", ") + ')';
  return s;
}

std::string CoreName(const Description& d, int logical) {
  if (const Place* p = PlaceOf(d, logical))
    return std::string(d.core) + ' ' + std::to_string(p->core) + Containers(d, *p, " of ");
  return "the " + std::string(d.core) + " of " + Name(d, logical);
}

bool SameCore(const Description& d, int a, int b) {
  if (a == b) return true;
  const Place *p = PlaceOf(d, a), *q = PlaceOf(d, b);
  return p && q && p->core == q->core && p->die == q->die && p->package == q->package;
}

Description FromSysfs(const std::string& root) {
  Description d;
  d.logical = "CPU";
  std::set<int> packages;
  std::set<std::pair<int, int>> dies;
  for (const int cpu : ReadList(root + "/possible")) {
    const std::string dir = root + "/cpu" + std::to_string(cpu) + "/topology/";
    Place p;
    p.core = ReadNumber(dir + "core_id");
    p.die = ReadNumber(dir + "die_id");
    p.package = ReadNumber(dir + "physical_package_id");
    if (d.processors.size() <= static_cast<std::size_t>(cpu))
      d.processors.resize(static_cast<std::size_t>(cpu) + 1);
    d.processors[static_cast<std::size_t>(cpu)] = p;
    if (p.core < 0) continue;  // offline: its place unknown
    packages.insert(p.package);
    if (p.die >= 0) dies.insert({p.package, p.die});
  }
  d.severalPackages = packages.size() > 1;
  d.severalDies = dies.size() > packages.size();
  return d;
}

}  // namespace kelvarion::topology
