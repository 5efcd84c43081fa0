#pragma once

#include <functional>

namespace kelvarion {

// Ends the program at once, whatever handler is running: exit status 0, no unload handler of
// any window runs, nothing is waited for.
[[noreturn]] void EndProgram();

// Tests replace the ending with a function that must not return normally (it throws, say).
void SetEndProgramHook(std::function<void()> hook);

// The platform's way of ending the process at once with status 0 (each backend has one).
[[noreturn]] void EndProcess();

}  // namespace kelvarion
