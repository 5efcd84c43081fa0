#pragma once
// Drives real windows from inside a running test's pumps, as a user would: each step runs from
// a timer, which fires when the cycle's pump reads the event queue.

#include <QDateTime>
#include <QElapsedTimer>
#include <QLocale>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <vector>

#include "services/form.h"
#include "services/program.h"
#include "services/pump.h"
#include "tests/centred.h"
#ifdef KELVARION_TEST_XCB
#include <QGuiApplication>

#include "tests/x11_geometry.h"
#endif

namespace kelvarion {

class WindowDriver {
 public:
  // Runs `action` at the first pump at which `ready` holds (checked about once a millisecond).
  void When(std::function<bool()> ready, std::function<void()> action) {
    auto* timer = new QTimer;
    timers_.emplace_back(timer);
    timer->setInterval(0);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, ready, action] {
      if (!ready()) return;
      timer->stop();
      action();
    });
    timer->start();
  }
  void Soon(std::function<void()> action) {
    When([] { return true; }, std::move(action));
  }
  // Unloads `form` after `ms` if a test is still running then, so that a failed check cannot
  // leave the cycle running for ever.
  void Watchdog(Form& form, int ms) {
    auto* timer = new QTimer;
    timers_.emplace_back(timer);
    timer->setSingleShot(true);
    QObject::connect(timer, &QTimer::timeout, timer, [&form] { form.Unload(); });
    timer->start(ms);
  }
  void Reset() { timers_.clear(); }
  ~WindowDriver() { Reset(); }

 private:
  std::vector<std::unique_ptr<QTimer>> timers_;
};

// Nothing in an in-process test may end the program; if something does, say so loudly.
inline void ForbidEndingTheProgram() {
  SetEndProgramHook([] {
    std::fputs("EndProgram called inside the test\n", stderr);
    std::abort();
  });
}

// The caption a label shows, or "" once its window is gone.
inline std::string CaptionOf(const Label& label) {
  std::string text;
  return label.Caption(text) ? text : std::string();
}

inline long CountOf(const Label& label) {
  const std::string text = CaptionOf(label);
  return text.empty() ? -1 : std::stol(text);
}

// Whether `text` names a local date and time between `from` and `to` (whole seconds): read on
// its own terms, whatever the locale's order of day, month and year, with or without AM/PM.
inline bool ShowsTimeBetween(const std::string& text, const QDateTime& from, const QDateTime& to) {
  const QString t = QString::fromStdString(text);
  static const QRegularExpression clock(QStringLiteral("(\\d{1,2}):(\\d{2}):(\\d{2})"));
  const QRegularExpressionMatch time = clock.match(t);
  if (!time.hasMatch()) return false;
  int hour = time.captured(1).toInt();
  const QString rest = t.mid(time.capturedEnd()).toUpper();
  if (rest.contains(QLatin1String("PM")) && hour < 12) hour += 12;
  if (rest.contains(QLatin1String("AM")) && hour == 12) hour = 0;
  static const QRegularExpression number(QStringLiteral("\\d+"));
  std::vector<int> date;
  for (auto it = number.globalMatch(t.left(time.capturedStart())); it.hasNext();)
    date.push_back(it.next().captured().toInt());
  if (date.size() != 2 && date.size() != 3) return false;
  const QString datePart = t.left(time.capturedStart());
  for (QDateTime at = from.addSecs(-1); at <= to.addSecs(1); at = at.addSecs(1)) {
    const QDate d = at.date();
    const int y = d.year(), yy = y % 100;
    std::vector<std::vector<int>> orders{{d.day(), d.month(), y},  {d.month(), d.day(), y},
                                         {y, d.month(), d.day()},  {d.day(), d.month(), yy},
                                         {d.month(), d.day(), yy}, {yy, d.month(), d.day()}};
    // Or the month by its name, in the system's language.
    const QLocale system = QLocale::system();
    if (datePart.contains(system.monthName(d.month(), QLocale::ShortFormat)) ||
        datePart.contains(system.monthName(d.month(), QLocale::LongFormat)))
      orders.insert(orders.end(), {{d.day(), y}, {y, d.day()}, {d.day(), yy}});
    const bool dateOk = std::find(orders.begin(), orders.end(), date) != orders.end();
    if (dateOk && hour == at.time().hour() && time.captured(2).toInt() == at.time().minute() &&
        time.captured(3).toInt() == at.time().second())
      return true;
  }
  return false;
}

// Whether a window stands where it belongs: its frame centred on the screen's available area,
// or at the area's top-left corner along a side the screen is too small for, so that the title
// bar is on the screen. On X11 that is read from the server over a connection of the test's
// own, not from Qt, whose frame geometry is a guess that can lag; under a window manager
// (tests/run-x11.sh --wm says there is one) the window counts as placed only once it is framed
// with the frame the manager announces. Elsewhere (offscreen, whose frame margins are fixed
// and known from the start) Qt's frame geometry is right.
inline bool Placed(const QWidget* w) {
  if (!w || !w->isVisible()) return false;
#ifdef KELVARION_TEST_XCB
  if (QGuiApplication::platformName() == QLatin1String("xcb")) {
    static x11::Display display;
    const auto standing = display.Read(static_cast<xcb_window_t>(w->winId()));
    const qreal ratio = w->devicePixelRatio();
    const QSize inner(qRound(w->width() * ratio), qRound(w->height() * ratio));
    return standing && x11::Placed(*standing, inner, qEnvironmentVariableIsSet("RUN_X11_WM"));
  }
#endif
  return Centred(w->frameGeometry(), w->screen()->availableGeometry());
}

// The keys of the keyboard tests, with a column `answered`: Enter (either key) and Space, which
// a focused button answers, and Esc, which nothing does.
inline void KeyRows(const char* answered) {
  QTest::addColumn<int>("key");
  QTest::addColumn<int>("modifiers");
  QTest::addColumn<bool>(answered);
  QTest::newRow("Return") << int(Qt::Key_Return) << int(Qt::NoModifier) << true;
  QTest::newRow("keypad Enter") << int(Qt::Key_Enter) << int(Qt::KeypadModifier) << true;
  QTest::newRow("Space") << int(Qt::Key_Space) << int(Qt::NoModifier) << true;
  QTest::newRow("Esc") << int(Qt::Key_Escape) << int(Qt::NoModifier) << false;
}

// Whether the toolkit's idea of where a window stands has caught up with the X server's: it
// learns of a move the window manager makes only when it handles the event that reports it.
inline bool GeometryCurrent(const QWidget* w) {
#ifdef KELVARION_TEST_XCB
  if (w && QGuiApplication::platformName() == QLatin1String("xcb")) {
    static x11::Display display;
    const auto standing = display.Read(static_cast<xcb_window_t>(w->winId()));
    const qreal ratio = w->devicePixelRatio();
    return standing && QPoint(qRound(standing->client.x() / ratio),
                              qRound(standing->client.y() / ratio)) == w->geometry().topLeft();
  }
#endif
  (void)w;
  return true;
}

// What `xprop` reports of an X window's _NET_WM_ICON, as its 32-bit numbers (width, height and
// pixels of each image in turn); empty when the window has none.
inline std::vector<quint32> NetWmIcon(WId window) {
  QProcess xprop;
  xprop.start(QStringLiteral("xprop"),
              {QStringLiteral("-id"), QString::number(window), QStringLiteral("-notype"),
               QStringLiteral("32c"), QStringLiteral("_NET_WM_ICON")});
  xprop.waitForFinished(10000);
  const QString out = QString::fromLatin1(xprop.readAllStandardOutput());
  const qsizetype at = out.indexOf(QLatin1Char('='));
  std::vector<quint32> numbers;
  if (at < 0) return numbers;  // "not found"
  for (const QString& n : out.mid(at + 1).split(QLatin1Char(','), Qt::SkipEmptyParts))
    numbers.push_back(n.trimmed().toUInt());
  return numbers;
}

// The icon a window gets that sets none of its own: none at all, or the default a window
// manager puts on such windows. Read off a plain X client (xmessage) started for the purpose.
inline std::vector<quint32> IconOfAWindowWithNone() {
  const QString name =
      QStringLiteral("kelvarion-no-icon-%1").arg(QCoreApplication::applicationPid());
  QProcess client;
  client.start(QStringLiteral("xmessage"),
               {QStringLiteral("-name"), name, QStringLiteral("-geometry"), QStringLiteral("+0+0"),
                QStringLiteral("no icon")});
  if (!client.waitForStarted(10000)) return {0};  // matches no window's icon: the check fails
  QString id;
  std::vector<quint32> icon;
  QElapsedTimer waited;
  waited.start();
  while (waited.elapsed() < 10000) {
    if (id.isEmpty()) {
      QProcess search;
      search.start(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--name"),
                                               QStringLiteral("^%1$").arg(name)});
      search.waitForFinished(10000);
      id = QString::fromLatin1(search.readAllStandardOutput())
               .trimmed()
               .section(QLatin1Char('\n'), 0, 0);
    }
    if (!id.isEmpty()) {
      icon = NetWmIcon(id.toULong());
      // A window manager puts its default on the window when it takes it in; give it time.
      if (!icon.empty() || !qEnvironmentVariableIsSet("RUN_X11_WM") || waited.elapsed() > 3000)
        break;
    }
    QTest::qWait(50);
  }
  client.kill();
  client.waitForFinished(5000);
  if (id.isEmpty()) return {0};
  return icon;
}

}  // namespace kelvarion
