#include "dialogs/infounit.h"

#include "controls/ovalbtn.h"
#include "dialogs/addresses.h"
#include "dialogs/open_notice.h"
#include "dialogs/placement.h"
#include "resources/resources.h"
#include "ui_infounit.h"

#include <QShowEvent>

namespace {

constexpr int kFontPixelSize = 12;

} // namespace

TInfoForm::TInfoForm(QWidget *parent) : QDialog(parent)
{
    // The pictures come from the resource file, which a static library must register.
    kelvora::InitResources();
    m_ui = new Ui::TInfoForm;
    m_ui->setupUi(this);
    // A fixed box with a close box only.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowCloseButtonHint);
    setFixedSize(size());

    QFont boxFont = font();
    boxFont.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
    boxFont.setPixelSize(kFontPixelSize);
    setFont(boxFont);

    for (TOvalButton *button : {m_ui->BitBtn3, m_ui->OvalButton2, m_ui->OvalButton1}) {
        QFont captionFont = button->font();
        captionFont.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("DejaVu Sans")});
        button->setFont(captionFont);
    }

    connect(m_ui->BitBtn3, &TOvalButton::clicked, this, &TInfoForm::BitBtn3Click);
    connect(m_ui->OvalButton2, &TOvalButton::clicked, this, &TInfoForm::OvalButton2Click);
    connect(m_ui->OvalButton1, &TOvalButton::clicked, this, &TInfoForm::OvalButton1Click);
}

TInfoForm::~TInfoForm()
{
    delete m_ui;
}

void TInfoForm::BitBtn3Click()
{
    done(kCloseResult);
}

void TInfoForm::OvalButton2Click()
{
    kelvora::OpenOrExplain(this, QString::fromLatin1(kelvora::kHomePageUrl));
}

void TInfoForm::OvalButton1Click()
{
    kelvora::OpenOrExplain(this, QStringLiteral("mailto:") + QString::fromLatin1(kelvora::kSupportAddress)
                       + QStringLiteral("?subject=Kelvora Help"));
}

void TInfoForm::reject()
{
    done(kCloseResult);
}

void TInfoForm::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        kelvora::CentreOnScreen(this);
}
