// Where the file dialogs start: the folder last used for each kind of file,
// kept in the settings, else the program's folder in the user's documents.
#include "app/globals.h"
#include "app/unit1.h"
#include "dialogs/dataunit.h"
#include "dialogs/infounit.h"
#include "dialogs/startunit.h"
#include "gui_test_main.h"
#include "platform/file_folders.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QTemporaryDir>

#include <array>

namespace {

struct Folders {
    QString open, save, data, exported;
};

// A new main window, as at the next start, and where its four dialogs start.
Folders startFolders()
{
    Form1 = new TForm1;
    Folders folders{Form1->openDialog()->directory().absolutePath(),
                    Form1->resultsSaveDialog()->directory().absolutePath(),
                    Form1->dataSaveDialog()->directory().absolutePath(),
                    Form1->exportDialog()->directory().absolutePath()};
    delete Form1;
    Form1 = nullptr;
    return folders;
}

// The user picks path and presses the dialog's accept button.
void accept(QFileDialog *dialog, const QString &path)
{
    dialog->selectFile(path);
    QMetaObject::invokeMethod(dialog, "accept", Qt::DirectConnection);
}

} // namespace

class FileFoldersTest final : public QObject {
    Q_OBJECT
private slots:
    void dialogsStartInTheLastFolderOfTheirKindElseInDocuments();
};

void FileFoldersTest::dialogsStartInTheLastFolderOfTheirKindElseInDocuments()
{
    QTemporaryDir home;
    QVERIFY(home.isValid());
    // The user's documents folder, as the desktop's user-dirs.dirs names it.
    const QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    QFile userDirs(configHome + QStringLiteral("/user-dirs.dirs"));
    QVERIFY(userDirs.open(QIODevice::WriteOnly));
    userDirs.write("XDG_DOCUMENTS_DIR=\"" + home.filePath("Papers").toLocal8Bit() + "\"\n");
    userDirs.close();
    const QString documents = home.filePath("Papers/Kelvora");
    QCOMPARE(kelvora::DocumentsFolder(), documents);
    QVERIFY(!QFileInfo::exists(documents));

    // First use: every dialog starts in the documents folder, created for it.
    Folders first = startFolders();
    QCOMPARE(first.open, documents);
    QCOMPARE(first.save, documents);
    QCOMPARE(first.data, documents);
    QCOMPARE(first.exported, documents);
    QVERIFY(QFileInfo(documents).isDir());
    for (const QString &folder : {first.open, first.save, first.data, first.exported})
        QVERIFY(QDir(folder) != QDir(AppDir));

    // A results file saved elsewhere and an export in a third folder: the
    // results dialogs (open and save share the kind) follow the first, the
    // export dialog the second, the partner text stays in documents.
    const QString lists = home.filePath("lists");
    const QString exports = home.filePath("exports");
    QVERIFY(QDir().mkpath(lists) && QDir().mkpath(exports));
    Form1 = new TForm1;
    accept(Form1->resultsSaveDialog(), lists + QStringLiteral("/web hosting.kvr"));
    accept(Form1->exportDialog(), exports + QStringLiteral("/table.csv"));
    Form1->dataSaveDialog()->reject();   // a cancelled dialog remembers nothing
    delete Form1;
    Form1 = nullptr;
    const Folders second = startFolders();
    QCOMPARE(second.open, lists);
    QCOMPARE(second.save, lists);
    QCOMPARE(second.exported, exports);
    QCOMPARE(second.data, documents);
    // Kept in the settings, beside the search dialog's values.
    QFile settings(configHome + QStringLiteral("/Torvane/Kelvora1Software/Folders.reg"));
    QVERIFY(settings.open(QIODevice::ReadOnly));
    const QByteArray stored = settings.readAll();
    QVERIFY2(stored.contains("\"results\"=sz:\"" + lists.toLocal8Bit() + "\""), stored.constData());

    // A remembered folder that has gone: back to documents, also when the
    // documents folder was removed meanwhile (it is made again).
    QVERIFY(QDir(lists).removeRecursively());
    QVERIFY(QDir(documents).removeRecursively());
    const Folders third = startFolders();
    QCOMPARE(third.open, documents);
    QCOMPARE(third.save, documents);
    QCOMPARE(third.exported, exports);
    QVERIFY(QFileInfo(documents).isDir());
}

KELVORA_GUI_TEST_MAIN(FileFoldersTest)
#include "file_folders_test.moc"
