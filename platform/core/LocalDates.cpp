#include "platform/core/LocalDates.h"

#include <QDateTime>
#include <QLocale>
#include <QRegularExpression>

namespace PPx {

std::string FormatLocalDateTime(int year, int month, int day, int hour, int minute, int second,
                                bool seconds) {
    const QDate date(year, month, day);
    if (!date.isValid())
        return {};
    const QTime time(hour, minute, QTime::isValid(hour, minute, second, 0) ? second : 0);
    const QLocale locale = QLocale::system();
    QString timeFormat = locale.timeFormat(QLocale::ShortFormat);
    if (seconds && !timeFormat.contains('s')) {
        // The long form has the seconds, and a time zone a local listing
        // date does not know.
        timeFormat = locale.timeFormat(QLocale::LongFormat);
        timeFormat.remove(QRegularExpression(QStringLiteral("\\s*\\(?t+\\)?")));
        timeFormat = timeFormat.trimmed();
    }
    return (locale.toString(date, QLocale::ShortFormat) + ' ' +
            locale.toString(time.isValid() ? time : QTime(0, 0), timeFormat))
        .toStdString();
}

std::string FormatLocalDate(int year, int month, int day) {
    const QDate date(year, month, day);
    return date.isValid() ? QLocale::system().toString(date, QLocale::ShortFormat).toStdString()
                          : std::string();
}

} // namespace PPx
