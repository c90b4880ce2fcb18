#include "Settings/Views/ClockTime.h"

#include <QDateTime>
#include <QLocale>
#include <chrono>

namespace tindlewave {

std::string clockTime(Date date) {
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(date.time_since_epoch()).count();
    return QLocale().toString(QDateTime::fromMSecsSinceEpoch(ms).time(), QLocale::ShortFormat).toStdString();
}

}  // namespace tindlewave
