#include "tests/e2e/e2e_harness.h"

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QList>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTimer>
#include <QTreeWidget>

#include <cstdlib>
#include <utility>

#include "app/globals.h"
#include "app/unit1.h"
#include "dialogs/dataunit.h"
#include "dialogs/infounit.h"
#include "dialogs/startunit.h"
#include "platform/escape_key.h"
#include "platform/keyboard_focus.h"
#include "tests/e2e/fake_web.h"
#include "web/outbound.h"
#include "ui_startunit.h"
#include "ui_unit1.h"

namespace kelvora::e2e {

namespace {

constexpr int kPollIntervalMs = 5;
constexpr int kPollLimit = 1000;   // about five seconds

QList<QPointer<QTimer>> &drivers()
{
    static QList<QPointer<QTimer>> timers;
    return timers;
}

void fillSearchDialog(QWidget *widget, const SearchInput &input)
{
    auto *form = static_cast<TStartForm *>(widget);
    Ui::TStartForm *ui = form->ui();
    if (input.mode == SearchInput::Mode::Keyword)
        ui->rbKeyword->setChecked(true);
    else
        ui->rbDomain->setChecked(true);
    ui->LabeledEdit1->setText(input.keyword);
    ui->HomepageEdit->setText(input.target);
    switch (input.end) {
    case SearchInput::End::Research:
        ui->BitBtn1->click();
        break;
    case SearchInput::End::Cancel:
        ui->BitBtn2->click();
        break;
    case SearchInput::End::CloseBox:
        form->close();
        break;
    }
}

} // namespace

void PrepareEnvironment()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

Program::Program() : m_settings(std::make_unique<QTemporaryDir>())
{
    qputenv("XDG_CONFIG_HOME", m_settings->path().toLocal8Bit());
    QApplication::setQuitOnLastWindowClosed(false);
    InstallEscapeKeyTracking();
    InstallOwnerActivation();
    Form1 = new TForm1;
    StartForm = new TStartForm(Form1);
    InfoForm = new TInfoForm(Form1);
    DataForm = new TDataForm(Form1);
    Form1->show();
}

Program::~Program()
{
    DisarmAll();
    delete Form1;   // owns the dialogs
    Form1 = nullptr;
    StartForm = nullptr;
    InfoForm = nullptr;
    DataForm = nullptr;
}

void ArmModal(std::function<QWidget *()> dialog, std::function<void(QWidget *)> act)
{
    auto *timer = new QTimer(qApp);
    drivers().append(timer);
    auto ticks = std::make_shared<int>(0);
    timer->setInterval(kPollIntervalMs);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, ticks, dialog, act] {
        QWidget *modal = QApplication::activeModalWidget();
        QWidget *wanted = dialog();
        if (modal == nullptr || modal != wanted) {
            if (++*ticks >= kPollLimit) {
                timer->stop();
                timer->deleteLater();
            }
            return;
        }
        timer->stop();
        timer->deleteLater();
        act(modal);
        if (auto *box = qobject_cast<QDialog *>(modal); box != nullptr && box->isVisible())
            box->reject();
    });
    timer->start();
}

void ArmSearchDialog(const SearchInput &input)
{
    ArmModal([] { return static_cast<QWidget *>(StartForm); },
             [input](QWidget *widget) { fillSearchDialog(widget, input); });
}

void DisarmAll()
{
    for (const QPointer<QTimer> &timer : std::as_const(drivers())) {
        if (timer) {
            timer->stop();
            timer->deleteLater();
        }
    }
    drivers().clear();
}

void Start(const SearchInput &input)
{
    ArmSearchDialog(input);
    Form1->ui()->BitBtn2->click();
}

SearchInput Keyword(const QString &keyword)
{
    SearchInput input;
    input.keyword = keyword;
    return input;
}

void PostToGui(std::function<void()> fn)
{
    QMetaObject::invokeMethod(qApp, std::move(fn), Qt::QueuedConnection);
}

std::vector<ResultRow> Rows()
{
    std::vector<ResultRow> rows;
    const QTreeWidget *table = Form1->ui()->ListView1;
    for (int i = 0; i < RowCount(table); ++i)
        rows.push_back(RowAt(table, i));
    return rows;
}

QString StatusText()
{
    return Form1->ui()->StatusBar1->currentMessage();
}

QString RowMismatch(const ResultRow &row, const std::string &host, int rank)
{
    const SiteFigures figures = FakeWeb::figuresFor(host);
    // The estimate gets the rank counter after the row's rank was taken.
    const std::string agreement =
        EstimateAgreement(std::stoi(figures.popularity), figures.outbound, rank + 1);
    const QStringList expected = {
        QString::number(rank),
        QString::fromStdString(figures.popularity),
        QString::fromStdString(figures.trafficRank),
        QString::fromStdString(figures.onlineSince),
        QString::fromStdString(agreement),
        QString::fromStdString(figures.competitor),
    };
    QString problems;
    if (row.caption != QString::fromStdString(host))
        problems += QStringLiteral("caption '%1' for '%2'; ").arg(row.caption, QString::fromStdString(host));
    if (row.ticked)
        problems += QStringLiteral("ticked; ");
    for (int i = 0; i < kResultCells; ++i) {
        const QString actual = i < row.cells.size() ? row.cells.at(i) : QString();
        if (actual != expected.at(i))
            problems += QStringLiteral("cell %1 '%2', expected '%3'; ").arg(i).arg(actual, expected.at(i));
    }
    return problems;
}

} // namespace kelvora::e2e
