#pragma once
// Drives real windows from inside a running test's pumps, as a user would: each step runs from
// a timer, which fires when the cycle's pump reads the event queue.

#include <QScreen>
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

}  // namespace kelvarion
