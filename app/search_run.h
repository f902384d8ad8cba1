#pragma once

#include "web/hooks.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <string>

class QLabel;
class QTreeWidget;

namespace kelvora {

struct SearchRequest;

// The search runs of the main window: the fetch of a results page, the
// harvest that turns it into rows, and what a run shares with the commands
// that may run inside its message pumps (the stop flag, the runs in progress,
// a close waiting for them, the generation of the rows).
class SearchRun final {
public:
    // The controls a run writes.
    struct Targets {
        QTreeWidget *table = nullptr;
        QLabel *resultsLabel = nullptr;
        QLabel *dateLabel = nullptr;
        std::function<void(const QString &)> showStatus;
    };

    SearchRun(Targets targets, PageHooks hooks);
    SearchRun(const SearchRun &) = delete;
    SearchRun &operator=(const SearchRun &) = delete;

    // Stop: the running harvest ends after its current row.
    void RequestStop() { m_stopRequested = true; }
    void ClearStop() { m_stopRequested = false; }
    bool StopRequested() const { return m_stopRequested; }

    // A run can start inside another's pump; the window counts them.
    class Scope final {
    public:
        explicit Scope(SearchRun &run) : m_run(run) { ++m_run.m_depth; }
        ~Scope() { --m_run.m_depth; }
        Scope(const Scope &) = delete;
        Scope &operator=(const Scope &) = delete;

    private:
        SearchRun &m_run;
    };
    bool Running() const { return m_depth > 0; }

    // The window was asked to close during a run: the runs stop fetching,
    // and the window closes once the outermost one has returned.
    void RequestClose() { m_closePending = true; }
    void ClearClosePending() { m_closePending = false; }
    bool ClosePending() const { return m_closePending; }

    // Every replacement of the rows (a harvest, an opened file) goes through
    // here, so a run suspended in a pump learns that its row is gone.
    void RowsReplaced() { ++m_generation; }

    // Fetches the results page for request and harvests it into the table.
    // endText, when given, gets the status text that ends the run ("Done!",
    // or "Done!" followed by why the search service gave no results page).
    // A failure of the fetch is rethrown after the harvest.
    bool Run(const SearchRequest &request, int count, int offset, QString *endText = nullptr);
    // Replaces the rows by those of a results page, rank offset + 1 first.
    void Harvest(std::string page, int offset);

private:
    Targets m_targets;
    PageHooks m_hooks;
    std::uint64_t m_generation = 0;
    int m_depth = 0;
    bool m_stopRequested = false;
    bool m_closePending = false;
};

} // namespace kelvora
