#include "Settings/Views/ClockTime.h"

#include <QDateTime>
#include <QLocale>
#include <chrono>

namespace tindlewave {

namespace {
QTime localTime(Date date) {
    using namespace std::chrono;
    return QDateTime::fromMSecsSinceEpoch(
               duration_cast<milliseconds>(date.time_since_epoch()).count())
        .time();
}
}  // namespace

std::string clockTime(Date date) {
    return QLocale().toString(localTime(date), QLocale::ShortFormat).toStdString();
}

std::string clockTimeWithSeconds(Date date) {
    const QLocale locale;
    QString format = locale.timeFormat(QLocale::ShortFormat);
    if (!format.contains('s')) format.replace("mm", "mm:ss");
    return locale.toString(localTime(date), format).toStdString();
}

}  // namespace tindlewave
