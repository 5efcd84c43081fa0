#pragma once
// Keeping the computer awake while a test runs, and only then. A stress test left running
// overnight is worth nothing if the computer sleeps through it: Windows does not count the
// processor's work as activity, and desktops suspend an idle session. The hold is taken when
// the outermost test starts and let go when the last one ends (a test started inside another's
// pump, Stop then Begin at once, keeps it); the program's end lets it go too.

namespace kelvarion::awake {

// Held for as long as an instance lives: one a running test.
class TestRunning {
 public:
  TestRunning();
  ~TestRunning();
  TestRunning(const TestRunning&) = delete;
  TestRunning& operator=(const TestRunning&) = delete;
};

// Whether the program asks the computer to stay awake now.
bool Held();

// Lets go at the program's end, whatever tests are still on the stack.
void LetGoAtExit();

}  // namespace kelvarion::awake

namespace kelvarion::backend {
// Asks the system to keep the computer from sleeping (true) or lets it sleep again (false):
// at once, never waiting for an answer, and silently where nothing answers. Called only when
// the wish changes.
void KeepAwake(bool on);
}  // namespace kelvarion::backend
