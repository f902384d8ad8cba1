#include "app/unit1.h"
#include "ui_unit1.h"

#include "app/anchors.h"
#include "app/globals.h"
#include "app/results_delegate.h"
#include "app/results_table.h"
#include "app/run_pump.h"
#include "app/search_run.h"
#include "dialogs/addresses.h"
#include "dialogs/infounit.h"
#include "dialogs/open_notice.h"
#include "platform/file_folders.h"
#include "platform/keyboard_focus.h"
#include "platform/message_pump.h"
#include "web/http.h"

#include <QAction>
#include <QCompleter>
#include <QCoreApplication>
#include <QEvent>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QScreen>
#include <QShowEvent>
#include <QStatusBar>
#include <QTreeWidget>

#include <array>
#include <exception>
#include <functional>
#include <memory>
#include <utility>

namespace {

using kelvora::Anchor;

// Sizes the controls were designed for: the client area (menu bar excluded,
// status bar included), the status bar, a tab page and the panel.
constexpr QSize kClientSize{511, 474};
constexpr int kStatusBarHeight = 19;
constexpr QSize kCentralSize{kClientSize.width(), kClientSize.height() - kStatusBarHeight};
constexpr QSize kTabSheetSize{493, 348};
constexpr QSize kPanelSize{336, 46};

constexpr const char *kHelpFileName = "help.chm";
constexpr const char *kHttpPrefix = "http://";

// Commands swallow their own errors; nothing is shown and nothing is logged.
template <typename Step>
void guarded(Step step)
{
    try {
        step();
    } catch (...) {
    }
}

// A double click anywhere on the list, rows or blank area, opens the selected
// row's details; Qt's own signal would fire on rows only.
class DoubleClickFilter final : public QObject {
public:
    DoubleClickFilter(QObject *parent, std::function<void()> action)
        : QObject(parent)
        , m_action(std::move(action))
    {
    }

    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::MouseButtonDblClick
            && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
            // Queued, so the list has finished with the click before a dialog opens.
            QMetaObject::invokeMethod(this, m_action, Qt::QueuedConnection);
        }
        return false;
    }

private:
    std::function<void()> m_action;
};

// A file dialog's name completer can show its list after the dialog has
// ended (the folder's listing arrives late); the list would stay over the main
// window and take its keys. The completers are detached, which hides their
// lists, while the dialog is hidden.
class CompleterGuard final : public QObject {
public:
    explicit CompleterGuard(QWidget *dialog)
        : QObject(dialog)
    {
        dialog->installEventFilter(this);
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::Show && event->type() != QEvent::Hide)
            return false;
        const bool shown = event->type() == QEvent::Show;
        for (QLineEdit *edit : watched->findChildren<QLineEdit *>()) {
            if (QCompleter *completer = edit->completer())
                completer->setWidget(shown ? edit : nullptr);
        }
        return false;
    }
};

} // namespace

TForm1::TForm1(QWidget *parent)
    : QMainWindow(parent)
    , m_ui(new Ui::TForm1)
{
    m_ui->setupUi(this);
    m_search = std::make_unique<kelvora::SearchRun>(
        kelvora::SearchRun::Targets{m_ui->ListView1, m_ui->ResultsLabel, m_ui->DateLabel,
                                    [this](const QString &text) { m_ui->StatusBar1->showMessage(text); }},
        PageHooks());
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint
                   | Qt::WindowCloseButtonHint);
    m_ui->BitBtn4->hide();
    m_ui->Label1->adjustSize();   // sized to its text; the panel's two labels keep their size
    m_ui->StatusBar1->setSizeGripEnabled(false);

    setupResultsTable();
    setupMenus();
    anchorControls();
    connectCommands();
    kelvora::EnterPressesFocusedButton(this);

    m_designSize = QSize(kClientSize.width(),
                         kClientSize.height() + m_ui->MainMenu1->sizeHint().height());
    resize(m_designSize);
    fixWindowSize(true);
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(), m_designSize);
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }

    FormCreate();
}

TForm1::~TForm1()
{
    delete m_ui;
}

void TForm1::setupResultsTable()
{
    QTreeWidget *table = m_ui->ListView1;
    table->setItemDelegate(new kelvora::ResultsDelegate(table));
    QHeaderView *header = table->header();
    header->setSectionsMovable(false);
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(false);
    header->setMinimumSectionSize(1);
    QStringList captions;
    for (const kelvora::ColumnDescription &column : kelvora::kResultColumns)
        captions << QString::fromLatin1(column.caption.data(), qsizetype(column.caption.size()));
    table->setHeaderLabels(captions);
    for (int i = 0; i < kelvora::kResultColumnCount; ++i)
        header->resizeSection(i, kelvora::kResultColumns[std::size_t(i)].width);

    // The header has one minimum for all sections; each column has its own.
    connect(header, &QHeaderView::sectionResized, this, [header](int index, int, int size) {
        if (index < 0 || index >= kelvora::kResultColumnCount)
            return;
        const int minimum = kelvora::kResultColumns[std::size_t(index)].minimumWidth;
        if (size < minimum)
            header->resizeSection(index, minimum);
    });
}

void TForm1::setupMenus()
{
    // Name the separators the way the rest of the menu items are named.
    const std::array<std::pair<QMenu *, const char *>, 4> separators{{
        {m_ui->File1, "N2"}, {m_ui->Website1, "N3"}, {m_ui->JVPartners1, "N4"}, {m_ui->Help1, "N1"},
    }};
    for (const auto &[menu, name] : separators) {
        for (QAction *action : menu->actions()) {
            if (action->isSeparator() && action->objectName().isEmpty()) {
                action->setObjectName(QLatin1String(name));
                break;
            }
        }
    }

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    PopupMenu1->addAction(m_ui->GetWebsiteInformation1);
    PopupMenu1->addAction(m_ui->VisitWebsite1);
}

void TForm1::anchorControls()
{
    using kelvora::SetAnchors;
    const kelvora::Anchors all = Anchor::Left | Anchor::Top | Anchor::Right | Anchor::Bottom;
    SetAnchors(m_ui->Image1, Anchor::Top | Anchor::Right, kCentralSize);
    SetAnchors(m_ui->PageControl1, all, kCentralSize);
    SetAnchors(m_ui->Panel1, Anchor::Left | Anchor::Top | Anchor::Right, kTabSheetSize);
    SetAnchors(m_ui->ResultsLabel, Anchor::Left | Anchor::Top | Anchor::Right, kPanelSize);
    SetAnchors(m_ui->DateLabel, Anchor::Left | Anchor::Top | Anchor::Right, kPanelSize);
    SetAnchors(m_ui->ListView1, all, kTabSheetSize);
    SetAnchors(m_ui->BitBtn2, Anchor::Top | Anchor::Right, kTabSheetSize);
    SetAnchors(m_ui->StopBtn, Anchor::Top | Anchor::Right, kTabSheetSize);
    SetAnchors(m_ui->BitBtn1, Anchor::Left | Anchor::Bottom, kTabSheetSize);
    SetAnchors(m_ui->WhoisMemo, all, kTabSheetSize);
}

void TForm1::connectCommands()
{
    Ui::TForm1 *ui = m_ui;
    connect(ui->BitBtn2, &QPushButton::clicked, this, &TForm1::BitBtn2Click);
    connect(ui->StopBtn, &QPushButton::clicked, this, &TForm1::StopBtnClick);
    connect(ui->BitBtn1, &QPushButton::clicked, this, &TForm1::BitBtn1Click);
    connect(ui->BitBtn3, &QPushButton::clicked, this, &TForm1::BitBtn3Click);
    connect(ui->BitBtn4, &QPushButton::clicked, this, &TForm1::BitBtn4Click);

    connect(ui->ListView1->header(), &QHeaderView::sectionClicked, this, &TForm1::ListView1ColumnClick);
    ui->ListView1->viewport()->installEventFilter(
        new DoubleClickFilter(ui->ListView1, [this] { Getwebsiteinformation2Click(); }));
    connect(ui->ListView1, &QWidget::customContextMenuRequested, this, [this](const QPoint &position) {
        PopupMenu1->popup(m_ui->ListView1->viewport()->mapToGlobal(position));
    });

    connect(ui->Open1, &QAction::triggered, this, &TForm1::Open1Click);
    connect(ui->Save1, &QAction::triggered, this, &TForm1::Save1Click);
    connect(ui->Export1, &QAction::triggered, this, &TForm1::Export1Click);
    connect(ui->Exit1, &QAction::triggered, this, &TForm1::Exit1Click);
    connect(ui->Getwebsiteinformation2, &QAction::triggered, this, &TForm1::Getwebsiteinformation2Click);
    connect(ui->Visittheselectedwebsite1, &QAction::triggered, this, &TForm1::Visittheselectedwebsite1Click);
    connect(ui->AddselectiontoStep21, &QAction::triggered, this, &TForm1::AddselectiontoStep21Click);
    connect(ui->Selectall1, &QAction::triggered, this, &TForm1::Selectall1Click);
    connect(ui->Selectnone1, &QAction::triggered, this, &TForm1::Selectnone1Click);
    connect(ui->Invertselection1, &QAction::triggered, this, &TForm1::Invertselection1Click);
    connect(ui->SavedatatoAsciifile1, &QAction::triggered, this, &TForm1::SavedatatoAsciifile1Click);
    connect(ui->Clear1, &QAction::triggered, this, &TForm1::Clear1Click);
    connect(ui->Contents1, &QAction::triggered, this, &TForm1::Contents1Click);
    connect(ui->VisitHomepage1, &QAction::triggered, this, &TForm1::VisitHomepage1Click);
    connect(ui->About1, &QAction::triggered, this, &TForm1::About1Click);
    connect(ui->GetWebsiteInformation1, &QAction::triggered, this, &TForm1::Getwebsiteinformation2Click);
    connect(ui->VisitWebsite1, &QAction::triggered, this, &TForm1::Visitwebsite1Click);
}

// The border does not size, but the maximise box does: while maximised the
// anchored controls follow the larger window.
void TForm1::fixWindowSize(bool fixed)
{
    if (fixed) {
        setMinimumSize(m_designSize);
        setMaximumSize(m_designSize);
    } else {
        setMinimumSize(m_designSize);
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    }
}

void TForm1::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::WindowStateChange && !m_designSize.isEmpty())
        fixWindowSize(!(windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)));
    QMainWindow::changeEvent(event);
}

bool TForm1::event(QEvent *event)
{
    // Only the search run and the link-popularity reading write the status
    // bar; a hovered menu item's status tip (empty here) would wipe "Done!" or
    // the host being looked up.
    if (event->type() == QEvent::StatusTip)
        return true;
    return QMainWindow::event(event);
}

void TForm1::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (event->spontaneous())
        return;
    // Qt gives the first focus by creation order (the tab bar); the window's
    // first tab stop is the results table. A program that starts takes the
    // keyboard, also where no window manager hands it over.
    m_ui->ListView1->setFocus(Qt::OtherFocusReason);
    activateWindow();
}

void TForm1::FormCreate()
{
    AppDir = QCoreApplication::applicationDirPath() + QLatin1Char('/');
    m_ui->ResultsLabel->clear();
    m_ui->DateLabel->clear();
}

QFileDialog *TForm1::fileDialog(FileDialog kind)
{
    LazyFileDialog &entry = m_fileDialogs.at(static_cast<std::size_t>(kind));
    if (entry.dialog)
        return entry.dialog;

    const QString resultsFilter = QStringLiteral("Kelvora files (*.kvr)");
    auto *dialog = new QFileDialog(this);
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    switch (kind) {
    case FileDialog::OpenResults:
        dialog->setObjectName(QStringLiteral("OpenDialog1"));
        dialog->setNameFilter(resultsFilter);
        dialog->setDefaultSuffix(QStringLiteral("kvr"));
        dialog->setAcceptMode(QFileDialog::AcceptOpen);
        // A name typed for a file that does not exist is still handed back.
        dialog->setFileMode(QFileDialog::AnyFile);
        break;
    case FileDialog::SaveResults:
        dialog->setObjectName(QStringLiteral("ResultsSaveDialog"));
        dialog->setOption(QFileDialog::DontConfirmOverwrite);
        dialog->setNameFilter(resultsFilter);
        dialog->setDefaultSuffix(QStringLiteral("kvr"));
        dialog->setAcceptMode(QFileDialog::AcceptSave);
        break;
    case FileDialog::SaveData:
        dialog->setObjectName(QStringLiteral("DataSaveDialog"));
        dialog->setOption(QFileDialog::DontConfirmOverwrite);
        dialog->setNameFilter(QStringLiteral("Text files (*.txt)"));
        dialog->setDefaultSuffix(QStringLiteral("txt"));
        dialog->setAcceptMode(QFileDialog::AcceptSave);
        break;
    }
    // Results files opened and saved share one folder; partner texts keep their own.
    const kelvora::FileKind fileKind =
        kind == FileDialog::SaveData ? kelvora::FileKind::PartnerText : kelvora::FileKind::Results;
    dialog->setDirectory(kelvora::StartFolder(fileKind));
    connect(dialog, &QFileDialog::fileSelected, dialog,
            [fileKind](const QString &file) { kelvora::RememberFolder(fileKind, file); });
    if (entry.proposedName)
        dialog->selectFile(*entry.proposedName);
    new CompleterGuard(dialog);
    entry.dialog = dialog;
    return dialog;
}

void TForm1::proposeFileName(FileDialog kind, const QString &name)
{
    // The export proposes the keyword too.
    if (kind == FileDialog::SaveResults)
        proposeExportName(name);
    LazyFileDialog &entry = m_fileDialogs.at(static_cast<std::size_t>(kind));
    if (entry.dialog)
        entry.dialog->selectFile(name);
    else
        entry.proposedName = name;
}

QFileDialog *TForm1::openDialog()
{
    return fileDialog(FileDialog::OpenResults);
}

QFileDialog *TForm1::resultsSaveDialog()
{
    return fileDialog(FileDialog::SaveResults);
}

QFileDialog *TForm1::dataSaveDialog()
{
    return fileDialog(FileDialog::SaveData);
}

kelvora::PageHooks TForm1::PageHooks()
{
    kelvora::PageHooks hooks;
    hooks.pump = [pump = std::make_shared<kelvora::CoalescedPump>(&kelvora::ProcessMessages,
                                                                 &kelvora::HttpGetCalls)] { (*pump)(); };
    hooks.setStatus = [this](const std::string &text) {
        m_ui->StatusBar1->showMessage(QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
    };
    return hooks;
}

void TForm1::showPage1()
{
    m_ui->PageControl1->setCurrentWidget(m_ui->TabSheet1);
}

void TForm1::showPage2()
{
    m_ui->PageControl1->setCurrentWidget(m_ui->TabSheet2);
}

void TForm1::StopBtnClick()
{
    m_search->RequestStop();
    kelvora::ProcessMessages();
}

void TForm1::Exit1Click()
{
    guarded([this] { m_ui->StopBtn->click(); });
    close();
}

void TForm1::About1Click()
{
    guarded([this] { m_ui->StopBtn->click(); });
    guarded([] {
        if (InfoForm)
            InfoForm->exec();
    });
}

void TForm1::Contents1Click()
{
    guarded([this] { kelvora::OpenOrExplain(this, AppDir + QLatin1String(kHelpFileName)); });
}

void TForm1::VisitHomepage1Click()
{
    guarded([this] { kelvora::OpenOrExplain(this, QLatin1String(kelvora::kHomePageUrl)); });
}

void TForm1::Visittheselectedwebsite1Click()
{
    guarded([this] { showPage1(); });
    guarded([this] {
        if (const auto site = kelvora::SelectedSite(m_ui->ListView1))
            kelvora::OpenOrExplain(this, QLatin1String(kHttpPrefix) + site->caption);
    });
}

void TForm1::Visitwebsite1Click()
{
    guarded([this] {
        const auto site = kelvora::SelectedSite(m_ui->ListView1);
        if (!site)
            return;
        const QString &caption = site->caption;
        // Only "http://" counts as a scheme here; lower-casing folds ASCII only.
        QString folded = caption;
        for (QChar &c : folded) {
            if (c >= u'A' && c <= u'Z')
                c = QChar(c.unicode() + (u'a' - u'A'));
        }
        if (folded.contains(QLatin1String(kHttpPrefix)))
            kelvora::OpenOrExplain(this, caption);
        else
            kelvora::OpenOrExplain(this, QLatin1String(kHttpPrefix) + caption);
    });
}

void TForm1::Selectall1Click()
{
    guarded([this] { showPage1(); });
    QTreeWidget *table = m_ui->ListView1;
    for (int i = 0; i < table->topLevelItemCount(); ++i)
        kelvora::SetTicked(table->topLevelItem(i), true);
}

void TForm1::Selectnone1Click()
{
    guarded([this] { showPage1(); });
    QTreeWidget *table = m_ui->ListView1;
    for (int i = 0; i < table->topLevelItemCount(); ++i)
        kelvora::SetTicked(table->topLevelItem(i), false);
}

void TForm1::Invertselection1Click()
{
    guarded([this] { showPage1(); });
    QTreeWidget *table = m_ui->ListView1;
    for (int i = 0; i < table->topLevelItemCount(); ++i) {
        QTreeWidgetItem *item = table->topLevelItem(i);
        kelvora::SetTicked(item, !kelvora::IsTicked(item));
    }
}

void TForm1::BitBtn1Click()
{
    guarded([this] { AddselectiontoStep21Click(); });
}

void TForm1::ListView1ColumnClick(int column)
{
    SortColumn = column;
    kelvora::SortRows(m_ui->ListView1, SortColumn);
}
