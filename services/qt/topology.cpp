// The processor topology on Linux: sysfs, as lscpu reads it.
#include "services/topology.h"

namespace kelvarion::topology {

const Description& System() {
  static const Description d = FromSysfs("/sys/devices/system/cpu");
  return d;
}

}  // namespace kelvarion::topology
