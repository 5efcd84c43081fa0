#include "services/awake.h"

namespace kelvarion::awake {

namespace {
int running = 0;  // tests on the stack
bool held = false;

void Want(bool on) {
  if (on == held) return;
  held = on;
  backend::KeepAwake(on);
}
}  // namespace

TestRunning::TestRunning() {
  if (++running == 1) Want(true);
}

TestRunning::~TestRunning() {
  if (--running == 0) Want(false);
}

bool Held() {
  return held;
}

void LetGoAtExit() {
  Want(false);
}

}  // namespace kelvarion::awake
