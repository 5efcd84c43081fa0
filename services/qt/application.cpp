#include "services/qt/application.h"

#include <QFont>
#include <QStringList>
#include <cstdlib>

#include "services/application.h"
#include "services/program.h"
#include "services/qt/platform.h"

namespace kelvarion {

void SetUpApplication() {
  QCoreApplication::setApplicationName(QStringLiteral("Kelvarion1"));
  QCoreApplication::setApplicationVersion(QStringLiteral("1.00"));
  QApplication::setQuitOnLastWindowClosed(false);
  // The layouts were drawn for a small bitmap sans serif; Qt's usual 9 or 10 point default
  // would cut the description off. Liberation Sans (Arial's metrics) at 7.5 pt, exactly 10
  // pixels at 96 dpi, fits every caption with room to spare and reads as well as the boxes
  // allow. The list falls back in order where a face is missing.
  const QStringList faces{QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                          QStringLiteral("Arial"), QStringLiteral("Helvetica")};
  QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"), faces);
  QFont font(faces.front());
  font.setFamilies(faces);
  font.setPointSizeF(7.5);
  font.setStyleHint(QFont::SansSerif);
  QApplication::setFont(font);
}

namespace {
int& CheckedArgc(int& argc) {
  platform::RequireDisplay();
  return argc;
}
}  // namespace

Application::Application(int& argc, char** argv) : QApplication(CheckedArgc(argc), argv) {
  SetUpApplication();
}

int RunApplication(int argc, char** argv, void (*start)()) {
  Application app(argc, argv);
  start();
  return app.exec();
}

void EndProcess() {
  std::_Exit(0);
}

}  // namespace kelvarion
