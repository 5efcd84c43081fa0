#include "services/program.h"

#include <cstdio>

#include "services/awake.h"

namespace kelvarion {

namespace {
std::function<void()>& Hook() {
  static auto* hook = new std::function<void()>;
  return *hook;
}
}  // namespace

void SetEndProgramHook(std::function<void()> hook) {
  Hook() = std::move(hook);
}

void EndProgram() {
  if (Hook()) Hook()();
  awake::LetGoAtExit();
  // At once: no destructors, no unload handlers, no waiting for the event loop to unwind
  // from whatever depth of nested pumps we are at. The window system cleans up after us.
  std::fflush(nullptr);
  EndProcess();
}

}  // namespace kelvarion
