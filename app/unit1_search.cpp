// The search command: Start asks the search dialog what to look for and hands
// it to the window's SearchRun; the close box waits for a run to return.
#include "app/unit1.h"

#include <QApplication>
#include <QCloseEvent>
#include <QStatusBar>

#include "app/globals.h"
#include "app/search_run.h"
#include "dialogs/startunit.h"
#include "platform/message_pump.h"
#include "ui_unit1.h"

namespace {

constexpr int kResultsPerPage = 20;

// Restores the cursor however the run ends.
class WaitCursor final {
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor &) = delete;
    WaitCursor &operator=(const WaitCursor &) = delete;
};

} // namespace

void TForm1::BitBtn2Click()
{
    m_ui->StopBtn->click();
    const int answer = StartForm->exec();
    // Research lets a run go ahead, Cancel stops; the close box and Escape
    // leave the flag as Stop set it.
    if (answer == TStartForm::kResearchResult)
        m_search->ClearStop();
    else if (answer == TStartForm::kCancelResult)
        m_search->RequestStop();
    kelvora::ProcessMessages();
    // Cancelled or closed: nothing changes. A close of the main window
    // requested meanwhile also forbids a new run.
    if (m_search->StopRequested() || m_search->ClosePending()) {
        closeIfPending();
        return;
    }

    // A service that could not be reached, or could not fill the page, is
    // said after "Done!", never reported as a plain success.
    QString endText = QStringLiteral("Done!");
    {
        const kelvora::SearchRun::Scope running(*m_search);
        const WaitCursor cursor;
        const kelvora::SearchRequest request = StartForm->Request();
        try {
            proposeFileName(FileDialog::SaveResults, request.keyword);
        } catch (...) {
            // The proposed file name cannot stop a run.
        }
        try {
            RunSearch(request, kResultsPerPage, 0, &endText);
        } catch (...) {
            // A failed row ends the run; the rows added so far stay.
        }
    }
    m_ui->StatusBar1->showMessage(endText);
    kelvora::ProcessMessages();
    closeIfPending();
}

bool TForm1::RunSearch(const kelvora::SearchRequest &request, int count, int offset, QString *endText)
{
    return m_search->Run(request, count, offset, endText);
}

void TForm1::HarvestResults(std::string page, int offset)
{
    m_search->Harvest(std::move(page), offset);
}

bool TForm1::SearchRunning() const
{
    return m_search->Running();
}

void TForm1::closeIfPending()
{
    if (m_search->Running() || !m_search->ClosePending())
        return;
    m_search->ClearClosePending();
    close();
}

void TForm1::closeEvent(QCloseEvent *event)
{
    // Closing under a running search would leave it fetching for a window
    // nobody sees, and a later pump could touch destroyed widgets. Ask it to
    // stop after its row; the outermost Start closes the window once it returns.
    if (m_search->Running()) {
        m_search->RequestStop();
        m_search->RequestClose();
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}
