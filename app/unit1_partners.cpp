#include "app/unit1.h"

#include "ui_unit1.h"

#include "app/globals.h"
#include "app/results_file.h"
#include "app/results_table.h"
#include "dialogs/dataunit.h"
#include "platform/message_pump.h"
#include "web/contact.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QSet>

#include <exception>

namespace {

constexpr const char *kNoticeCaption = "Kelvora";
constexpr const char *kNoPartnersText = "There are no partners in the selection combo box!";
constexpr const char *kClearCaption = "Delete the partners list?";
constexpr const char *kClearQuestion =
    "Are you sure you want to delete all the websites you have selected already?";

QString fromBytes(const std::string &bytes)
{
    return QString::fromLatin1(bytes.data(), qsizetype(bytes.size()));
}

// The pane shows its text with CR LF between lines; the document keeps each
// line as a block, so both directions translate the separators.
void setPaneText(QPlainTextEdit *pane, const std::string &bytes)
{
    QString text = fromBytes(bytes);
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    pane->setPlainText(text);
}

std::string paneText(const QPlainTextEdit *pane)
{
    // The raw text keeps every character as set (toPlainText would turn
    // non-breaking blanks into blanks); blocks are split by U+2029.
    QString text = pane->document()->toRawText();
    text.replace(QChar::ParagraphSeparator, QLatin1String("\r\n"));
    text.replace(QChar::LineSeparator, QLatin1String("\r\n"));
    return text.toLatin1().toStdString();
}

} // namespace

void TForm1::Getwebsiteinformation2Click()
{
    try {
        const auto row = kelvora::SelectedSite(m_ui->ListView1);
        if (!row || !DataForm)
            return;

        using kelvora::ResultColumn;
        DataForm->SetFields(kelvora::TextOf(*row, ResultColumn::Website),
                            kelvora::TextOf(*row, ResultColumn::OnlineSince),
                            kelvora::TextOf(*row, ResultColumn::Competitor));
        connect(DataForm, &TDataForm::visitWebsiteRequested, this, &TForm1::Visittheselectedwebsite1Click,
                Qt::UniqueConnection);
        DataForm->RefreshBitBtnClick();
        DataForm->exec();
    } catch (const std::exception &) {
    }
}

void TForm1::AddselectiontoStep21Click()
{
    QComboBox *list = m_ui->cbURL;
    // Case-folded copies of the items make the look-up linear in the rows.
    QSet<QString> present;
    for (int i = 0; i < list->count(); ++i)
        present.insert(list->itemText(i).toCaseFolded());

    const int count = kelvora::RowCount(m_ui->ListView1);
    for (int i = 0; i < count; ++i) {
        const QTreeWidgetItem *item = m_ui->ListView1->topLevelItem(i);
        if (!item || !kelvora::IsTicked(item))
            continue;
        const QString caption = item->text(0);
        if (caption.isEmpty())
            continue;
        const QString folded = caption.toCaseFolded();
        if (present.contains(folded))
            continue;
        present.insert(folded);
        list->addItem(caption);
    }

    // The first item stands in the edit field afterwards, even when it was
    // already current and the user had typed something else.
    if (list->count() > 0) {
        list->setCurrentIndex(0);
        list->setEditText(list->itemText(0));
    }
    showPage2();
}

void TForm1::Clear1Click()
{
    showPage2();
    QComboBox *list = m_ui->cbURL;
    if (list->count() == 0) {
        QMessageBox notice(QMessageBox::NoIcon, QString::fromLatin1(kNoticeCaption),
                           QString::fromLatin1(kNoPartnersText), QMessageBox::Ok, this);
        notice.exec();
        return;
    }
    QMessageBox question(QMessageBox::Question, QString::fromLatin1(kClearCaption),
                         QString::fromLatin1(kClearQuestion),
                         QMessageBox::Yes | QMessageBox::No, this);
    question.setDefaultButton(QMessageBox::Yes);
    if (question.exec() != QMessageBox::Yes)
        return;
    list->clear();
    list->clearEditText();
}

void TForm1::BitBtn3Click()
{
    kelvora::ProcessMessages();
    const std::string partner = m_ui->cbURL->currentText().toLatin1().toStdString();
    try {
        proposeFileName(FileDialog::SaveData, fromBytes(kelvora::ContactFileName(partner)));
    } catch (const std::exception &) {
    }
    kelvora::ContactData data;
    try {
        data = kelvora::FetchContact(partner, PageHooks());
        m_partnerContacts.Remember(partner, std::move(data.lines));
    } catch (const std::exception &) {
    }
    setPaneText(m_ui->WhoisMemo, data.paneText);
}

void TForm1::SavedatatoAsciifile1Click()
{
    showPage2();
    if (m_ui->WhoisMemo->document()->isEmpty())
        return;
    try {
        m_ui->StopBtn->click();
    } catch (const std::exception &) {
    }
    QFileDialog *dialog = dataSaveDialog();
    if (dialog->exec() != QDialog::Accepted)
        return;
    const QStringList files = dialog->selectedFiles();
    if (files.isEmpty())
        return;
    // The pane may have changed while Stop pumped messages: take it now.
    const std::string error = kelvora::WriteWholeFile(files.first(), paneText(m_ui->WhoisMemo));
    if (!error.empty())
        reportSaveFailure(files.first(), error);
}

void TForm1::BitBtn4Click()
{
    const std::string summary = kelvora::CompetitorSummary(paneText(m_ui->WhoisMemo), PageHooks());
    setPaneText(m_ui->WhoisMemo, summary);
}
