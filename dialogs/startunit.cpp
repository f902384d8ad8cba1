#include "dialogs/startunit.h"
#include "ui_startunit.h"

#include "dialogs/placement.h"
#include "platform/keyboard_focus.h"
#include "platform/message_pump.h"
#include "platform/registry.h"

#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QShowEvent>
#include <QSpinBox>

#include <string>

namespace {

constexpr int kSkipDigits = 2;
// How far a label's letters may close up to stay inside its frame.
constexpr qreal kTightestLetterSpacing = 90.0;   // percent of the font's own
constexpr qreal kLetterSpacingStep = 0.5;

std::string latin1(const QString &text)
{
    const QByteArray bytes = text.toLatin1();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

QString fromLatin1(const std::string &text)
{
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

// The frame was laid out for MS Sans Serif; a font that measures wider would
// push a label's end onto or past the frame's edge. Tighten the letters just
// enough to stay inside, rather than cut the text or move the label off its edit.
void fitInsideFrame(QLabel *label, const QWidget *frame)
{
    const int room = frame->contentsRect().right() + 1 - label->x();
    QFont font = label->font();
    for (qreal spacing = 100.0 - kLetterSpacingStep;
         label->sizeHint().width() > room && spacing >= kTightestLetterSpacing; spacing -= kLetterSpacingStep) {
        font.setLetterSpacing(QFont::PercentageSpacing, spacing);
        label->setFont(font);
    }
    label->adjustSize();
}

} // namespace

QString kelvora::SearchRequest::Query() const
{
    return mode == Mode::Keyword ? keyword : homepage;
}

TStartForm::TStartForm(QWidget *parent)
    : QDialog(parent)
    , m_ui(new Ui::TStartForm)
{
    m_ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(size());
    // Labels size themselves to their text, whatever the font measures.
    for (QLabel *label : {m_ui->Label2, m_ui->Label3, m_ui->LabeledEdit1Label, m_ui->HomepageEditLabel})
        label->adjustSize();
    for (QLabel *label : {m_ui->LabeledEdit1Label, m_ui->HomepageEditLabel})
        fitInsideFrame(label, m_ui->GroupBox1);
    if (auto *edit = m_ui->SkipSpinEdit->findChild<QLineEdit *>())
        edit->setMaxLength(kSkipDigits);

    connect(m_ui->BitBtn1, &QPushButton::clicked, this, &TStartForm::BitBtn1Click);
    connect(m_ui->BitBtn2, &QPushButton::clicked, this, &TStartForm::BitBtn2Click);
    kelvora::EnterPressesFocusedButton(this);

    FormCreate();
}

TStartForm::~TStartForm()
{
    delete m_ui;
}

void TStartForm::FormCreate()
{
    try {
        kelvora::RegistryKey key;
        if (!key.OpenKey(kelvora::kSetupKeyPath, false)) {
            m_ui->LabeledEdit1->clear();
            m_ui->HomepageEdit->clear();
            return;
        }
        // A value of the wrong type throws and ends the loading where it stands.
        m_ui->LabeledEdit1->setText(key.ValueExists("keyterm") ? fromLatin1(key.ReadString("keyterm")) : QString());
        m_ui->HomepageEdit->setText(key.ValueExists("home") ? fromLatin1(key.ReadString("home")) : QString());
        if (key.ValueExists("skip"))
            m_ui->SkipSpinEdit->setValue(key.ReadInteger("skip"));   // the spin box clamps to 0..99
        key.CloseKey();
    } catch (...) {
    }
}

void TStartForm::BitBtn1Click()
{
    try {
        done(kResearchResult);
        kelvora::ProcessMessages();
    } catch (...) {
    }
}

void TStartForm::BitBtn2Click()
{
    done(kCancelResult);
}

kelvora::SearchRequest TStartForm::Request() const
{
    kelvora::SearchRequest request;
    request.mode = m_ui->rbKeyword->isChecked() ? kelvora::SearchRequest::Mode::Keyword
                                                : kelvora::SearchRequest::Mode::Domain;
    request.keyword = m_ui->LabeledEdit1->text();
    request.homepage = m_ui->HomepageEdit->text();
    return request;
}

void TStartForm::FormCloseQuery()
{
    try {
        kelvora::RegistryKey key;
        if (!key.OpenKey(kelvora::kSetupKeyPath, true))
            return;
        key.WriteString("keyterm", latin1(m_ui->LabeledEdit1->text()));
        key.WriteString("home", latin1(m_ui->HomepageEdit->text()));
        bool isNumber = false;
        const int skip = m_ui->SkipSpinEdit->text().toInt(&isNumber);
        key.WriteInteger("skip", isNumber ? skip : m_ui->SkipSpinEdit->minimum());
        key.CloseKey();
    } catch (...) {
    }
}

void TStartForm::done(int result)
{
    FormCloseQuery();
    QDialog::done(result);
}

void TStartForm::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    kelvora::CentreOnScreen(this);
    // Qt would give the focus by creation order, or keep last time's: the
    // dialog's first tab stop is "Research".
    m_ui->BitBtn1->setFocus(Qt::OtherFocusReason);
}
