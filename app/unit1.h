#pragma once

#include <QMainWindow>
#include <QString>
#include <array>
#include <memory>
#include <optional>
#include <string>

#include "app/partner_contacts.h"
#include "web/hooks.h"

class QCloseEvent;
class QFileDialog;
class QMenu;
namespace Ui { class TForm1; }
namespace kelvora {
struct ExportFormat;
class SearchRun;
struct SearchRequest;
} // namespace kelvora

// The main window and home of every command. Its handlers are spread over a
// few files by subject: unit1.cpp (window and local commands),
// unit1_search.cpp (Start and the close box), unit1_partners.cpp (website details and
// Step 2), unit1_files.cpp (results files) and unit1_export.cpp (export).
class TForm1 final : public QMainWindow {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TForm1)
public:
    explicit TForm1(QWidget *parent = nullptr);
    ~TForm1() override;

    // Other windows and the tests reach the controls through here.
    Ui::TForm1 *ui() const { return m_ui; }

    // The callbacks the page readers get: message pump and status-bar text.
    kelvora::PageHooks PageHooks();

    // --- window and local commands (unit1.cpp)
    void FormCreate();
    void StopBtnClick();
    void Exit1Click();
    void About1Click();
    void Contents1Click();
    void VisitHomepage1Click();
    void Visittheselectedwebsite1Click();
    void Visitwebsite1Click();
    void Selectall1Click();
    void Selectnone1Click();
    void Invertselection1Click();
    void BitBtn1Click();
    void ListView1ColumnClick(int column);

    // --- search run (unit1_search.cpp; the run itself is a SearchRun)
    void BitBtn2Click();
    bool RunSearch(const kelvora::SearchRequest &request, int count, int offset, QString *endText = nullptr);
    void HarvestResults(std::string page, int offset);
    bool SearchRunning() const;
    // The stop flag and the rest of what runs share with the commands.
    kelvora::SearchRun &searchRun() const { return *m_search; }

    // --- website information dialog and Step 2 (unit1_partners.cpp)
    void Getwebsiteinformation2Click();
    void AddselectiontoStep21Click();
    void Clear1Click();
    void BitBtn3Click();
    void SavedatatoAsciifile1Click();
    void BitBtn4Click();

    // --- results files (unit1_files.cpp)
    void Open1Click();
    void Save1Click();
    void LoadResultsFile(const QString &path);
    void SaveResultsFile(const QString &path);

    // --- export of the table and the partner list (unit1_export.cpp)
    void Export1Click();
    void ExportResults(const QString &path, const kelvora::ExportFormat &format);
    QFileDialog *exportDialog();

    // The file dialogs OpenDialog1, ResultsSaveDialog and DataSaveDialog. Each
    // is made when first needed, since a Qt file dialog starts reading its
    // folder the moment it exists (for a program folder such as /usr/bin that
    // is most of a second of the window's time), and then kept, so that its
    // folder, filter and proposed name persist between uses.
    QFileDialog *openDialog();
    QFileDialog *resultsSaveDialog();
    QFileDialog *dataSaveDialog();
    // The results table's pop-up menu, made from the window's own actions.
    QMenu *PopupMenu1 = nullptr;

protected:
    void closeEvent(QCloseEvent *event) override;   // unit1_search.cpp
    void changeEvent(QEvent *event) override;       // unit1.cpp: fixed size unless maximised
    bool event(QEvent *event) override;             // unit1.cpp: menus leave the status bar alone
    void showEvent(QShowEvent *event) override;     // unit1.cpp: focus on the results table

private:
    enum class FileDialog { OpenResults, SaveResults, SaveData };
    QFileDialog *fileDialog(FileDialog kind);       // unit1.cpp
    // The file name a dialog proposes, also before the dialog exists.
    void proposeFileName(FileDialog kind, const QString &name);
    void showPage1();
    void showPage2();
    void setupResultsTable();                       // unit1.cpp
    void setupMenus();                              // unit1.cpp
    void connectCommands();                         // unit1.cpp
    void anchorControls();                          // unit1.cpp
    void fixWindowSize(bool fixed);                 // unit1.cpp

    struct LazyFileDialog {
        QFileDialog *dialog = nullptr;
        std::optional<QString> proposedName;    // for when it is made
    };
    std::array<LazyFileDialog, 3> m_fileDialogs;
    LazyFileDialog m_exportDialog;
    void proposeExportName(const QString &name);    // unit1_export.cpp
    kelvora::PartnerContacts m_partnerContacts;     // what Get Data read, for the export

    QSize m_designSize;                             // the window's size when not maximised
    // Closes the window when its close box was pressed during a run that has
    // now ended (the outermost Start has returned).
    void closeIfPending();                          // unit1_search.cpp
    // A save that failed is told to the user, naming the file and the reason.
    void reportSaveFailure(const QString &path, const std::string &reason);   // unit1_files.cpp
    // Opening a file that is not a results file keeps the table and says so.
    void reportNotResultsFile(const QString &path);                           // unit1_files.cpp

    Ui::TForm1 *m_ui;
    std::unique_ptr<kelvora::SearchRun> m_search;
};
