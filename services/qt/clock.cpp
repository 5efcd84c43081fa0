#include "services/clock.h"

#include <QDateTime>
#include <QLocale>
#include <QRegularExpression>

namespace kelvarion::clock {

std::string NowText() {
  const QLocale locale = QLocale::system();
  // The long time format names the time zone too; the start time is local, so drop it.
  QString timeFormat = locale.timeFormat(QLocale::LongFormat);
  static const QRegularExpression zone(QStringLiteral("\\s*\\bt+\\b"));
  timeFormat.remove(zone);
  const QDateTime now = QDateTime::currentDateTime();
  return (locale.toString(now.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
          locale.toString(now.time(), timeFormat.trimmed()))
      .toStdString();
}

}  // namespace kelvarion::clock
