// Processor affinity on Linux. The masks are allocated for as many processors as the kernel
// knows of, so machines beyond the 1,024 of a plain cpu_set_t work too.
#include "services/affinity.h"

#include <sched.h>

#include <algorithm>
#include <cerrno>

namespace kelvarion::affinity {

namespace {

// A processor mask of the kernel's size, freed with its scope.
class Mask {
 public:
  explicit Mask(int processors)
      : count_(processors), set_(CPU_ALLOC(processors)), size_(CPU_ALLOC_SIZE(processors)) {
    if (set_) CPU_ZERO_S(size_, set_);
  }
  ~Mask() {
    if (set_) CPU_FREE(set_);
  }
  Mask(const Mask&) = delete;
  Mask& operator=(const Mask&) = delete;
  cpu_set_t* set() { return set_; }
  std::size_t size() const { return size_; }
  int count() const { return count_; }

 private:
  int count_;
  cpu_set_t* set_;
  std::size_t size_;
};

bool Get(std::vector<int>& processors) {
  // The kernel refuses a mask smaller than its own with EINVAL: grow until it fits.
  for (int n = 1024; n <= (1 << 22); n *= 2) {
    Mask mask(n);
    if (!mask.set()) return false;
    if (sched_getaffinity(0, mask.size(), mask.set()) == 0) {
      processors.clear();
      for (int i = 0; i < n; ++i)
        if (CPU_ISSET_S(i, mask.size(), mask.set())) processors.push_back(i);
      return !processors.empty();
    }
    if (errno != EINVAL) return false;
  }
  return false;
}

bool Set(const std::vector<int>& processors) {
  if (processors.empty()) return false;
  const int highest = *std::max_element(processors.begin(), processors.end());
  if (highest < 0) return false;
  Mask mask(std::max(highest + 1, 1024));
  if (!mask.set()) return false;
  for (int p : processors)
    if (p >= 0) CPU_SET_S(p, mask.size(), mask.set());
  return sched_setaffinity(0, mask.size(), mask.set()) == 0;
}

int Current() {
  return sched_getcpu();
}

const Calls kSystem{&Get, &Set, &Current};

}  // namespace

const Calls& System() {
  return kSystem;
}

}  // namespace kelvarion::affinity
