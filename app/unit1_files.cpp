#include "app/unit1.h"

#include "ui_unit1.h"

#include "app/results_file.h"
#include "app/results_table.h"
#include "app/search_run.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

#include <exception>

namespace {

constexpr const char *kNoticeCaption = "Kelvora";

// The first chosen file of a dialog the user accepted; empty when cancelled.
QString chosenFile(QFileDialog *dialog)
{
    if (!dialog || dialog->exec() != QDialog::Accepted)
        return {};
    const QStringList files = dialog->selectedFiles();
    return files.isEmpty() ? QString() : files.first();
}

} // namespace

void TForm1::Open1Click()
{
    try {
        m_ui->StopBtn->click();
    } catch (const std::exception &) {
    }
    try {
        const QString path = chosenFile(openDialog());
        if (path.isEmpty())
            return;
        LoadResultsFile(path);
    } catch (const std::exception &) {
        // Opening reports nothing; rows added before an error stay.
    }
}

void TForm1::Save1Click()
{
    try {
        m_ui->StopBtn->click();
    } catch (const std::exception &) {
    }
    try {
        const QString path = chosenFile(resultsSaveDialog());
        if (path.isEmpty())
            return;
        SaveResultsFile(path);
    } catch (const std::exception &) {
    }
}

void TForm1::LoadResultsFile(const QString &path)
{
    const kelvora::ResultsFileContent content = kelvora::ReadResultsFile(path);
    // A file of another kind (a CSV, a workbook) chosen by mistake must not
    // cost the table. A name typed for a file that does not exist still gives
    // an empty table.
    if (!content.recognised && QFileInfo::exists(path)) {
        reportNotResultsFile(path);
        return;
    }
    // A run suspended in a message pump must learn that its rows are gone
    // before any of them disappears.
    m_search->RowsReplaced();
    kelvora::ClearRows(m_ui->ListView1);

    for (const kelvora::ResultRow &row : content.rows)
        kelvora::AddRow(m_ui->ListView1, row);
    m_ui->ResultsLabel->setText(content.result);
    m_ui->DateLabel->setText(content.date);
}

void TForm1::SaveResultsFile(const QString &path)
{
    kelvora::ResultsFileContent content;
    const int count = kelvora::RowCount(m_ui->ListView1);
    content.rows.reserve(std::size_t(count));
    for (int i = 0; i < count; ++i)
        content.rows.push_back(kelvora::RowAt(m_ui->ListView1, i));
    content.result = m_ui->ResultsLabel->text();
    content.date = m_ui->DateLabel->text();

    const std::string error = kelvora::WriteResultsFile(path, content);
    if (!error.empty())
        reportSaveFailure(path, error);
}

void TForm1::reportNotResultsFile(const QString &path)
{
    const QString text = QStringLiteral("%1 is not a Kelvora results file.").arg(QDir::toNativeSeparators(path));
    QMessageBox notice(QMessageBox::Warning, QString::fromLatin1(kNoticeCaption), text, QMessageBox::Ok, this);
    notice.exec();
}

void TForm1::reportSaveFailure(const QString &path, const std::string &reason)
{
    // Silence would let the user believe the data was saved.
    const QString text = QStringLiteral("The file \"%1\" could not be saved:\n%2")
                             .arg(QDir::toNativeSeparators(path), QString::fromLocal8Bit(reason));
    QMessageBox notice(QMessageBox::Warning, QString::fromLatin1(kNoticeCaption), text,
                       QMessageBox::Ok, this);
    notice.exec();
}
