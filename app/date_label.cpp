#include "app/date_label.h"

namespace kelvora {

namespace {

constexpr QChar kQuote = u'\'';
constexpr QChar kZoneField = u't';

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
    return QStringLiteral("Date/Time: ") + locale.toString(moment.date(), QLocale::ShortFormat)
           + QLatin1Char(' ') + locale.toString(moment.time(), WithoutTimeZone(locale.timeFormat(QLocale::LongFormat)));
}

} // namespace kelvora
