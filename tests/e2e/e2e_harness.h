#pragma once

#include <QString>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/results_table.h"

class QObject;
class QWidget;

// The program's windows as start-up makes them, and drivers for the modal
// dialogs a search opens, for end-to-end tests on the offscreen platform.
namespace kelvora::e2e {

// What the driven search dialog is given and how it is ended.
struct SearchInput {
    enum class Mode { Keyword, Domain };
    enum class End { Research, Cancel, CloseBox };

    Mode mode = Mode::Keyword;
    QString keyword;
    QString target;
    End end = End::Research;
};

// Owns the test program's environment: offscreen platform (unless chosen),
// settings in a temporary folder, the Escape key tracking, the owner's
// activation after a modal window and the four windows. Create one after the
// QApplication, before the first test.
class Program final {
public:
    Program();
    ~Program();
    Program(const Program &) = delete;
    Program &operator=(const Program &) = delete;

private:
    std::unique_ptr<QTemporaryDir> m_settings;
};

// Sets the platform and the settings folder; call before the QApplication.
void PrepareEnvironment();

// Waits for the next modal `dialog`, lets act() fill it and end it; a dialog
// act() leaves open is rejected so that a failed check cannot hang the test.
// Polls for at most a few seconds, so an unconsumed driver goes away by itself.
void ArmModal(std::function<QWidget *()> dialog, std::function<void(QWidget *)> act);
// ArmModal for the search dialog with input.
void ArmSearchDialog(const SearchInput &input);
// Stops every driver still waiting.
void DisarmAll();

// Presses "Start" with the dialog driven by input; returns when the command
// has returned, that is after the whole run.
void Start(const SearchInput &input);
SearchInput Keyword(const QString &keyword);

// Runs fn on the GUI thread at its next event pump; callable from any thread
// (the fake's request hook runs on the server's thread).
void PostToGui(std::function<void()> fn);

std::vector<ResultRow> Rows();
QString StatusText();

// Empty when row is the complete row the fake's figures give for host at
// rank; otherwise what differs.
QString RowMismatch(const ResultRow &row, const std::string &host, int rank);

} // namespace kelvora::e2e
