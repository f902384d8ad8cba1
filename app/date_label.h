#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

namespace kelvora {

// The text of the date label above the results table: "Date/Time: ", the
// locale's short date, a blank and its long time ("Date/Time: 6/12/26
// 21:30:00" in the C locale). The long time keeps hours, minutes and seconds
// but not the time-zone name Qt's long format appends.
QString DateTimeLabel(const QDateTime &moment, const QLocale &locale);

// A QLocale time format without its time-zone field and the blanks that join
// it to the rest ("HH:mm:ss t" gives "HH:mm:ss"); quoted text stays.
QString WithoutTimeZone(const QString &timeFormat);

} // namespace kelvora
