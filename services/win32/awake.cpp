// Keeping the computer awake on Windows: the thread's execution state. Work on the processor
// alone does not count as activity for Windows' idle timer; "system required" does, until it
// is cleared. The display may still turn off.
#include "services/awake.h"

#include "services/win32/win32.h"

namespace kelvarion::backend {

void KeepAwake(bool on) {
  SetThreadExecutionState(on ? ES_CONTINUOUS | ES_SYSTEM_REQUIRED : ES_CONTINUOUS);
}

}  // namespace kelvarion::backend
