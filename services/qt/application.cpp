#include "services/qt/application.h"

#include <QAbstractEventDispatcher>
#include <QFont>
#include <QFontDatabase>
#include <QResource>
#include <QStringList>
#include <cstdio>
#include <cstdlib>

#include "services/application.h"
#include "services/peer_base.h"
#include "services/program.h"
#include "services/qt/platform.h"

namespace kelvarion {

namespace {

// The face the layouts were fitted for, compiled into the program so that every caption fits
// whatever fonts the system has (and whether it has any): Liberation Sans 2.1, which has
// Arial's metrics, under a family name of the program's own. Under its own name the toolkit
// would take whichever face of that name the system has (Debian's 1.07, a substitute) instead.
constexpr const char* kFace = "Kelvarion Sans";
constexpr const char* kFaceFiles[] = {":/kelvarion/fonts/KelvarionSans-Regular.ttf",
                                      ":/kelvarion/fonts/KelvarionSans-Bold.ttf"};

void AddProgramFonts() {
  static bool added = false;
  if (added) return;
  added = true;
  for (const char* name : kFaceFiles) {
    const QResource face(QString::fromLatin1(name));
    // Stored uncompressed, each face is used where it lies in the program's image, not copied.
    const QByteArray data =
        face.compressionAlgorithm() == QResource::NoCompression
            ? QByteArray::fromRawData(reinterpret_cast<const char*>(face.data()),
                                      static_cast<qsizetype>(face.size()))
            : face.uncompressedData();
    (void)QFontDatabase::addApplicationFontFromData(data);
  }
}

// What the toolkit gets for a command line: the program's name and nothing else. The program
// takes no command line, and the toolkit's own options (-reverse, -style, -platform, -display,
// -stylesheet, ...) would otherwise change how it looks or where it runs.
int toolkitArgc = 1;
char toolkitName[] = "Kelvarion1";
char* toolkitArgv[] = {toolkitName, nullptr};

int& PreparedArgc() {
  platform::RequireDisplay();
  platform::BeginToolkitStart();
  return toolkitArgc;
}

// The toolkit's messages (warnings about the desktop, the session, the runtime folder, ...)
// are for developers: the program shows and logs nothing in normal use. Only a fatal one,
// which ends the program, is still said.
void QuietMessages(QtMsgType type, const QMessageLogContext&, const QString& message) {
  if (type == QtFatalMsg) std::fprintf(stderr, "Kelvarion1: %s\n", qPrintable(message));
}

}  // namespace

void SetUpApplication() {
  QCoreApplication::setApplicationName(QStringLiteral("Kelvarion1"));
  QCoreApplication::setApplicationVersion(QStringLiteral("1.00"));
  QApplication::setQuitOnLastWindowClosed(false);
  // The layouts were drawn for a small bitmap sans serif; Qt's usual 9 or 10 point default
  // would cut the description off. The program's face at 7.5 pt, exactly 10 pixels at 96 dpi,
  // fits every caption with room to spare and reads as well as the boxes allow. The buttons'
  // "MS Sans Serif" is the same face, bold.
  AddProgramFonts();
  const QString face = QString::fromLatin1(kFace);
  QFont::insertSubstitution(QStringLiteral("MS Sans Serif"), face);
  QFont font(face);
  font.setPointSizeF(7.5);
  font.setStyleHint(QFont::SansSerif);
  QApplication::setFont(font);
}

Application::Application() : QApplication(PreparedArgc(), toolkitArgv) {
  platform::EndToolkitStart();
  SetUpApplication();
}

int RunApplication(int, char**, void (*start)()) {
  qInstallMessageHandler(QuietMessages);
  Application app;
  platform::ReportLostDisplay();
  // Whatever a test that has just ended said is shown before the loop waits.
  QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock,
                   &app, [] { ShowPending(); });
  start();
  const int status = app.exec();
  platform::StopReportingLostDisplay();
  return status;
}

void EndProcess() {
  std::_Exit(0);
}

}  // namespace kelvarion
