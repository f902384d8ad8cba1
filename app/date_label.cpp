#include "app/date_label.h"

namespace kelvora {

namespace {

constexpr QChar kQuote = u'\'';
constexpr QChar kZoneField = u't';
// Qt's C locale writes its short date with the month's name ("6 Dec 2026");
// a machine without a locale set gets the plain numeric form instead.
constexpr const char *kCShortDate = "d/M/yy";

} // namespace

QString WithoutTimeZone(const QString &format)
{
    QString kept;
    kept.reserve(format.size());
    bool quoted = false;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format.at(i);
        if (c == kQuote) {
            quoted = !quoted;   // '' inside or outside quotes toggles twice: a literal quote
            kept += c;
            continue;
        }
        if (quoted || c != kZoneField) {
            kept += c;
            continue;
        }
        // A time-zone field ("t", or "tt" and longer in newer formats): drop
        // it with the blanks before it, or after it when nothing precedes.
        while (i + 1 < format.size() && format.at(i + 1) == kZoneField)
            ++i;
        while (!kept.isEmpty() && kept.back().isSpace())
            kept.chop(1);
        if (kept.isEmpty()) {
            while (i + 1 < format.size() && format.at(i + 1).isSpace())
                ++i;
        }
    }
    return kept;
}

QString DateTimeLabel(const QDateTime &moment, const QLocale &locale)
{
    const QString date = locale.language() == QLocale::C
                             ? locale.toString(moment.date(), QString::fromLatin1(kCShortDate))
                             : locale.toString(moment.date(), QLocale::ShortFormat);
    return QStringLiteral("Date/Time: ") + date + QLatin1Char(' ')
           + locale.toString(moment.time(), WithoutTimeZone(locale.timeFormat(QLocale::LongFormat)));
}

} // namespace kelvora
