#include "app/results_list.h"

#include <QEvent>
#include <QHeaderView>
#include <QScrollBar>

#include <algorithm>
#include <utility>

namespace kelvora {

namespace {

// Lets a widget drop update requests for a moment without the full repaint
// that setUpdatesEnabled(true) asks for when it turns updates back on.
class DroppedUpdates final
{
public:
    explicit DroppedUpdates(QWidget *widget)
        : m_widget(widget), m_wasDropping(widget->testAttribute(Qt::WA_UpdatesDisabled))
    {
        m_widget->setAttribute(Qt::WA_UpdatesDisabled, true);
    }
    ~DroppedUpdates() { m_widget->setAttribute(Qt::WA_UpdatesDisabled, m_wasDropping); }
    DroppedUpdates(const DroppedUpdates &) = delete;
    DroppedUpdates &operator=(const DroppedUpdates &) = delete;

private:
    QWidget *m_widget;
    bool m_wasDropping;
};

} // namespace

ResultsHeader::ResultsHeader(QWidget *parent)
    : QHeaderView(Qt::Horizontal, parent)
{
    // What a tree view gives its own header.
    setSectionsMovable(true);
    setStretchLastSection(true);
    setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

void ResultsHeader::setModel(QAbstractItemModel *model)
{
    if (QAbstractItemModel *old = this->model())
        disconnect(old, nullptr, this, nullptr);
    forgetHint();
    QHeaderView::setModel(model);
    if (model == nullptr)
        return;
    connect(model, &QAbstractItemModel::headerDataChanged, this, &ResultsHeader::forgetHint);
    connect(model, &QAbstractItemModel::columnsInserted, this, &ResultsHeader::forgetHint);
    connect(model, &QAbstractItemModel::columnsRemoved, this, &ResultsHeader::forgetHint);
    connect(model, &QAbstractItemModel::columnsMoved, this, &ResultsHeader::forgetHint);
    connect(model, &QAbstractItemModel::layoutChanged, this, &ResultsHeader::forgetHint);
    connect(model, &QAbstractItemModel::modelReset, this, &ResultsHeader::forgetHint);
}

ResultsHeader::Basis ResultsHeader::basis() const
{
    return Basis{font(), style(), count(), hiddenSectionCount(), isSortIndicatorShown(),
                 sortIndicatorSection()};
}

void ResultsHeader::forgetHint()
{
    m_hint = QSize();
}

QSize ResultsHeader::sizeHint() const
{
    Basis now = basis();
    if (m_hint.isValid() && now == m_basis)
        return m_hint;
    // Measured as the standard header does (its first and last hundred shown
    // titles), but not from its own cache, which outlives some of the changes.
    constexpr int kMeasured = 100;
    QSize hint(0, 0);
    const int sections = count();
    int first = 0;
    for (int measured = 0; measured < kMeasured && first < sections; ++first) {
        if (isSectionHidden(first))
            continue;
        ++measured;
        hint = hint.expandedTo(sectionSizeFromContents(first));
    }
    for (int last = sections - 1, measured = 0; last >= std::max(first, sections - kMeasured)
                                                && measured < kMeasured; --last) {
        if (isSectionHidden(last))
            continue;
        ++measured;
        hint = hint.expandedTo(sectionSizeFromContents(last));
    }
    m_hint = hint;
    m_basis = std::move(now);
    return m_hint;
}

bool ResultsHeader::event(QEvent *event)
{
    switch (event->type()) {
    case QEvent::StyleChange:
    case QEvent::FontChange:
    case QEvent::LayoutDirectionChange:
    case QEvent::Polish:
        forgetHint();
        break;
    default:
        break;
    }
    return QHeaderView::event(event);
}

ResultsList::ResultsList(QWidget *parent)
    : QTreeWidget(parent)
{
    setHeader(new ResultsHeader(this));
    // As the tree widget leaves its own header.
    header()->setSectionsClickable(false);
    // Changes that move or restyle rows already shown.
    const QAbstractItemModel *rows = model();
    connect(rows, &QAbstractItemModel::rowsAboutToBeRemoved, this, &ResultsList::needFullRepaint);
    connect(rows, &QAbstractItemModel::rowsRemoved, this, &ResultsList::needFullRepaint);
    connect(rows, &QAbstractItemModel::rowsMoved, this, &ResultsList::needFullRepaint);
    connect(rows, &QAbstractItemModel::columnsInserted, this, &ResultsList::needFullRepaint);
    connect(rows, &QAbstractItemModel::columnsRemoved, this, &ResultsList::needFullRepaint);
    connect(rows, &QAbstractItemModel::columnsMoved, this, &ResultsList::needFullRepaint);
    connect(rows, &QAbstractItemModel::layoutAboutToBeChanged, this, &ResultsList::needFullRepaint);
    connect(rows, &QAbstractItemModel::layoutChanged, this, &ResultsList::needFullRepaint);
    connect(rows, &QAbstractItemModel::modelReset, this, &ResultsList::needFullRepaint);
    connect(rows, &QAbstractItemModel::headerDataChanged, this, &ResultsList::needFullRepaint);
}

// The tree widget's model outlives this part of the object and still signals
// while the base classes tear down.
ResultsList::~ResultsList()
{
    disconnect(model(), nullptr, this, nullptr);
}

void ResultsList::needFullRepaint()
{
    m_fullRepaint = true;
}

bool ResultsList::event(QEvent *event)
{
    switch (event->type()) {
    case QEvent::StyleChange:
    case QEvent::FontChange:
    case QEvent::PaletteChange:
    case QEvent::LayoutDirectionChange:
    case QEvent::LocaleChange:
        needFullRepaint();
        break;
    default:
        break;
    }
    return QTreeWidget::event(event);
}

void ResultsList::rowsInserted(const QModelIndex &parent, int start, int end)
{
    const bool appended = !parent.isValid() && end == model()->rowCount() - 1;
    if (appended)
        m_appendedFrom = m_appendedFrom < 0 ? start : std::min(m_appendedFrom, start);
    else
        needFullRepaint();
    QTreeWidget::rowsInserted(parent, start, end);
}

void ResultsList::dataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight,
                              const QList<int> &roles)
{
    // While a layout is pending the tree view leaves changed rows unpainted,
    // counting on the full repaint that follows; a row above the appended
    // ones then needs it.
    if (m_appendedFrom >= 0 && (topLeft.parent().isValid() || topLeft.row() < m_appendedFrom))
        needFullRepaint();
    QTreeWidget::dataChanged(topLeft, bottomRight, roles);
}

ResultsList::Placement ResultsList::placement() const
{
    const QHeaderView *columns = header();
    Placement where{viewport()->geometry(),
                    columns->isHidden() ? QRect() : columns->geometry(),
                    horizontalScrollBar()->value(),
                    verticalScrollBar()->value(),
                    {}};
    where.sections.reserve(columns->count() * 2);
    for (int i = 0; i < columns->count(); ++i) {
        where.sections.append(columns->sectionViewportPosition(i));
        where.sections.append(columns->sectionSize(i));
    }
    return where;
}

void ResultsList::doItemsLayout()
{
    const int appendedFrom = m_appendedFrom;
    const bool onlyAppended = appendedFrom >= 0 && !m_fullRepaint && isVisible() && updatesEnabled();
    m_appendedFrom = -1;
    m_fullRepaint = false;
    if (!onlyAppended) {
        QTreeWidget::doItemsLayout();
        return;
    }

    QWidget *rows = viewport();
    QWidget *titles = header()->viewport();
    const Placement before = placement();
    {
        const DroppedUpdates rowUpdates(rows);
        const DroppedUpdates titleUpdates(titles);
        QTreeWidget::doItemsLayout();
    }
    const QRect first = visualRect(model()->index(appendedFrom, 0));
    if (placement() != before || !first.isValid()) {
        rows->update();
        titles->update();
        return;
    }
    // The rows above kept their places and pixels; only the new ones (and
    // the empty space below them) need painting.
    const int top = std::max(0, first.top());
    rows->update(QRect(0, top, rows->width(), rows->height() - top));
}

} // namespace kelvora
