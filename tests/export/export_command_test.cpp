#include "step2_fixture.h"
#include "xlsx_reader.h"

#include "app/export_table.h"
#include "app/globals.h"
#include "app/results_table.h"
#include "app/search_run.h"
#include "app/unit1.h"
#include "platform/file_folders.h"
#include "tests/support/loopback_server.h"
#include "ui_unit1.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMenu>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <cstdlib>
#include <initializer_list>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

using kelvora::testsupport::LoopbackServer;
using step2test::AnswerNextModal;
using step2test::ReadAll;
using step2test::WriteAll;
using step2test::Windows;

namespace {

const QString kCsvFilter = QStringLiteral("CSV files (*.csv)");
const QString kWorkbookFilter = QStringLiteral("Excel workbooks (*.xlsx)");
const std::string kBom = "\xEF\xBB\xBF";
const std::string kCsvHeader =
    "Website URL,Rank #,Popularity,Alexa Rank #,Online Since,Agreement Estimation,Competitor,Ticked\r\n";

// While alive, this thread meets file permissions also when it runs as root:
// the capabilities that override them leave its effective set.
class PermissionsApply {
public:
    PermissionsApply()
    {
        if (!capabilities(m_saved, SYS_capget))
            return;
        __user_cap_data_struct reduced[_LINUX_CAPABILITY_U32S_3] = {m_saved[0], m_saved[1]};
        for (const int capability : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER})
            reduced[CAP_TO_INDEX(capability)].effective &= ~CAP_TO_MASK(capability);
        m_ok = capabilities(reduced, SYS_capset);
    }
    ~PermissionsApply()
    {
        if (m_ok)
            capabilities(m_saved, SYS_capset);
    }
    PermissionsApply(const PermissionsApply &) = delete;
    PermissionsApply &operator=(const PermissionsApply &) = delete;
    bool ok() const { return m_ok; }

private:
    static bool capabilities(__user_cap_data_struct *data, long call)
    {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        return ::syscall(call, &header, data) == 0;
    }
    __user_cap_data_struct m_saved[_LINUX_CAPABILITY_U32S_3]{};
    bool m_ok = false;
};

// Picks a filter the way the user does, with the keys of the dialog's filter box.
bool chooseFilter(QFileDialog *dialog, const QString &filter)
{
    auto *box = dialog->findChild<QComboBox *>(QStringLiteral("fileTypeCombo"));
    const int index = box ? box->findText(filter) : -1;
    if (index < 0)
        return false;
    while (box->currentIndex() != index) {
        const int before = box->currentIndex();
        QTest::keyClick(box, before < index ? Qt::Key_Down : Qt::Key_Up);
        if (box->currentIndex() == before)
            return false;
    }
    return dialog->selectedNameFilter() == filter;
}

// Arms the next file dialog: choose filter (when given), then path.
step2test::Watch exportTo(const QString &path, const QString &filter = QString())
{
    return AnswerNextModal([path, filter](QWidget *modal) {
        auto *dialog = qobject_cast<QFileDialog *>(modal);
        QVERIFY(dialog);
        if (!filter.isEmpty())
            QVERIFY(chooseFilter(dialog, filter));
        QVERIFY(step2test::AcceptFile(modal, path));
    });
}

} // namespace

class ExportCommandTest final : public QObject {
    Q_OBJECT
private slots:
    void menuItemOpensADialogForBothFormats();
    void exportsTableAndPartnerContactsAsCsvAndWorkbook();
    void readOnlyFolderKeepsTheOldFileAndShowsANotice();
};

void ExportCommandTest::menuItemOpensADialogForBothFormats()
{
    Windows windows;
    TForm1 &form = windows.form();
    QStringList texts;
    for (const QAction *action : form.ui()->File1->actions())
        texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
    QCOMPARE(texts, QStringList({"&Open file...", "&Save file...", "&Export...", "-", "E&xit"}));

    form.searchRun().ClearStop();
    QStringList filters;
    QString suffix, suffixAfterChoice, folder;
    auto seen = AnswerNextModal([&](QWidget *modal) {
        auto *dialog = qobject_cast<QFileDialog *>(modal);
        QVERIFY(dialog && dialog->acceptMode() == QFileDialog::AcceptSave);
        filters = dialog->nameFilters();
        suffix = dialog->defaultSuffix();
        folder = dialog->directory().absolutePath();
        QVERIFY(chooseFilter(dialog, kWorkbookFilter));
        suffixAfterChoice = dialog->defaultSuffix();
        dialog->reject();
    });
    // The command stops a running search first, also when then cancelled.
    form.ui()->Export1->trigger();
    QVERIFY(seen->seen);
    QVERIFY(form.searchRun().StopRequested());
    QCOMPARE(filters, QStringList({kCsvFilter, kWorkbookFilter}));
    QCOMPARE(suffix, QStringLiteral("csv"));
    QCOMPARE(suffixAfterChoice, QStringLiteral("xlsx"));
    QCOMPARE(folder, QDir(kelvora::StartFolder(kelvora::FileKind::Export)).absolutePath());
}

void ExportCommandTest::exportsTableAndPartnerContactsAsCsvAndWorkbook()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    LoopbackServer server([](const std::string &head) {
        const std::string body = head.find("url=www.shop.test ") != std::string::npos
                                     ? "<!--contact--><b>Acme, Sons</b><br>=HYPERLINK()<!--/contact-->"
                                     : "nothing here";
        return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    });
    step2test::ResolveAllTo(server.port());
    ::setenv("KELVORA_TRAFFIC_HOST", "traffic.test", 1);
    Windows windows;
    TForm1 &form = windows.form();
    QTreeWidget *table = form.ui()->ListView1;
    kelvora::AddRow(table, {"www.shop.test", true, {"1", "950", "3", "", "40", "rival.test"}});
    kelvora::AddRow(table, {QString::fromLatin1("caf\xe9.test"), false, {"2", "87", "450", "1999", "", ""}});
    form.ListView1ColumnClick(1);   // the export keeps the table's current order
    form.ListView1ColumnClick(0);
    form.AddselectiontoStep21Click();
    form.ui()->cbURL->addItem(QStringLiteral("unread.test"));
    // "Get Data" for the first partner; the second is read but has no contact block.
    form.ui()->cbURL->setCurrentIndex(0);
    form.BitBtn3Click();
    form.ui()->cbURL->setCurrentIndex(1);
    form.BitBtn3Click();
    QCOMPARE(server.requests().size(), std::size_t(2));

    // The default filter: a name without extension becomes a .csv file.
    auto seen = exportTo(dir.filePath("list"));
    form.Export1Click();
    QVERIFY(seen->seen);
    QCOMPARE(ReadAll(dir.filePath("list.csv")),
             kBom + kCsvHeader +
                 "caf\xC3\xA9.test,2,87,450,1999,,,no\r\n"
                 "www.shop.test,1,950,3,,40,rival.test,yes\r\n"
                 "\r\n"
                 "Website URL,Contact line 1,Contact line 2\r\n"
                 "www.shop.test,\"Acme, Sons\",'=HYPERLINK()\r\n"
                 "unread.test,,\r\n");

    // The workbook filter gives a workbook, and so does a name ending in .xlsx.
    const QStringList books = {dir.filePath("book.xlsx"), dir.filePath("named.XLSX")};
    seen = exportTo(dir.filePath("book"), kWorkbookFilter);
    form.Export1Click();
    QVERIFY(seen->seen);
    seen = exportTo(books[1], kCsvFilter);
    form.Export1Click();
    QVERIFY(seen->seen);
    for (const QString &path : books) {
        const auto book = exporttest::ReadWorkbook(path.toStdString());
        QVERIFY2(book && book->sheets.size() == 2, qPrintable(path));
        QCOMPARE(book->sheets[0].rows.at(2).at(0).value, std::string("caf\xC3\xA9.test"));
        QCOMPARE(book->sheets[1].rows.at(2).at(1).value, std::string("Acme, Sons"));
    }
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
             QStringList({"book.xlsx", "list.csv", "named.XLSX"}));
    ::unsetenv("KELVORA_TRAFFIC_HOST");
}

void ExportCommandTest::readOnlyFolderKeepsTheOldFileAndShowsANotice()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    Windows windows;
    TForm1 &form = windows.form();
    kelvora::AddRow(form.ui()->ListView1, {"a.test", true, {"1", "2", "3", "4", "5", "6"}});
    form.ui()->cbURL->addItem(QStringLiteral("a.test"));

    for (const QString &name : {QStringLiteral("old.csv"), QStringLiteral("old.xlsx")}) {
        const QString path = dir.filePath(name);
        WriteAll(path, "old");
        QCOMPARE(::chmod(QFile::encodeName(dir.path()).constData(), 0500), 0);
        QString caption, text;
        step2test::Watch notice;
        {
            const PermissionsApply permissions;
            QVERIFY(permissions.ok());
            auto seen = AnswerNextModal([&](QWidget *modal) {
                QVERIFY(step2test::AcceptFile(modal, path));
                notice = AnswerNextModal([&](QWidget *box) {
                    caption = box->windowTitle();
                    if (auto *message = qobject_cast<QMessageBox *>(box))
                        text = message->text();
                });
            });
            form.Export1Click();
            QVERIFY(seen->seen);
        }
        QCOMPARE(::chmod(QFile::encodeName(dir.path()).constData(), 0700), 0);
        QVERIFY(notice && notice->seen);
        QCOMPARE(caption, QStringLiteral("Kelvora"));
        QVERIFY2(text.contains(QDir::toNativeSeparators(path)), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("Permission denied")), qPrintable(text));
        QCOMPARE(ReadAll(path), std::string("old"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList({name}));
        QFile::remove(path);
    }
}

STEP2_TEST_MAIN(ExportCommandTest)
#include "export_command_test.moc"
