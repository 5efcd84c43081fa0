// The self-check seen from outside: the real program under X11 with a window manager, driven
// with xdotool, its windows read as assistive technology reads them (AT-SPI, through
// atspi_texts.py). A library loaded before the program (LIBM_FAULT_LIB, LD_PRELOAD) flips one
// bit of one result of libm's sin or atan: the "Computation Error" window must appear and say
// the right things. Without it, nothing that happens around the test may open that window.
// Runs in a D-Bus session of its own (dbus-run-session), where it starts the accessibility bus.
#include <sched.h>

#include <QFile>
#include <QRect>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>
#include <tuple>
#include <vector>

#include "services/maths.h"
#include "tests/x11_program.h"

namespace {

const QString kError = QStringLiteral("Computation Error");
const QString kTest = QStringLiteral("Generating Fractals...");

// What assistive technology reads in a window of process `pid`, one element's text a line.
QStringList Texts(qint64 pid, const QString& title) {
  QProcess p;
  p.start(QStringLiteral("/usr/bin/python3"),
          {QStringLiteral(ATSPI_SCRIPT), QString::number(pid), title});
  if (!p.waitForFinished(20000) || p.exitCode() != 0) return {};
  return QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// The test window's count: its one value that is a whole number. -1 if it cannot be read.
long Count(qint64 pid) {
  static const QRegularExpression digits(QStringLiteral("^\\d+$"));
  for (const QString& line : Texts(pid, kTest))
    if (digits.match(line).hasMatch()) return line.toLong();
  return -1;
}

// Waits until the test window's count reaches `n`; false if it does not within the time.
bool WaitForCount(qint64 pid, long n, int timeoutMs = 300000) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < timeoutMs) {
    if (Count(pid) >= n) return true;
    QTest::qWait(200);
  }
  return false;
}

QRect Geometry(const QString& window) {
  QString out;
  if (!Xdotool({"getwindowgeometry", "--shell", window}, &out)) return {};
  QMap<QString, int> v;
  for (const QString& line : out.split(QLatin1Char('\n'))) {
    const int eq = line.indexOf(QLatin1Char('='));
    if (eq > 0) v[line.left(eq)] = line.mid(eq + 1).toInt();
  }
  return QRect(v["X"], v["Y"], v["WIDTH"], v["HEIGHT"]);
}

bool ErrorWindowShown(qint64 pid) {
  return !VisibleWindows(pid, kError).isEmpty();
}

// The logical processor the program's main thread last ran on, from /proc.
int ProcessorOf(qint64 pid) {
  QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
  if (!stat.open(QIODevice::ReadOnly)) return -1;
  const QByteArray line = stat.readAll();
  // After the command name in parentheses, field 39 is the processor.
  const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
  return fields.size() > 36 ? fields[36].toInt() : -1;
}

std::vector<int> Allowed() {
  cpu_set_t set;
  CPU_ZERO(&set);
  std::vector<int> out;
  if (sched_getaffinity(0, sizeof set, &set) == 0)
    for (int i = 0; i < CPU_SETSIZE; ++i)
      if (CPU_ISSET(i, &set)) out.push_back(i);
  return out;
}

// What the program calls a processor, worked out here from sysfs: "CPU 3 (core 1)", the core
// being its place in order of (package, die, core id) among the machine's cores, with the die
// and socket (by their places too) where the machine has more than one; and its core with its
// CPUs, for the advice ("core 1, with CPUs 1 and 3"), with its kind on hybrid parts.
using Id = std::tuple<int, int, int>;  // package, die, core id
int ReadSys(int cpu, const char* file) {
  QFile f(QStringLiteral("/sys/devices/system/cpu/cpu%1/topology/%2").arg(cpu).arg(file));
  return f.open(QIODevice::ReadOnly) ? f.readAll().trimmed().toInt() : -1;
}
QList<int> Listed(const char* kind) {  // "0-7,16" in /sys/devices/<kind>/cpus
  QFile f(QStringLiteral("/sys/devices/%1/cpus").arg(kind));
  QList<int> out;
  if (f.open(QIODevice::ReadOnly))
    for (const QByteArray& range : f.readAll().trimmed().split(','))
      for (int c = range.split('-').first().toInt();
           !range.isEmpty() && c <= range.split('-').last().toInt(); ++c)
        out << c;
  return out;
}
template <class Set, class T>
int Rank(const Set& set, const T& one) {
  return int(std::distance(set.begin(), set.find(one)));
}
std::pair<QString, QString> Names(int cpu) {  // the processor's name, its core's
  std::map<int, Id> cpus;
  for (int c = 0; QFile::exists(QStringLiteral("/sys/devices/system/cpu/cpu%1").arg(c)); ++c)
    if (ReadSys(c, "core_id") >= 0)
      cpus[c] = {ReadSys(c, "physical_package_id"), ReadSys(c, "die_id"), ReadSys(c, "core_id")};
  if (!cpus.count(cpu))
    return {QStringLiteral("CPU %1").arg(cpu), QStringLiteral("the core of CPU %1").arg(cpu)};
  std::set<Id> cores;
  std::set<int> packages;
  std::set<std::pair<int, int>> dies;
  for (const auto& [c, id] : cpus) {
    cores.insert(id);
    packages.insert(std::get<0>(id));
    if (std::get<1>(id) >= 0) dies.insert({std::get<0>(id), std::get<1>(id)});
  }
  const Id id = cpus[cpu];
  QStringList where, mates;
  if (dies.size() > packages.size())
    where << QStringLiteral("die %1").arg(Rank(dies, std::pair(std::get<0>(id), std::get<1>(id))));
  if (packages.size() > 1)
    where << QStringLiteral("socket %1").arg(Rank(packages, std::get<0>(id)));
  for (const auto& [c, other] : cpus)
    if (other == id) mates << QString::number(c);
  const int core = Rank(cores, id);
  QString kind;
  const QList<int> performance = Listed("cpu_core"), efficiency = Listed("cpu_atom");
  if (!performance.isEmpty() && !efficiency.isEmpty()) {
    std::set<Id> alike;  // the cores of its kind
    for (const auto& [c, other] : cpus)
      if (performance.contains(c) == performance.contains(cpu)) alike.insert(other);
    kind = QStringLiteral(", %1 core %2")
               .arg(performance.contains(cpu) ? "performance" : "efficiency")
               .arg(Rank(alike, id));
  }
  const QString list = mates.size() == 1 ? "CPU " + mates[0]
                                         : "CPUs " + mates.mid(0, mates.size() - 1).join(", ") +
                                               " and " + mates.last();
  return {QStringLiteral("CPU %1 (core %2%3)")
              .arg(cpu)
              .arg(core)
              .arg(where.isEmpty() ? "" : ", " + where.join(", ")),
          QStringLiteral("core %1%2%3, with %4")
              .arg(core)
              .arg(where.isEmpty() ? "" : " (" + where.join(", ") + ")")
              .arg(kind, list)};
}
QString ProcessorName(int cpu) {
  return Names(cpu).first;
}
QString CoreName(int cpu) {
  return Names(cpu).second;
}

QProcessEnvironment Accessible() {
  QProcessEnvironment env;
  env.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
  return env;
}

}  // namespace

class SelfCheckTest : public QObject {
  Q_OBJECT
  QProcess bus;
  std::vector<int> allowed;

 private slots:
  void initTestCase() {
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
      QSKIP("needs an X display (run under tests/run-x11.sh --wm)");
    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty()) QSKIP("needs xdotool");
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
      QSKIP("needs a D-Bus session of its own (run under dbus-run-session)");
    const QString launcher = QStringLiteral("/usr/libexec/at-spi-bus-launcher");
    if (!QFile::exists(launcher)) QSKIP("needs at-spi2-core");
    bus.start(launcher, {QStringLiteral("--launch-immediately")});
    QVERIFY(bus.waitForStarted());
    // The script answers 1 (no such window) once AT-SPI answers at all, 77 without it.
    int status = -1;
    WaitFor([&status] {
      QProcess p;
      p.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(ATSPI_SCRIPT), "0", "none"});
      p.waitForFinished(20000);
      status = p.exitCode();
      return status == 1 || status == 77;
    });
    if (status == 77) QSKIP("needs python3-gi and gir1.2-atspi-2.0");
    QCOMPARE(status, 1);
    allowed = Allowed();
    QVERIFY(!allowed.empty());
  }
  void cleanupTestCase() {
    bus.terminate();  // the launcher takes its accessibility bus down with it
    if (!bus.waitForFinished(5000)) bus.kill(), bus.waitForFinished(5000);
  }

  // A bit flipped in one result of the library, seen at the canvas size of ratio 1 (one with
  // known answers): a low bit of a sine in the second pass, where only the comparison with the
  // first drawing can see it (the third pass then decides); a high bit of an arctangent in the
  // first pass, where the program's own value disagrees with it at once.
  void libraryFaultShowsTheError_data() {
    QTest::addColumn<QString>("function");
    QTest::addColumn<int>("bit");
    QTest::addColumn<long>("image");  // counted from the test's start
    QTest::addColumn<long long>("call");
    QTest::addColumn<QStringList>("expected");  // the window's lines; %1 the argument, %2 the
    QTest::addColumn<long>("settledBy");        // wrong value, %3 the right one, %4 processor,
                                                // %5 its core: the count it waits for
    // Each image has (413 + 1) x (333 + 1) points at 96 dpi, each calling its kind's function
    // once: the 1,001st point of the Sine image of order 42 in the second pass is the call after
    // 79 + 40 Sine images, in image 237 + 40 x 3 + 2 = 359.
    const long long points = 414LL * 334;
    QTest::newRow("sine, lowest bit, second pass")
        << "s" << 0 << 359L << (79 + 40) * points + 1001
        << QStringList{"Image 359 (Sine, order 42) came out different in pass 2 from its first "
                       "drawing, in pass 1.",
                       "Only the C library's results differed; the program's own values and the "
                       "colours were the same.",
                       "It was drawn on %4, as was its first drawing.",
                       "A further drawing, in pass 3 on %4, agreed with the first: the drawing of "
                       "pass 2 was wrong.",
                       "A stable processor never shows this window: lower the clock of %5, or raise "
                       "its voltage, then test again."}
        << 596L + 1;
    QTest::newRow("arctangent, bit 60, first pass")
        << "a" << 60 << 1L << 1001LL
        << QStringList{"Image 1 (Arctangent, order 2), pass 1: the C library and the program "
                       "disagreed on an arctangent.",
                       "atan(%1): C library %2, program %3.",
                       "It was computed on %4.",
                       "Computed again another way, the value agreed with the program's: the "
                       "processor got the C library's arctangent wrong.",
                       "A stable processor never shows this window: lower the clock of %5, or raise "
                       "its voltage, then test again."}
        << 2L;
  }
  void libraryFaultShowsTheError() {
    QFETCH(QString, function);
    QFETCH(int, bit);
    QFETCH(long, image);
    QFETCH(long long, call);
    QFETCH(QStringList, expected);
    QFETCH(long, settledBy);
    QTemporaryDir dir;
    const QString report = dir.filePath(QStringLiteral("fault"));
    QProcessEnvironment env = Accessible();
    env.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(LIBM_FAULT_LIB));
    env.insert(QStringLiteral("KELVARION_LIBM_FAULT"),
               QStringLiteral("%1 %2 %3").arg(function).arg(call).arg(bit));
    env.insert(QStringLiteral("KELVARION_LIBM_FAULT_REPORT"), report);
    // A sanitized build wants its own runtime first; the library has no part in what it checks.
    env.insert(QStringLiteral("ASAN_OPTIONS"),
               qEnvironmentVariable("ASAN_OPTIONS") + QStringLiteral(":verify_asan_link_order=0"));
    Program program(env);
    const QString main = FindWindow(program.processId(), QStringLiteral("Kelvarion 1.0"));
    QVERIFY(!main.isEmpty());
    QVERIFY(Xdotool(Begin(main)));
    const QString test = FindWindow(program.processId(), kTest);
    QVERIFY(!test.isEmpty());
    const QRect testBefore = Geometry(test);
    QString activeBefore, activeAfter;
    // The window manager activates the test window a moment after it maps it.
    WaitFor([&] { return Xdotool({"getactivewindow"}, &activeBefore) && activeBefore == test; });
    QCOMPARE(activeBefore, test);

    const QString error = FindWindow(program.processId(), kError, 300000, Opens::kAnywhere);
    QVERIFY2(!error.isEmpty(), "no error window");
    QVERIFY(Xdotool({"getactivewindow"}, &activeAfter));
    QCOMPARE(activeAfter, activeBefore);  // it does not take the focus from the user's window
    QFile fault(report);
    QVERIFY(fault.open(QIODevice::ReadOnly));
    // CALL PROCESSOR ARGUMENT RIGHT WRONG, the values as printf's %a writes them.
    const QList<QByteArray> made = fault.readAll().trimmed().split(' ');
    QCOMPARE(made.value(0).toLongLong(), call);
    const int faultProcessor = made.value(1).toInt();
    // The thread is held to the first processor it may use for the first half minute.
    QCOMPARE(faultProcessor, allowed.front());
    // The program's own value: the correctly rounded one (checked against MPFR by the maths test).
    const double own =
        kelvarion::maths::CorrectAtan(std::strtod(made.value(2).constData(), nullptr));
    char ownText[40];
    std::snprintf(ownText, sizeof ownText, "%a", own);
    const QString values[] = {QString::fromLatin1(made.value(2)),
                              QString::fromLatin1(made.value(4)), QString::fromLatin1(ownText),
                              ProcessorName(faultProcessor), CoreName(faultProcessor)};
    for (QString& line : expected)
      for (int i = 0; i < 5; ++i) line.replace(QStringLiteral("%%1").arg(i + 1), values[i]);

    QVERIFY(WaitForCount(program.processId(), settledBy));
    QStringList lines;
    for (int i = 0; i < 50 && !lines.contains(expected[3]); ++i)
      lines = Texts(program.processId(), kError);
    for (const QString& line : expected)
      QVERIFY2(lines.contains(line), qPrintable(line + "\n--\n" + lines.join('\n')));
    const QRegularExpression found(QStringLiteral(
        "^It was found at .+, (less than a second|\\d+ seconds?) after the test began\\.$"));
    QVERIFY2(!lines.filter(found).isEmpty(), qPrintable(lines.join('\n')));
    const QStringList testTexts = Texts(program.processId(), kTest);
    bool countLine = false;
    for (const QString& line : lines) {
      const QRegularExpressionMatch m =
          QRegularExpression(
              QStringLiteral("^The test started on (.+) has found 1 error so far\\.$"))
              .match(line);
      countLine = countLine || (m.hasMatch() && testTexts.contains(m.captured(1)));
    }
    QVERIFY2(countLine, qPrintable(lines.join('\n') + "\n--\n" + testTexts.join('\n')));
    const long countThen = Count(program.processId());
    QVERIFY(countThen > image);

    // Beside the test window, which stayed where it was, and the test goes on.
    const QRect errorAt = Geometry(error), testAfter = Geometry(test);
    QCOMPARE(testAfter, testBefore);
    QVERIFY(!errorAt.intersects(testAfter));
    QVERIFY(WaitForCount(program.processId(), countThen + 10));

    QVERIFY(Xdotool(Exit(main)));
    QVERIFY(program.waitForFinished(5000));
    QCOMPARE(program.exitCode(), 0);
  }

  // A core that gets certain operands wrong every time (about one value in a thousand, picked
  // by its bits), on the first processor or on the second, whose turn comes after half a
  // minute: in the C library's sine (bit 4, beyond an honest library's reach) and in the
  // program's own w (its lowest bit, through the build with the fault hook). At a pixel ratio
  // without known answers, so that the program's own values are seen only as drawings on two
  // cores differing, and the window must tell which core was wrong. The advice names its core.
  void alwaysWrongCoreIsNamed_data() {
    QTest::addColumn<bool>("library");
    QTest::addColumn<int>("which");  // the first processor the program may use, or the second
    QTest::newRow("library, first processor") << true << 0;
    QTest::newRow("library, second processor") << true << 1;
    QTest::newRow("own values, first processor") << false << 0;
    QTest::newRow("own values, second processor") << false << 1;
  }
  void alwaysWrongCoreIsNamed() {
    QFETCH(bool, library);
    QFETCH(int, which);
    if (allowed.size() < 2) QSKIP("needs two processors");
    const int cpu = allowed[std::size_t(which)];
    QProcessEnvironment env = Accessible();
    env.insert(QStringLiteral("QT_SCALE_FACTOR"), QStringLiteral("1.1"));
    const QString fault =
        QStringLiteral("%1 @1000 %2 %3").arg(library ? "s" : "w").arg(library ? 4 : 0).arg(cpu);
    if (library) {
      env.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(LIBM_FAULT_LIB));
      env.insert(QStringLiteral("KELVARION_LIBM_FAULT"), fault);
      env.insert(QStringLiteral("ASAN_OPTIONS"), qEnvironmentVariable("ASAN_OPTIONS") +
                                                     QStringLiteral(":verify_asan_link_order=0"));
    } else {
      env.insert(QStringLiteral("KELVARION_OWN_FAULT"), fault);
      qputenv("KELVARION_TEST_EXE", OWN_FAULT_EXE);
    }
    Program program(env);
    qunsetenv("KELVARION_TEST_EXE");
    const QString main = FindWindow(program.processId(), QStringLiteral("Kelvarion 1.0"));
    QVERIFY(!main.isEmpty());
    // Begin holds the focus at the start: Enter presses it, at any pixel ratio, once the window
    // manager has given the main window the focus.
    QString test;
    for (int i = 0; i < 3 && test.isEmpty(); ++i) {
      QString active;
      WaitFor([&] { return Xdotool({"getactivewindow"}, &active) && active == main; });
      QVERIFY(Xdotool({"key", "Return"}));
      test = FindWindow(program.processId(), kTest, 5000);
    }
    QVERIFY2(!test.isEmpty(), "Enter did not press Begin");
    QVERIFY2(!FindWindow(program.processId(), kError, 300000, Opens::kAnywhere).isEmpty(),
             "no error window");
    const QString advice = QStringLiteral(
                               "A stable processor never shows this window: lower the clock of "
                               "%1, or raise its voltage, then test again.")
                               .arg(CoreName(cpu));
    QStringList lines;
    for (int i = 0; i < 50 && !lines.contains(advice); ++i)
      lines = Texts(program.processId(), kError);
    QVERIFY2(lines.contains(advice), qPrintable(advice + "\n--\n" + lines.join('\n')));
    QVERIFY(SendClose(main));
    QVERIFY(program.waitForFinished(5000));
    QCOMPARE(program.exitCode(), 0);
  }

  // Another library in the process sets the rounding mode toward zero on the program's thread
  // from inside the toolkit's event processing, a few images into the test: the kernel computes
  // in the program's own mode all the same, the images stay exact (each checked against its
  // known answer) and no error window opens.
  void roundingChangedInsideTheToolkit() {
    QTemporaryDir dir;
    const QString report = dir.filePath(QStringLiteral("rounding"));
    QProcessEnvironment env = Accessible();
    env.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(LIBM_FAULT_LIB));
    env.insert(QStringLiteral("KELVARION_LIBM_ROUNDING"), QString::number(3 * 414 * 334));
    env.insert(QStringLiteral("KELVARION_LIBM_FAULT_REPORT"), report);
    env.insert(QStringLiteral("ASAN_OPTIONS"),
               qEnvironmentVariable("ASAN_OPTIONS") + QStringLiteral(":verify_asan_link_order=0"));
    Program program(env);
    const qint64 pid = program.processId();
    const QString main = FindWindow(pid, QStringLiteral("Kelvarion 1.0"));
    QVERIFY(!main.isEmpty());
    QVERIFY(Xdotool(Begin(main)));
    QVERIFY(!FindWindow(pid, kTest).isEmpty());
    QVERIFY2(WaitFor([&] { return QFile::exists(report); }), "the rounding mode was not changed");
    QVERIFY(WaitForCount(pid, Count(pid) + 30));
    QVERIFY(!ErrorWindowShown(pid));
    QVERIFY(Xdotool(Exit(main)));
    QVERIFY(program.waitForFinished(5000));
  }

  // Full-size passes with the windows covered, moved, About opened and closed, and Stop then
  // Begin at once (a second test inside the first): never a "Computation Error". At ratio 1 the
  // second test runs until its thread has moved to the next processor and drawn two passes
  // there, so that drawings on different processors are compared.
  void noFalseError_data() {
    QTest::addColumn<int>("ratio");
    QTest::newRow("ratio 1") << 1;
    QTest::newRow("ratio 2") << 2;
  }
  void noFalseError() {
    QFETCH(int, ratio);
    QProcessEnvironment env = Accessible();
    env.insert(QStringLiteral("QT_SCALE_FACTOR"), QString::number(ratio));
    Program program(env);
    const qint64 pid = program.processId();
    const QString main = FindWindow(pid, QStringLiteral("Kelvarion 1.0"));
    QVERIFY(!main.isEmpty());
    QVERIFY(Xdotool(Begin(main, ratio)));
    QString test = FindWindow(pid, kTest);
    QVERIFY(!test.isEmpty());
    QVERIFY(Xdotool({"windowmove", "--sync", test, "0", "0"}));  // moved
    QVERIFY(WaitForCount(pid, 237 + 10));

    QVERIFY(Xdotool(About(main, ratio)));  // About, over the canvas, then closed
    const QString about = FindWindow(pid, QStringLiteral("About Kelvarion"));
    QVERIFY(!about.isEmpty());
    QVERIFY(Xdotool({"windowmove", "--sync", about, "40", "60"}));
    QVERIFY(WaitForCount(pid, 237 + 60));
    QVERIFY(SendClose(about));

    const QRect mainAt = Geometry(main);  // the main window over the canvas, then away
    QVERIFY(Xdotool({"windowmove", "--sync", main, "20", "40", "windowactivate", "--sync", main}));
    QVERIFY(WaitForCount(pid, 237 + 120));
    QVERIFY(Xdotool(
        {"windowmove", "--sync", main, QString::number(mainAt.x()), QString::number(mainAt.y())}));
    QVERIFY(WaitForCount(pid, 2 * 237 + 10));
    QVERIFY(!ErrorWindowShown(pid));

    // Stop and Begin in one go: the second test runs inside the first one's pump.
    QVERIFY(Xdotool(Stop(test, ratio) + Begin(main, ratio)));
    QVERIFY2(Gone(pid, kTest, test), "the first test window stayed");
    const QString second = FindWindow(pid, kTest);
    QVERIFY(!second.isEmpty() && second != test);
    QVERIFY(Xdotool({"windowmove", "--sync", second, "600", "100"}));
    std::vector<int> processors;
    if (ratio == 1 && allowed.size() > 1) {
      // The thread starts on the first processor and moves to the next after half a minute.
      QElapsedTimer t;
      t.start();
      while (t.elapsed() < 120000 && processors.size() < 2) {
        const int now = ProcessorOf(pid);
        if (processors.empty() || processors.back() != now) processors.push_back(now);
        QTest::qWait(100);
      }
      QCOMPARE(processors, (std::vector<int>{allowed[0], allowed[1]}));
      QVERIFY(WaitForCount(pid, Count(pid) + 2 * 237));
    } else {
      QVERIFY(WaitForCount(pid, 2 * 237 + 10));
    }
    QVERIFY(!ErrorWindowShown(pid));
    QVERIFY(program.state() == QProcess::Running);
    QVERIFY(Xdotool(Exit(main, ratio)));
    QVERIFY(program.waitForFinished(5000));
    QCOMPARE(program.exitCode(), 0);
  }
};

QTEST_GUILESS_MAIN(SelfCheckTest)
#include "test_selfcheck_x11.moc"
