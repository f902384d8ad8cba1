// Opening help, web addresses and mail links: the desktop shell's fall-backs
// when the opener is missing or fails, and the notice the commands then show.
#include "app/globals.h"
#include "app/results_table.h"
#include "app/unit1.h"
#include "dialogs/addresses.h"
#include "dialogs/dataunit.h"
#include "dialogs/infounit.h"
#include "dialogs/open_notice.h"
#include "dialogs/startunit.h"
#include "gui_test_main.h"
#include "platform/shell.h"
#include "ui_unit1.h"

#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <functional>

namespace {

// Writes an executable shell script.
bool writeScript(const QString &path, const QByteArray &body)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write("#!/bin/sh\n" + body + "\n");
    file.close();
    return file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Records what it is asked to open and fails when told to.
class FailingShell final : public kelvora::Shell {
public:
    void Open(const QString &target) override { opened << target; }
    void OpenReporting(const QString &target, std::function<void()> failed) override
    {
        opened << target;
        if (fails && failed)
            failed();
    }
    QStringList opened;
    bool fails = true;
};

// The notice the last command left open: its caption and text, then closed.
struct Notice {
    bool shown = false;
    QString caption;
    QString text;
};
Notice takeNotice(int waitMs = 2000)
{
    constexpr int kStepMs = 10;
    Notice notice;
    QMessageBox *box = nullptr;
    for (int waited = 0; waited <= waitMs && box == nullptr; waited += kStepMs) {
        box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (box == nullptr)
            QTest::qWait(kStepMs);
    }
    if (box == nullptr)
        return notice;
    notice = {true, box->windowTitle(), box->text()};
    box->done(QMessageBox::Ok);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return notice;
}

} // namespace

class ShellTest final : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void desktopShellFallsBackAndReportsOnlyRealFailures();
    void commandsExplainWhatCouldNotBeOpened();

private:
    QTemporaryDir m_dir;
    QString m_bin;
};

void ShellTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_bin = m_dir.filePath("bin");
    QVERIFY(QDir().mkpath(m_bin));
    // Only the programs this test puts there: no real opener, viewer or browser.
    qputenv("PATH", m_bin.toLocal8Bit());
    qunsetenv("BROWSER");
    qunsetenv("DEFAULT_BROWSER");
}

void ShellTest::desktopShellFallsBackAndReportsOnlyRealFailures()
{
    const QString help = m_dir.filePath("help.chm");
    QFile(help).open(QIODevice::WriteOnly);
    const QString opened = m_dir.filePath("opened.txt");
    const QString viewed = m_dir.filePath("viewed.txt");
    const QByteArray recordOpen = "echo \"$1\" > '" + opened.toLocal8Bit() + "'";
    const QByteArray recordView = "echo \"$1\" > '" + viewed.toLocal8Bit() + "'";

    struct Case {
        const char *name;
        QByteArray opener;   // xdg-open's script; empty: no opener
        QByteArray viewer;   // xchm's script; empty: no viewer
        QString target;
        bool fails;
        bool viewerRuns;
    };
    const QString site = QStringLiteral("http://www.site.test");
    const Case cases[] = {
        {"nothing installed", {}, {}, help, true, false},
        {"nothing installed, web address", {}, {}, site, true, false},
        {"viewer only", {}, recordView, help, false, true},
        {"opener works", recordOpen, recordView, help, false, false},
        {"opener knows no program", recordOpen + "\nexit 3", {}, help, true, false},
        {"opener fails, viewer there", recordOpen + "\nexit 4", recordView, help, false, true},
        {"opener fails on a web address", recordOpen + "\nexit 3", recordView, site, true, false},
        {"opener dies", recordOpen + "\nkill -9 $$", {}, site, true, false},
    };
    for (const Case &c : cases) {
        QFile::remove(m_bin + "/xdg-open");
        QFile::remove(m_bin + "/xchm");
        QFile::remove(opened);
        QFile::remove(viewed);
        if (!c.opener.isEmpty())
            QVERIFY(writeScript(m_bin + "/xdg-open", c.opener));
        if (!c.viewer.isEmpty())
            QVERIFY(writeScript(m_bin + "/xchm", c.viewer));

        int failures = 0;
        kelvora::ShellOpenReporting(c.target, [&failures] { ++failures; });
        // The opener's word comes from the event loop; give it time to end.
        if (!c.opener.isEmpty())
            QTRY_COMPARE_WITH_TIMEOUT(readFile(opened), c.target.toLocal8Bit() + "\n", 5000);
        if (c.viewerRuns)
            QTRY_COMPARE_WITH_TIMEOUT(readFile(viewed), c.target.toLocal8Bit() + "\n", 5000);
        if (c.fails)
            QTRY_COMPARE_WITH_TIMEOUT(failures, 1, 5000);
        QTest::qWait(200);
        QVERIFY2(failures == (c.fails ? 1 : 0), c.name);
        if (!c.viewerRuns)
            QVERIFY2(!QFile::exists(viewed), c.name);
    }
}

void ShellTest::commandsExplainWhatCouldNotBeOpened()
{
    FailingShell shell;
    kelvora::SetShell(&shell);
    Form1 = new TForm1;
    StartForm = new TStartForm(Form1);
    InfoForm = new TInfoForm(Form1);
    DataForm = new TDataForm(Form1);
    AppDir = m_dir.path() + QLatin1Char('/');
    const QString help = m_dir.filePath("help.chm");
    QFile(help).open(QIODevice::WriteOnly);
    kelvora::AddRow(Form1->ui()->ListView1, kelvora::ResultRow{"www.a.test", false, {"1"}});
    Form1->ui()->ListView1->setCurrentItem(Form1->ui()->ListView1->topLevelItem(0));
    const QString home = QString::fromLatin1(kelvora::kHomePageUrl);

    struct Case {
        const char *name;
        std::function<void()> command;
        QString target;
        QStringList says;   // parts of the notice's text
    };
    const Case cases[] = {
        {"F1", [] { Form1->ui()->Contents1->trigger(); }, help,
         {"Kelvora could not open " + help + ": no CHM viewer", "sudo apt-get install xchm"}},
        {"Help > Visit Website", [] { Form1->VisitHomepage1Click(); }, home, {home, "web browser"}},
        {"Visit the selected website", [] { Form1->Visittheselectedwebsite1Click(); }, "http://www.a.test",
         {"Kelvora could not open http://www.a.test: no web browser", "firefox-esr"}},
        {"About > Website", [] { InfoForm->OvalButton2Click(); }, home, {home, "web browser"}},
        {"About > Mail", [] { InfoForm->OvalButton1Click(); }, QString(), {"mailto:", "mail program"}},
    };
    for (const Case &c : cases) {
        shell.opened.clear();
        shell.fails = true;
        c.command();
        QCOMPARE(shell.opened.size(), 1);
        if (!c.target.isEmpty())
            QCOMPARE(shell.opened.first(), c.target);
        const Notice notice = takeNotice();
        QVERIFY2(notice.shown, c.name);
        QCOMPARE(notice.caption, QStringLiteral("Kelvora"));
        for (const QString &part : c.says)
            QVERIFY2(notice.text.contains(part), qPrintable(QString::fromLatin1(c.name) + ": " + notice.text));

        // Opened: no word at all.
        shell.fails = false;
        c.command();
        QVERIFY2(!takeNotice(100).shown, c.name);
    }

    // A help file that is not there is named as missing, not as a viewer problem.
    QFile::remove(help);
    shell.fails = true;
    Form1->Contents1Click();
    const Notice missing = takeNotice();
    QVERIFY(missing.text.contains(QStringLiteral("the file is missing")));
    QVERIFY(!missing.text.contains(QStringLiteral("xchm")));

    delete Form1;
    Form1 = nullptr;
    kelvora::SetShell(nullptr);
}

KELVORA_GUI_TEST_MAIN(ShellTest)
#include "shell_test.moc"
