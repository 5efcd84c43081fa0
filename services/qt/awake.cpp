// Keeping the computer awake on Linux desktops: asked over the session bus, where there is one,
// of the desktop portal (org.freedesktop.portal.Inhibit, suspend), or where no portal answers,
// of the screen saver (org.freedesktop.ScreenSaver.Inhibit). Every call is asynchronous: a slow
// or broken bus, or a desktop that never answers, holds up neither the test nor the program,
// and no answer at all leaves the computer as it was, silently. A desktop drops what a program
// asked for when its connection closes, so the program's end lets go however it ends.
#include "services/awake.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>
#include <memory>
#include <thread>

namespace kelvarion::backend {

namespace {

const QString kReason = QStringLiteral("A processor stress test is running");

// One test's wish to stay awake. Answers may come after the test has ended: what is granted
// then is given back at once.
struct Hold {
  bool wanted = true;
  QString request;  // the portal's request object, while granted
  uint cookie = 0;  // the screen saver's cookie, while granted
};
using HoldPtr = std::shared_ptr<Hold>;

enum class Bus { kUnknown, kConnecting, kUp, kNone };
Bus bus = Bus::kUnknown;
HoldPtr current;

QDBusConnection Session() {
  return QDBusConnection::sessionBus();
}

// A session bus is there only where the environment names one. The toolkit's start put
// "disabled:" there where it found none; an address that would launch a bus is no bus.
bool BusNamed() {
  const QByteArray address = qgetenv("DBUS_SESSION_BUS_ADDRESS");
  return !address.isEmpty() && !address.startsWith("disabled:") && !address.contains("autolaunch:");
}

void LetGo(const HoldPtr& hold) {
  hold->wanted = false;
  if (!hold->request.isEmpty())
    Session().send(QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.portal.Desktop"), hold->request,
        QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Close")));
  if (hold->cookie != 0) {
    QDBusMessage m = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.ScreenSaver"),
                                                    QStringLiteral("/org/freedesktop/ScreenSaver"),
                                                    QStringLiteral("org.freedesktop.ScreenSaver"),
                                                    QStringLiteral("UnInhibit"));
    m << hold->cookie;
    Session().send(m);
  }
  hold->request.clear();
  hold->cookie = 0;
}

// Calls `message` and hands its answer to `done` from the event loop, whenever it comes.
template <class Done>
void Call(const QDBusMessage& message, Done done) {
  auto* watcher = new QDBusPendingCallWatcher(Session().asyncCall(message), qApp);
  QObject::connect(watcher, &QDBusPendingCallWatcher::finished, qApp,
                   [done](QDBusPendingCallWatcher* w) {
                     w->deleteLater();
                     done(*w);
                   });
}

void AskScreenSaver(const HoldPtr& hold) {
  QDBusMessage m = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.ScreenSaver"), QStringLiteral("/org/freedesktop/ScreenSaver"),
      QStringLiteral("org.freedesktop.ScreenSaver"), QStringLiteral("Inhibit"));
  m << QCoreApplication::applicationName() << kReason;
  Call(m, [hold](const QDBusPendingCall& call) {
    const QDBusPendingReply<uint> reply = call;
    if (reply.isError()) return;  // nothing answers: the computer is left as it was
    hold->cookie = reply.value();
    if (!hold->wanted) LetGo(hold);
  });
}

void AskPortal(const HoldPtr& hold) {
  QDBusMessage m = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.portal.Desktop"),
                                                  QStringLiteral("/org/freedesktop/portal/desktop"),
                                                  QStringLiteral("org.freedesktop.portal.Inhibit"),
                                                  QStringLiteral("Inhibit"));
  constexpr uint kSuspend = 4;
  m << QString() << kSuspend << QVariantMap{{QStringLiteral("reason"), kReason}};
  Call(m, [hold](const QDBusPendingCall& call) {
    const QDBusPendingReply<QDBusObjectPath> reply = call;
    if (reply.isError()) {
      if (hold->wanted) AskScreenSaver(hold);
      return;
    }
    hold->request = reply.value().path();
    if (!hold->wanted) LetGo(hold);
  });
}

// Connecting waits for the bus's answers: it is done once, on a thread of its own.
void Connect() {
  bus = Bus::kConnecting;
  std::thread([] {
    const bool up = Session().isConnected();
    QMetaObject::invokeMethod(
        qApp,
        [up] {
          bus = up ? Bus::kUp : Bus::kNone;
          if (up && current) AskPortal(current);
        },
        Qt::QueuedConnection);
  }).detach();
}

}  // namespace

void KeepAwake(bool on) {
  if (!on) {
    if (current) LetGo(current);
    current.reset();
    return;
  }
  current = std::make_shared<Hold>();
  if (bus == Bus::kUnknown) {
    if (BusNamed() && qApp)
      Connect();
    else
      bus = Bus::kNone;
  } else if (bus == Bus::kUp) {
    AskPortal(current);
  }
}

}  // namespace kelvarion::backend
