// The search run: Start, the query and its fetch, and the harvest that turns
// the results page into table rows. Everything runs on the UI thread; between
// steps the run pumps events, so any command can run nested inside it.
#include "app/unit1.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QLineEdit>
#include <QLocale>
#include <QRadioButton>
#include <QStatusBar>
#include <QTreeWidget>

#include <cstdint>
#include <exception>
#include <string>
#include <utility>

#include "app/date_label.h"
#include "app/globals.h"
#include "app/results_table.h"
#include "app/search_outcome.h"
#include "dialogs/startunit.h"
#include "platform/escape_key.h"
#include "platform/message_pump.h"
#include "platform/paint_pacer.h"
#include "ui_startunit.h"
#include "ui_unit1.h"
#include "web/http.h"
#include "web/outbound.h"
#include "web/popularity.h"
#include "web/results_page.h"
#include "web/services.h"
#include "web/text.h"
#include "web/traffic.h"

namespace {

constexpr int kResultsPerPage = 20;
constexpr int kHttpPort = 80;

// Cell indexes of a row, in column order after the caption.
enum Cell : int {
    RankCell = 0,
    PopularityCell,
    TrafficRankCell,
    OnlineSinceCell,
    AgreementCell,
    CompetitorCell,
};

QString fromBytes(const std::string &bytes)
{
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

std::string toBytes(const QString &text)
{
    return text.toLatin1().toStdString();
}

bool keywordMode()
{
    return StartForm->ui()->rbKeyword->isChecked();
}

// Restores the cursor however the run ends.
class WaitCursor final {
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor &) = delete;
    WaitCursor &operator=(const WaitCursor &) = delete;
};

// Counts the runs in progress; a run can start inside another's pump.
class RunDepth final {
public:
    explicit RunDepth(int &depth) : m_depth(depth) { ++m_depth; }
    ~RunDepth() { --m_depth; }
    RunDepth(const RunDepth &) = delete;
    RunDepth &operator=(const RunDepth &) = delete;

private:
    int &m_depth;
};

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
        if (!kelvora::IsDigit(text[at]))
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

    bool setCell(int cell, const std::string &text) const
    {
        QTreeWidgetItem *row = item();
        if (row == nullptr)
            return false;
        kelvora::SetCell(row, cell, fromBytes(text));
        return true;
    }

    bool clearTick() const
    {
        QTreeWidgetItem *row = item();
        if (row == nullptr)
            return false;
        kelvora::SetTicked(row, false);
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
                  std::uint64_t generation, const kelvora::PageHooks &hooks,
                  std::string &page, int &rank)
{
    bool failed = false;
    const std::string host = guarded(failed, [&] {
        std::string entry;
        kelvora::NextResultHost(page, entry);
        return kelvora::CleanResultHost(std::move(entry));
    });

    kelvora::ResultRow fresh;
    fresh.caption = fromBytes(host);
    fresh.cells.append(QString::number(rank));
    ++rank;
    const RowHandle row(table, kelvora::AddRow(table, fresh), currentGeneration, generation);

    hooks.Pump();
    if (!row.alive())
        return RowEnd::Abandoned;
    const std::string popularity =
        guarded(failed, [&] { return kelvora::GetLinkPopularity(host, hooks); });
    if (!row.setCell(PopularityCell, popularity))
        return RowEnd::Abandoned;

    const std::string traffic =
        guarded(failed, [&] { return kelvora::FetchTrafficPage(host, hooks); });

    hooks.Pump();
    if (!row.alive())
        return RowEnd::Abandoned;
    const std::string trafficRank =
        guarded(failed, [&] { return kelvora::ParseTrafficRank(traffic, hooks); });
    if (!row.setCell(TrafficRankCell, trafficRank))
        return RowEnd::Abandoned;

    hooks.Pump();
    if (!row.setCell(OnlineSinceCell,
                     guarded(failed, [&] { return kelvora::ParseOnlineSince(traffic); })))
        return RowEnd::Abandoned;

    hooks.Pump();
    if (!row.alive())
        return RowEnd::Abandoned;
    const std::string outbound = guarded(failed, [&] {
        return std::to_string(kelvora::CountOutboundLinks(host, hooks));
    });

    hooks.Pump();
    if (!row.alive())
        return RowEnd::Abandoned;
    std::int32_t popularityNumber = 0;
    std::int32_t outboundNumber = 0;
    std::string agreement;
    if (toInt32(popularity, popularityNumber) && toInt32(outbound, outboundNumber)) {
        agreement = guarded(failed, [&] {
            return kelvora::EstimateAgreement(popularityNumber, outboundNumber, rank);
        });
    } else {
        failed = true;
    }
    if (!row.setCell(AgreementCell, agreement))
        return RowEnd::Abandoned;

    hooks.Pump();
    if (!row.alive())
        return RowEnd::Abandoned;
    const std::string competitor =
        guarded(failed, [&] { return kelvora::ParseCompetitor(traffic, hooks); });
    if (!row.setCell(CompetitorCell, competitor))
        return RowEnd::Abandoned;

    if (!row.clearTick())
        return RowEnd::Abandoned;
    hooks.Pump();
    return failed ? RowEnd::Failed : RowEnd::Completed;
}

} // namespace

void TForm1::BitBtn2Click()
{
    m_ui->StopBtn->click();
    StartForm->exec();
    kelvora::ProcessMessages();
    // Cancelled or closed: nothing changes. A close of the main window
    // requested meanwhile also forbids a new run.
    if (StopRequested || m_closePending) {
        closeIfPending();
        return;
    }

    // A service that could not be reached, or could not fill the page, is
    // said after "Done!", never reported as a plain success.
    QString endText = QStringLiteral("Done!");
    {
        const RunDepth depth(m_searchDepth);
        const WaitCursor cursor;
        const Ui::TStartForm *dialog = StartForm->ui();
        try {
            proposeFileName(FileDialog::SaveResults, dialog->LabeledEdit1->text());
        } catch (...) {
            // The proposed file name cannot stop a run.
        }
        const QString query =
            keywordMode() ? dialog->LabeledEdit1->text() : dialog->HomepageEdit->text();
        try {
            RunSearch(query, kResultsPerPage, 0, &endText);
        } catch (...) {
            // A failed row ends the run; the rows added so far stay.
        }
    }
    m_ui->StatusBar1->showMessage(endText);
    kelvora::ProcessMessages();
    closeIfPending();
}

bool TForm1::RunSearch(const QString &query, int count, int offset, QString *endText)
{
    // The run pumps after every step; painting at each would cost more than
    // the network does.
    const kelvora::PaintPacer pacer;
    m_ui->DateLabel->clear();
    m_ui->ResultsLabel->clear();
    m_ui->StatusBar1->showMessage(query);
    kelvora::ProcessMessages();

    m_ui->DateLabel->setText(kelvora::DateTimeLabel(QDateTime::currentDateTime(), QLocale::system()));

    std::string page;
    std::exception_ptr failure;
    try {
        std::string url;
        if (keywordMode()) {
            m_ui->ResultsLabel->setText(QStringLiteral("Results for websites related to \"") + query
                                        + QLatin1Char('"'));
            // The query tells the engine the keyword is UTF-8 (ei=UTF-8).
            url = kelvora::KeywordSearchUrl(query.toUtf8().toStdString(), count, offset);
        } else {
            m_ui->ResultsLabel->setText(QStringLiteral("Results for websites related to ") + query);
            url = kelvora::DomainSearchUrl(toBytes(query));
        }
        kelvora::HttpGetStatus fetched;
        kelvora::HttpGet(url, page, kHttpPort, fetched);
        if (endText)
            *endText = kelvora::EndOfRunText(kelvora::SearchHost(), fetched, page);
    } catch (...) {
        failure = std::current_exception();
    }
    kelvora::ProcessMessages();
    HarvestResults(std::move(page), offset);
    if (failure)
        std::rethrow_exception(failure);
    return true;
}

void TForm1::HarvestResults(std::string page, int offset)
{
    // The window is about to close: fetch nothing more.
    if (m_closePending)
        return;
    StopRequested = false;
    int rank = offset + 1;
    const std::uint64_t generation = ++m_tableGeneration;
    QTreeWidget *table = m_ui->ListView1;
    kelvora::ClearRows(table);

    page = kelvora::LowerCase(std::move(page));
    const std::size_t start = kelvora::Pos("of about", page);
    if (start > 1)
        page.erase(0, start - 1);
    if (!kelvora::Contains(page, "<li>"))
        return;

    const kelvora::PageHooks hooks = PageHooks();
    for (;;) {
        const RowEnd end = harvestRow(table, m_tableGeneration, generation, hooks, page, rank);
        // A failed row (a figure that is not a number) ends the run after it.
        if (end != RowEnd::Completed)
            return;
        const bool more = kelvora::Contains(page, "<li>");
        hooks.Pump();
        // Rows replaced meanwhile: this run is superseded and fetches no more.
        if (m_tableGeneration != generation)
            return;
        if (kelvora::EscapeKeyDown() || StopRequested || !more || m_closePending)
            return;
    }
}

void TForm1::closeIfPending()
{
    if (m_searchDepth > 0 || !m_closePending)
        return;
    m_closePending = false;
    close();
}

void TForm1::closeEvent(QCloseEvent *event)
{
    // Closing under a running search would leave it fetching for a window
    // nobody sees, and a later pump could touch destroyed widgets. Ask it to
    // stop after its row; the outermost Start closes the window once it returns.
    if (m_searchDepth > 0) {
        StopRequested = true;
        m_closePending = true;
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}
