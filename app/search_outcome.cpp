#include "app/search_outcome.h"

namespace kelvora {

namespace {

constexpr int kServiceUnavailable = 503;
constexpr const char *kDone = "Done!";

// One line fit for the status bar: what precedes the first line break, with
// every character that is not printable left out and at most limit kept.
QString printableLine(const QString &text, int limit)
{
    QString line;
    for (const QChar c : text) {
        if (c == QLatin1Char('\n') || c == QLatin1Char('\r'))
            break;
        if (!c.isPrint())
            continue;
        if (line.size() == limit)
            break;
        line.append(c);
    }
    return line.trimmed();
}

} // namespace

QString EndOfRunText(const std::string &searchHost, const HttpGetStatus &status, const std::string &page)
{
    const QString done = QLatin1String(kDone);
    if (!status.answered) {
        const QString host = printableLine(QString::fromUtf8(searchHost.data(), qsizetype(searchHost.size())),
                                           kMaxServiceReason);
        return done + QStringLiteral(" The search service at %1 could not be reached.").arg(host);
    }
    if (status.code != kServiceUnavailable)
        return done;
    // Only the head of the body matters, whatever its size.
    const std::size_t head = std::min(page.size(), std::size_t(kMaxServiceReason) * 4 + 4);
    const QString reason = printableLine(QString::fromUtf8(page.data(), qsizetype(head)), kMaxServiceReason);
    if (reason.isEmpty())
        return done + QStringLiteral(" The search service could not fill the results page (HTTP 503).");
    return done + QLatin1Char(' ') + reason;
}

} // namespace kelvora
