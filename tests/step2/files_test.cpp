#include "step2_fixture.h"

#include "app/globals.h"
#include "app/results_table.h"
#include "app/search_run.h"
#include "app/unit1.h"
#include "ui_unit1.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <csignal>
#include <sys/resource.h>

using kelvora::ResultRow;
using step2test::AnswerNextModal;
using step2test::ReadAll;
using step2test::WriteAll;
using step2test::Windows;

namespace {

QList<ResultRow> rows(const TForm1 &form)
{
    QList<ResultRow> list;
    for (int i = 0; i < kelvora::RowCount(form.ui()->ListView1); ++i)
        list << kelvora::RowAt(form.ui()->ListView1, i);
    return list;
}

void fill(TForm1 &form, const QList<ResultRow> &list, const QString &result, const QString &date)
{
    kelvora::ClearRows(form.ui()->ListView1);
    for (const ResultRow &row : list)
        kelvora::AddRow(form.ui()->ListView1, row);
    form.ui()->ResultsLabel->setText(result);
    form.ui()->DateLabel->setText(date);
}

} // namespace

class FilesTest final : public QObject {
    Q_OBJECT
private slots:
    void openReplacesRowsAndLabels();
    void openingAMissingFileEmptiesTheTable();
    void openingAFileOfAnotherKindKeepsTheTable();
    void saveWritesTheExampleAndReopensTheSame();
    void failedSaveIsReportedAndKeepsTheOldFile();
};

void FilesTest::openReplacesRowsAndLabels()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("list.kvr");
    WriteAll(path, "[Option]\r\nResult=Results for x\r\nDate=Date/Time: then\r\n"
                   "[item2]\r\nwebsite=c.test\r\ncheck=0\r\n[item0]\r\nwebsite=a.test\r\nAlexa=5\r\n"
                   "[item1]\r\nwebsite=b.test\r\ncheck=0x1F\r\n");
    Windows windows;
    TForm1 &form = windows.form();
    fill(form, {{"old.test", false, {"1", "", "", "", "", ""}}}, "old", "old");

    // Cancelled: nothing changes, but the search was told to stop.
    form.searchRun().ClearStop();
    auto seen = AnswerNextModal([](QWidget *modal) { qobject_cast<QDialog *>(modal)->reject(); });
    form.Open1Click();
    QVERIFY(seen->seen);
    QVERIFY(form.searchRun().StopRequested());
    QCOMPARE(kelvora::RowCount(form.ui()->ListView1), 1);

    seen = step2test::ChooseFile(path);
    form.Open1Click();
    QVERIFY(seen->seen);
    const QList<ResultRow> loaded = rows(form);
    QCOMPARE(loaded.size(), 3);
    QCOMPARE(loaded[0].caption, QStringLiteral("a.test"));
    QCOMPARE(loaded[0].cells, QStringList({"", "", "5", "", "", ""}));
    QCOMPARE(loaded[1].caption, QStringLiteral("b.test"));
    QCOMPARE(loaded[2].caption, QStringLiteral("c.test"));
    QCOMPARE(QList<bool>({loaded[0].ticked, loaded[1].ticked, loaded[2].ticked}),
             QList<bool>({true, true, false}));
    QCOMPARE(form.ui()->ResultsLabel->text(), QStringLiteral("Results for x"));
    QCOMPARE(form.ui()->DateLabel->text(), QStringLiteral("Date/Time: then"));
}

void FilesTest::openingAMissingFileEmptiesTheTable()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    Windows windows;
    TForm1 &form = windows.form();
    fill(form, {{"old.test", true, {"1", "", "", "", "", ""}}}, "old", "old");
    auto seen = step2test::ChooseFile(dir.filePath("none.kvr"));
    form.Open1Click();
    QVERIFY(seen->seen);
    QCOMPARE(kelvora::RowCount(form.ui()->ListView1), 0);
    QVERIFY(form.ui()->ResultsLabel->text().isEmpty());
    QVERIFY(form.ui()->DateLabel->text().isEmpty());
}

void FilesTest::openingAFileOfAnotherKindKeepsTheTable()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    Windows windows;
    TForm1 &form = windows.form();
    QList<ResultRow> table;
    for (int i = 0; i < 20; ++i)
        table.append({QStringLiteral("www.site%1.test").arg(i), i % 3 == 0, {QString::number(i + 1), "7", "", "", "", ""}});
    fill(form, table, "Results for websites related to \"x\"", "Date/Time: then");

    struct Case {
        const char *name;
        std::string bytes;
    };
    const Case cases[] = {
        {"export.csv", "Website URL,Rank #,Popularity\r\nwww.a.test,1,5\r\n"},
        // A workbook is a zip archive; a section-like line inside must not count.
        {"export.xlsx", std::string("PK\x03\x04\x14\0\0\0\x08\0", 10) + "\n[Content_Types].xml\n[item]\n"},
        {"picture.kvr", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\0\x01", 20)},
        {"settings.ini", "[General]\nitem0=website\n[Items]\nwebsite=a.test\n"},
        {"empty.kvr", ""},
    };
    for (const Case &c : cases) {
        const QString path = dir.filePath(QLatin1String(c.name));
        WriteAll(path, c.bytes);
        QString caption, text;
        step2test::Watch notice;
        auto seen = AnswerNextModal([&](QWidget *modal) {
            QVERIFY(step2test::AcceptFile(modal, path));
            notice = AnswerNextModal([&](QWidget *box) {
                caption = box->windowTitle();
                if (auto *message = qobject_cast<QMessageBox *>(box))
                    text = message->text();
            });
        });
        form.Open1Click();
        QVERIFY2(seen->seen, c.name);
        QVERIFY2(notice && notice->seen, c.name);
        QCOMPARE(caption, QStringLiteral("Kelvora"));
        QCOMPARE(text, QDir::toNativeSeparators(path) + QStringLiteral(" is not a Kelvora results file."));
        const QList<ResultRow> kept = rows(form);
        QCOMPARE(kept.size(), 20);
        for (qsizetype i = 0; i < table.size(); ++i) {
            QCOMPARE(kept[i].caption, table[i].caption);
            QCOMPARE(kept[i].ticked, table[i].ticked);
            QCOMPARE(kept[i].cells, table[i].cells);
        }
        QCOMPARE(form.ui()->ResultsLabel->text(), QStringLiteral("Results for websites related to \"x\""));
        QCOMPARE(form.ui()->DateLabel->text(), QStringLiteral("Date/Time: then"));
    }

    // Results files in any letter case, also one saved from an empty table,
    // still replace the table without a word.
    const QString lower = dir.filePath("lower.kvr");
    WriteAll(lower, "[ITEM0]\nWEBSITE=a.test\n");
    const QString onlyOption = dir.filePath("option.kvr");
    WriteAll(onlyOption, "[option]\nResult=r\nDate=d\n");
    form.LoadResultsFile(lower);
    QCOMPARE(rows(form).size(), 1);
    QCOMPARE(rows(form)[0].caption, QStringLiteral("a.test"));
    form.LoadResultsFile(onlyOption);
    QCOMPARE(rows(form).size(), 0);
    QCOMPARE(form.ui()->ResultsLabel->text(), QStringLiteral("r"));
    QVERIFY(QApplication::activeModalWidget() == nullptr);
}

void FilesTest::saveWritesTheExampleAndReopensTheSame()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    Windows windows;
    TForm1 &form = windows.form();
    const QString date = QStringLiteral("Date/Time: ") + QDateTime::currentDateTime().toString();
    fill(form, {{"www.example.test", true, {"1", "1230", "45678", "", "", "other.test"}}},
         QStringLiteral("Results for websites related to www.partner.test"), date);

    // A name typed without an extension gets ".kvr" from the dialog.
    auto seen = step2test::ChooseFile(dir.filePath("example"));
    form.Save1Click();
    QVERIFY(seen->seen);
    const std::string expected =
        "[item0]\r\nwebsite=www.example.test\r\nSE-rank=1\r\npopularity=1230\r\nAlexa=45678\r\n"
        "Since=\r\nAgreement=\r\nCompete=other.test\r\ncheck=1\r\n[Option]\r\n"
        "Result=Results for websites related to www.partner.test\r\nDate=" + date.toStdString() + "\r\n";
    QCOMPARE(ReadAll(dir.filePath("example.kvr")), expected);

    const QList<ResultRow> table = {
        {"b.test", false, {"2", "87", "450", "1999", "12", "x.test"}},
        {"a.test", true, {"1", "950", "3", "", "", ""}},
        {"c.test", true, {"3", "0", "999999999", "", "0", ""}},
    };
    fill(form, table, "Results for websites related to b.test", "Date/Time: now");
    // An earlier, longer file must leave no rows behind.
    const QString path = dir.filePath("table.kvr");
    WriteAll(path, "[item3]\r\nwebsite=old3\r\n[item4]\r\nwebsite=x\r\n[a]\r\nb=c\r\n[d]\r\ne=f\r\n");
    form.SaveResultsFile(path);
    fill(form, {}, "", "");
    form.LoadResultsFile(path);
    const QList<ResultRow> back = rows(form);
    QCOMPARE(back.size(), table.size());
    for (qsizetype i = 0; i < table.size(); ++i) {
        QCOMPARE(back[i].caption, table[i].caption);
        QCOMPARE(back[i].ticked, table[i].ticked);
        QCOMPARE(back[i].cells, table[i].cells);
    }
    QCOMPARE(form.ui()->ResultsLabel->text(), QStringLiteral("Results for websites related to b.test"));
    QCOMPARE(form.ui()->DateLabel->text(), QStringLiteral("Date/Time: now"));
}

void FilesTest::failedSaveIsReportedAndKeepsTheOldFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    Windows windows;
    TForm1 &form = windows.form();
    QList<ResultRow> many;
    for (int i = 0; i < 40; ++i)
        many.append({QStringLiteral("site%1.test").arg(i), true, {"1", "2", "3", "4", "5", "6"}});
    fill(form, many, "r", "d");

    // The file size limit makes every write beyond a few bytes fail, as a
    // full or unwritable disk would; root ignores folder permissions.
    const QString path = dir.filePath("old.kvr");
    const std::string old = "[item0]\r\nwebsite=kept.test\r\n";
    WriteAll(path, old);
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 64;

    QString caption, text;
    step2test::Watch notice;
    auto seen = AnswerNextModal([&](QWidget *modal) {
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        QVERIFY(step2test::AcceptFile(modal, path));
        notice = AnswerNextModal([&](QWidget *box) {
            QCOMPARE(setrlimit(RLIMIT_FSIZE, &saved), 0);
            caption = box->windowTitle();
            if (auto *message = qobject_cast<QMessageBox *>(box))
                text = message->text();
        });
    });
    form.Save1Click();
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &saved), 0);
    QVERIFY(seen->seen);
    QVERIFY(notice && notice->seen);
    QCOMPARE(caption, QStringLiteral("Kelvora"));
    QVERIFY2(text.contains(QDir::toNativeSeparators(path)), qPrintable(text));
    QCOMPARE(ReadAll(path), old);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList({"old.kvr"}));

    // A folder that cannot exist (its parent is a regular file) is reported too.
    caption.clear();
    const auto watch = AnswerNextModal([&](QWidget *box) { caption = box->windowTitle(); });
    form.SaveResultsFile(path + QStringLiteral("/inside.kvr"));
    QCOMPARE(caption, QStringLiteral("Kelvora"));
}

STEP2_TEST_MAIN(FilesTest)
#include "files_test.moc"
