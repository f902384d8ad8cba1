#include "app/unit1.h"

#include "ui_unit1.h"

#include "app/export_content.h"
#include "app/export_csv.h"
#include "app/export_table.h"
#include "app/export_xlsx.h"
#include "app/globals.h"
#include "app/results_table.h"
#include "platform/file_folders.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QPushButton>
#include <QTreeWidget>

#include <exception>

using kelvora::ExportFormat;

namespace {

constexpr const char *kCsvFilter = "CSV files (*.csv)";
constexpr const char *kWorkbookFilter = "Excel workbooks (*.xlsx)";
constexpr const char *kCsvSuffix = "csv";
constexpr const char *kWorkbookSuffix = "xlsx";

ExportFormat formatOfFilter(const QString &filter)
{
    return filter == QLatin1String(kWorkbookFilter) ? ExportFormat::Workbook : ExportFormat::Csv;
}

// A name that already ends in one of the two extensions is written as such,
// whichever filter is chosen; any other name follows the filter.
ExportFormat formatFor(const QString &path, const QString &filter)
{
    const QString suffix = QFileInfo(path).suffix();
    if (suffix.compare(QLatin1String(kWorkbookSuffix), Qt::CaseInsensitive) == 0)
        return ExportFormat::Workbook;
    if (suffix.compare(QLatin1String(kCsvSuffix), Qt::CaseInsensitive) == 0)
        return ExportFormat::Csv;
    return formatOfFilter(filter);
}

QString suffixOf(ExportFormat format)
{
    return QLatin1String(format == ExportFormat::Workbook ? kWorkbookSuffix : kCsvSuffix);
}

} // namespace

void TForm1::Export1Click()
{
    try {
        m_ui->StopBtn->click();
    } catch (const std::exception &) {
    }
    try {
        QFileDialog *dialog = exportDialog();
        if (dialog->exec() != QDialog::Accepted)
            return;
        const QStringList files = dialog->selectedFiles();
        if (files.isEmpty())
            return;
        ExportResults(files.first(), formatFor(files.first(), dialog->selectedNameFilter()));
    } catch (const std::exception &) {
    }
}

void TForm1::ExportResults(const QString &path, ExportFormat format)
{
    std::string error;
    try {
        // Taken now: the table and the list may have changed while Stop and
        // the dialog pumped messages.
        const QTreeWidget *table = m_ui->ListView1;
        QStringList captions;
        for (int i = 0; i < table->columnCount(); ++i)
            captions << table->headerItem()->text(i);
        std::vector<kelvora::ResultRow> rows;
        const int count = kelvora::RowCount(table);
        rows.reserve(std::size_t(count));
        for (int i = 0; i < count; ++i)
            rows.push_back(kelvora::RowAt(table, i));

        kelvora::ExportContent content;
        content.results = kelvora::ResultsExportTable(captions, rows);
        QStringList partners;
        for (int i = 0; i < m_ui->cbURL->count(); ++i)
            partners << m_ui->cbURL->itemText(i);
        content.partners = kelvora::PartnersExportTable(partners, m_partnerContacts);

        const std::string target = QFile::encodeName(path).toStdString();
        error = format == ExportFormat::Workbook ? kelvora::WriteWorkbook(target, content)
                                                 : kelvora::WriteCsvFile(target, content);
    } catch (const std::exception &exception) {
        error = exception.what();
    }
    if (!error.empty())
        reportSaveFailure(path, error);
}

QFileDialog *TForm1::exportDialog()
{
    if (m_exportDialog.dialog)
        return m_exportDialog.dialog;

    auto *dialog = new QFileDialog(this);
    dialog->setObjectName(QStringLiteral("ExportDialog"));
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    // Like the program's other save dialogs, an existing file is replaced without asking.
    dialog->setOption(QFileDialog::DontConfirmOverwrite);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setNameFilters({QLatin1String(kCsvFilter), QLatin1String(kWorkbookFilter)});
    dialog->selectNameFilter(QLatin1String(kCsvFilter));
    dialog->setDefaultSuffix(suffixOf(ExportFormat::Csv));
    // A name typed without an extension gets the chosen filter's.
    connect(dialog, &QFileDialog::filterSelected, dialog, [dialog](const QString &filter) {
        dialog->setDefaultSuffix(suffixOf(formatOfFilter(filter)));
    });
    dialog->setDirectory(kelvora::StartFolder(kelvora::FileKind::Export));
    connect(dialog, &QFileDialog::fileSelected, dialog,
            [](const QString &file) { kelvora::RememberFolder(kelvora::FileKind::Export, file); });
    if (m_exportDialog.proposedName)
        dialog->selectFile(*m_exportDialog.proposedName);
    m_exportDialog.dialog = dialog;
    return dialog;
}

void TForm1::proposeExportName(const QString &name)
{
    if (m_exportDialog.dialog)
        m_exportDialog.dialog->selectFile(name);
    else
        m_exportDialog.proposedName = name;
}
