// The search run: the query and its fetch, and the harvest that turns the
// results page into table rows. Everything runs on the UI thread; between
// steps the run pumps events, so any command can run nested inside it.
#include "app/search_run.h"

#include "app/date_label.h"
#include "app/results_table.h"
#include "app/search_outcome.h"
#include "dialogs/startunit.h"
#include "platform/escape_key.h"
#include "platform/message_pump.h"
#include "platform/paint_pacer.h"
#include "web/http.h"
#include "web/outbound.h"
#include "web/popularity.h"
#include "web/results_page.h"
#include "web/services.h"
#include "web/text.h"
#include "web/traffic.h"

#include <QDateTime>
#include <QLabel>
#include <QLocale>
#include <QTreeWidget>

#include <cstdint>
#include <exception>
#include <string>
#include <utility>

namespace kelvora {
namespace {

constexpr int kHttpPort = 80;

QString fromBytes(const std::string &bytes)
{
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

std::string toBytes(const QString &text)
{
    return text.toLatin1().toStdString();
}

// Whole decimal text, with an optional sign, to a 32-bit integer; any other
// character or a value out of range fails.
bool toInt32(const std::string &text, std::int32_t &value)
{
    constexpr std::int64_t kLimit = std::int64_t{1} << 31;   // magnitude of INT32_MIN
    std::size_t at = 0;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        negative = text[at] == '-';
        ++at;
    }
    if (at == text.size())
        return false;
    std::int64_t magnitude = 0;
    for (; at < text.size(); ++at) {
        if (!IsDigit(text[at]))
            return false;
        magnitude = magnitude * 10 + (text[at] - '0');
        if (magnitude > kLimit)
            return false;
    }
    if (!negative && magnitude == kLimit)
        return false;
    value = static_cast<std::int32_t>(negative ? -magnitude : magnitude);
    return true;
}

// Marks the row a harvest is filling, so the harvest can find it again.
constexpr int kHarvestRowRole = Qt::UserRole + 64;

// The row a harvest is filling, held across pumps. A command running inside a
// pump may replace every row (a second search, an opened file) or reorder them
// (a sort); the harvest then finds its generation outdated, or looks the row
// up by its mark. It never keeps an item pointer across a pump, so a removed
// row can never be written.
class RowHandle final {
public:
    RowHandle(QTreeWidget *table, QTreeWidgetItem *item, const std::uint64_t &current,
              std::uint64_t generation)
        : m_table(table), m_current(current), m_generation(generation), m_mark(++s_lastMark)
    {
        item->setData(0, kHarvestRowRole, QVariant::fromValue(m_mark));
    }

    bool alive() const { return item() != nullptr; }

    bool setCell(ResultColumn column, const std::string &text) const
    {
        QTreeWidgetItem *row = item();
        if (row == nullptr)
            return false;
        SetCell(row, column, fromBytes(text));
        return true;
    }

    bool clearTick() const
    {
        QTreeWidgetItem *row = item();
        if (row == nullptr)
            return false;
        SetTicked(row, false);
        return true;
    }

private:
    // The marked row, searched from the end where it usually stands; null
    // when the rows were replaced or the row is gone.
    QTreeWidgetItem *item() const
    {
        if (m_current != m_generation)
            return nullptr;
        for (int i = m_table->topLevelItemCount() - 1; i >= 0; --i) {
            QTreeWidgetItem *candidate = m_table->topLevelItem(i);
            if (candidate->data(0, kHarvestRowRole).value<qulonglong>() == m_mark)
                return candidate;
        }
        return nullptr;
    }

    static inline qulonglong s_lastMark = 0;

    QTreeWidget *m_table;
    const std::uint64_t &m_current;
    std::uint64_t m_generation;
    qulonglong m_mark;
};

enum class RowEnd { Completed, Failed, Abandoned };

// Runs one step of a row; a step that throws yields the empty text and marks
// the row failed, and the rest of the row is still built.
template <typename Step>
std::string guarded(bool &failed, Step step)
{
    try {
        return step();
    } catch (...) {
        failed = true;
        return {};
    }
}

// Builds one row from the front entry of page: every cell in its place as its
// value arrives, with a pump before each network step so the row shows while
// it grows and Stop can be pressed.
RowEnd harvestRow(QTreeWidget *table, const std::uint64_t &currentGeneration,
                  std::uint64_t generation, const PageHooks &hooks,
                  std::string &page, int &rank)
{
    bool failed = false;
    const std::string host = guarded(failed, [&] {
        std::string entry;
        NextResultHost(page, entry);
        return CleanResultHost(std::move(entry));
    });

    ResultRow fresh;
    fresh.caption = fromBytes(host);
    fresh.cells.append(QString::number(rank));
    ++rank;
    const RowHandle row(table, AddRow(table, fresh), currentGeneration, generation);

    hooks.Pump();
    if (!row.alive())
        return RowEnd::Abandoned;
    const std::string popularity =
        guarded(failed, [&] { return GetLinkPopularity(host, hooks); });
    if (!row.setCell(ResultColumn::Popularity, popularity))
        return RowEnd::Abandoned;

    const std::string traffic =
        guarded(failed, [&] { return FetchTrafficPage(host, hooks); });

    hooks.Pump();
    if (!row.alive())
        return RowEnd::Abandoned;
    const std::string trafficRank =
        guarded(failed, [&] { return ParseTrafficRank(traffic, hooks); });
    if (!row.setCell(ResultColumn::TrafficRank, trafficRank))
        return RowEnd::Abandoned;

    hooks.Pump();
    if (!row.setCell(ResultColumn::OnlineSince,
                     guarded(failed, [&] { return ParseOnlineSince(traffic); })))
        return RowEnd::Abandoned;

    hooks.Pump();
    if (!row.alive())
        return RowEnd::Abandoned;
    const std::string outbound = guarded(failed, [&] {
        return std::to_string(CountOutboundLinks(host, hooks));
    });

    hooks.Pump();
    if (!row.alive())
        return RowEnd::Abandoned;
    std::int32_t popularityNumber = 0;
    std::int32_t outboundNumber = 0;
    std::string agreement;
    if (toInt32(popularity, popularityNumber) && toInt32(outbound, outboundNumber)) {
        agreement = guarded(failed, [&] {
            return EstimateAgreement(popularityNumber, outboundNumber, rank);
        });
    } else {
        failed = true;
    }
    if (!row.setCell(ResultColumn::Agreement, agreement))
        return RowEnd::Abandoned;

    hooks.Pump();
    if (!row.alive())
        return RowEnd::Abandoned;
    const std::string competitor =
        guarded(failed, [&] { return ParseCompetitor(traffic, hooks); });
    if (!row.setCell(ResultColumn::Competitor, competitor))
        return RowEnd::Abandoned;

    if (!row.clearTick())
        return RowEnd::Abandoned;
    hooks.Pump();
    return failed ? RowEnd::Failed : RowEnd::Completed;
}

} // namespace

SearchRun::SearchRun(Targets targets, PageHooks hooks)
    : m_targets(std::move(targets))
    , m_hooks(std::move(hooks))
{
}

bool SearchRun::Run(const SearchRequest &request, int count, int offset, QString *endText)
{
    // The run pumps after every step; painting at each would cost more than
    // the network does.
    const PaintPacer pacer;
    const QString query = request.Query();
    m_targets.dateLabel->clear();
    m_targets.resultsLabel->clear();
    m_targets.showStatus(query);
    ProcessMessages();

    m_targets.dateLabel->setText(DateTimeLabel(QDateTime::currentDateTime(), QLocale::system()));

    std::string page;
    std::exception_ptr failure;
    try {
        std::string url;
        if (request.mode == SearchRequest::Mode::Keyword) {
            m_targets.resultsLabel->setText(QStringLiteral("Results for websites related to \"") + query
                                        + QLatin1Char('"'));
            // The query tells the engine the keyword is UTF-8 (ei=UTF-8).
            url = KeywordSearchUrl(query.toUtf8().toStdString(), count, offset);
        } else {
            m_targets.resultsLabel->setText(QStringLiteral("Results for websites related to ") + query);
            url = DomainSearchUrl(toBytes(query));
        }
        HttpGetStatus fetched;
        HttpGet(url, page, kHttpPort, fetched);
        if (endText)
            *endText = EndOfRunText(SearchHost(), fetched, page);
    } catch (...) {
        failure = std::current_exception();
    }
    ProcessMessages();
    Harvest(std::move(page), offset);
    if (failure)
        std::rethrow_exception(failure);
    return true;
}

void SearchRun::Harvest(std::string page, int offset)
{
    // The window is about to close: fetch nothing more.
    if (m_closePending)
        return;
    m_stopRequested = false;
    int rank = offset + 1;
    const std::uint64_t generation = ++m_generation;
    QTreeWidget *table = m_targets.table;
    ClearRows(table);

    page = LowerCase(std::move(page));
    const std::size_t start = Pos("of about", page);
    if (start > 1)
        page.erase(0, start - 1);
    if (!Contains(page, "<li>"))
        return;

    const PageHooks &hooks = m_hooks;
    for (;;) {
        const RowEnd end = harvestRow(table, m_generation, generation, hooks, page, rank);
        // A failed row (a figure that is not a number) ends the run after it.
        if (end != RowEnd::Completed)
            return;
        const bool more = Contains(page, "<li>");
        hooks.Pump();
        // Rows replaced meanwhile: this run is superseded and fetches no more.
        if (m_generation != generation)
            return;
        if (EscapeKeyDown() || m_stopRequested || !more || m_closePending)
            return;
    }
}

} // namespace kelvora
