#include "app/unit1.h"

#include "ui_unit1.h"

#include "app/export_content.h"
#include "app/export_formats.h"
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

QString textOf(std::string_view text)
{
    return QString::fromLatin1(text.data(), qsizetype(text.size()));
}

// A name that already ends in a format's extension is written in that
// format, whichever filter is chosen; any other name follows the filter.
const ExportFormat &formatFor(const QString &path, const QString &filter)
{
    if (const ExportFormat *format = kelvora::ExportFormatForSuffix(QFileInfo(path).suffix()))
        return *format;
    return kelvora::ExportFormatForFilter(filter.toStdString());
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

void TForm1::ExportResults(const QString &path, const ExportFormat &format)
{
    std::string error;
    try {
        // Taken now: the table and the list may have changed while Stop and
        // the dialog pumped messages.
        const QTreeWidget *table = m_ui->ListView1;
        std::vector<kelvora::ResultRow> rows;
        const int count = kelvora::RowCount(table);
        rows.reserve(std::size_t(count));
        for (int i = 0; i < count; ++i)
            rows.push_back(kelvora::RowAt(table, i));

        kelvora::ExportContent content;
        content.results = kelvora::ResultsExportTable(rows);
        QStringList partners;
        for (int i = 0; i < m_ui->cbURL->count(); ++i)
            partners << m_ui->cbURL->itemText(i);
        content.partners = kelvora::PartnersExportTable(partners, m_partnerContacts);

        const std::string target = QFile::encodeName(path).toStdString();
        error = format.write(target, content);
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
    QStringList filters;
    for (const ExportFormat &format : kelvora::ExportFormats())
        filters << textOf(format.filter);
    dialog->setNameFilters(filters);
    const ExportFormat &first = kelvora::ExportFormats().front();
    dialog->selectNameFilter(textOf(first.filter));
    dialog->setDefaultSuffix(textOf(first.suffix));
    // A name typed without an extension gets the chosen filter's.
    connect(dialog, &QFileDialog::filterSelected, dialog, [dialog](const QString &filter) {
        dialog->setDefaultSuffix(textOf(kelvora::ExportFormatForFilter(filter.toStdString()).suffix));
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
