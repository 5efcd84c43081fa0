// kelvarion-soak MINUTES CSV: runs the program's real windows for MINUTES under whatever
// display it is given (tests/run-x11.sh), presses Begin as a user would, and every minute
// writes a line to CSV:
//   minute,rss_kib,cpu_s,images,images_per_min,answer_ms
// answer_ms is how long a synthetic click on About took to be answered (the About window
// open), measured from inside the running test's pumps. Exits 0 if the run held: memory flat
// after warm-up, the count rising every minute, every click answered within 100 ms.

#include <sys/resource.h>

#include <QElapsedTimer>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <fstream>
#include <string>

#include "app/frm_about.h"
#include "app/frm_main.h"
#include "services/qt/application.h"
#include "services/qt/qt.h"
#include "stress/frm_fractal.h"

using namespace kelvarion;

namespace {

long RssKiB() {
  std::ifstream status("/proc/self/status");
  std::string key;
  long value = 0;
  while (status >> key) {
    if (key == "VmRSS:") {
      status >> value;
      return value;
    }
    status.ignore(1 << 10, '\n');
  }
  return -1;
}

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void Click(Form& form, const char* name) {
  QWidget* w = qt::Widget(form) ? qt::Child(form, name) : nullptr;
  if (auto* b = qobject_cast<QPushButton*>(w)) b->click();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: kelvarion-soak MINUTES CSV\n");
    return 2;
  }
  const int minutes = std::atoi(argv[1]);
  std::FILE* csv = std::fopen(argv[2], "w");
  if (minutes < 1 || !csv) {
    std::fprintf(stderr, "usage: kelvarion-soak MINUTES CSV\n");
    return 2;
  }
  Application app;
  (void)frmMain::Instance().Show();
  std::fprintf(csv, "minute,rss_kib,cpu_s,images,images_per_min,answer_ms\n");
  int minute = 0;
  long lastImages = 0, warmRss = 0;
  bool ok = true;
  QTimer sampler;
  sampler.setInterval(60'000);
  QObject::connect(&sampler, &QTimer::timeout, [&] {
    ++minute;
    std::string text;
    const long images = frmFractal::Instance().lblNum.Caption(text) ? std::stol(text) : -1;
    // A synthetic click on About, answered when the About window is open.
    QElapsedTimer answer;
    answer.start();
    Click(frmMain::Instance(), "cmdAbout");
    const double answerMs = frmAbout::Instance().IsLoaded() ? answer.nsecsElapsed() / 1e6 : -1;
    Click(frmAbout::Instance(), "cmdOK");
    const long rss = RssKiB();
    if (minute == 2) warmRss = rss;
    ok = ok && images > lastImages && answerMs >= 0 && answerMs <= 100 &&
         (minute <= 2 || rss - warmRss <= 1024);
    std::fprintf(csv, "%d,%ld,%.1f,%ld,%ld,%.2f\n", minute, rss, CpuSeconds(), images,
                 images - lastImages, answerMs);
    std::fflush(csv);
    lastImages = images;
    if (minute >= minutes) {
      std::fclose(csv);
      std::_Exit(ok ? 0 : 1);
    }
  });
  sampler.start();
  QTimer::singleShot(500, [] { Click(frmMain::Instance(), "cmdBegin"); });
  return app.exec();
}
