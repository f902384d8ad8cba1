#include "dialogs/dataunit.h"

#include "ui_dataunit.h"

#include "dialogs/placement.h"
#include "platform/keyboard_focus.h"
#include "platform/message_pump.h"
#include "web/hooks.h"
#include "web/title.h"

#include <QPushButton>
#include <QShowEvent>

#include <exception>
#include <string>

namespace {

constexpr int kModalResultIgnore = 5;

} // namespace

TDataForm::TDataForm(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                          | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
    , m_ui(new Ui::TDataForm)
{
    m_ui->setupUi(this);
    setFixedSize(size());

    connect(m_ui->RefreshBitBtn, &QPushButton::clicked, this, &TDataForm::RefreshBitBtnClick);
    connect(m_ui->BitBtn1, &QPushButton::clicked, this, &TDataForm::BitBtn1Click);
    connect(m_ui->BitBtn2, &QPushButton::clicked, this, &TDataForm::BitBtn2Click);
    kelvora::EnterPressesFocusedButton(this);
}

TDataForm::~TDataForm()
{
    delete m_ui;
}

void TDataForm::SetFields(const QString &url, const QString &since, const QString &competitor)
{
    m_ui->leURL->setText(url);
    m_ui->leSince->setText(since);
    m_ui->leCompet->setText(competitor);
    m_ui->DescriptionMemo->clear();
}

void TDataForm::RefreshBitBtnClick()
{
    // The prefix goes in front even when the field already holds a scheme.
    std::string title;
    try {
        kelvora::PageHooks hooks;
        hooks.pump = &kelvora::ProcessMessages;
        const std::string url = "http://" + m_ui->leURL->text().toLatin1().toStdString();
        title = kelvora::ExtractTitle(kelvora::FetchPage(url, hooks));
    } catch (const std::exception &) {
        // Whatever title was obtained is shown below; nothing is reported.
    }
    m_ui->DescriptionMemo->setPlainText(QString::fromLatin1(title.data(), qsizetype(title.size())));
}

void TDataForm::BitBtn1Click()
{
    try {
        emit visitWebsiteRequested();
    } catch (const std::exception &) {
    }
}

void TDataForm::BitBtn2Click()
{
    done(kModalResultIgnore);
}

void TDataForm::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    kelvora::CentreOnScreen(this);
    // The first tab stop: the panel's first field.
    m_ui->leURL->setFocus(Qt::OtherFocusReason);
}
