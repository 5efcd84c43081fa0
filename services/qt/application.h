#pragma once

#include <QApplication>

namespace kelvarion {

// The toolkit's application object as the program wants it: no command line (the toolkit sees
// only the program's name), no session bus or runtime folder of its own making, its name and
// version, no quit when a window closes (only the main window's unload ends the program), and
// the program's own font, narrow enough that every caption fits the boxes the layouts give it.
class Application : public QApplication {
 public:
  Application();
};

// Sets the program's name, version, lifetime rule and fonts on an application object that
// exists already (tests make their own).
void SetUpApplication();

}  // namespace kelvarion
