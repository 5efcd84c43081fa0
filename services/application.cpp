#include "services/application.h"

#include <QFont>
#include <QStringList>

namespace kelvarion {

void UseProgramFonts() {
  // The layouts were drawn for a small sans serif with the metrics of "MS Sans Serif" 8 pt;
  // Liberation Sans (Arial's metrics) at 8 pt matches them, where Qt's usual 9 or 10 point
  // default would not fit the labels. The list falls back in order where a face is missing.
  const QStringList faces{QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                          QStringLiteral("Arial"), QStringLiteral("Helvetica")};
  QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"), faces);
  QFont font(faces.front());
  font.setFamilies(faces);
  font.setPointSizeF(8);
  font.setStyleHint(QFont::SansSerif);
  QApplication::setFont(font);
}

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(QStringLiteral("Kelvarion1"));
  setApplicationVersion(QStringLiteral("1.00"));
  setQuitOnLastWindowClosed(false);
  UseProgramFonts();
}

}  // namespace kelvarion
