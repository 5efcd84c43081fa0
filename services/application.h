#pragma once

namespace kelvarion {

// Runs the program on the platform's windowing system: calls `start`, which shows the first
// window, then handles events until the program is ended (EndProgram). The command line is not
// read: the program takes none, and neither does the toolkit get to see one.
int RunApplication(int argc, char** argv, void (*start)());

}  // namespace kelvarion
