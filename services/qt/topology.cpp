// The processor topology on Linux: sysfs, as lscpu reads it, and the hybrid parts' lists of
// performance and efficiency CPUs beside it (/sys/devices/cpu_core, cpu_atom).
#include "services/topology.h"

namespace kelvarion::topology {

const Description& System() {
  static const Description d = FromSysfs("/sys/devices/system/cpu");
  return d;
}

}  // namespace kelvarion::topology
