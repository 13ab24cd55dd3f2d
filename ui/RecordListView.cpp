#include "ui/RecordListView.h"

#include "core/RecordRoles.h"
#include "ui/TextRowDelegate.h"

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>

RecordListView::RecordListView(QWidget* parent) : QAbstractItemView(parent)
{
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setTextElideMode(Qt::ElideNone);
    m_measuring.setInterval(0);
    connect(&m_measuring, &QTimer::timeout, this, &RecordListView::measureRows);
}

void RecordListView::setModel(QAbstractItemModel* model)
{
    if (model == this->model())
        return;
    if (this->model())
        disconnect(this->model(), nullptr, this, nullptr);
    QAbstractItemView::setModel(model);
    if (model) {
        const auto shrunk = [this] {
            m_measured = std::min(m_measured, rowCount());
            updateGeometries();
            viewport()->update();
        };
        connect(model, &QAbstractItemModel::rowsRemoved, this, shrunk);
        connect(model, &QAbstractItemModel::rowsMoved, this, shrunk);
    }
    reset();
}

void RecordListView::setSelectionModel(QItemSelectionModel* selectionModel)
{
    QAbstractItemView::setSelectionModel(selectionModel);
    emit selectionModelChanged();
}

int RecordListView::rowCount() const
{
    return model() ? model()->rowCount(rootIndex()) : 0;
}

int RecordListView::rowHeight() const
{
    if (m_rowHeight > 0)
        return m_rowHeight;
    int height = 0;
    if (model() && rowCount() > 0) {
        QStyleOptionViewItem option;
        initViewItemOption(&option);
        const QModelIndex first = model()->index(0, 0, rootIndex());
        height = itemDelegateForIndex(first)->sizeHint(option, first).height();
        // Measured once there is a row to measure; until then, a guess that is not kept.
        m_rowHeight = std::max(height, 1);
        return m_rowHeight;
    }
    return std::max(fontMetrics().height() + 4, 1);
}

int RecordListView::rowWidth() const
{
    return std::max(m_widest, viewport()->width());
}

int RecordListView::sizeHintForRow(int row) const
{
    Q_UNUSED(row);
    return rowHeight();
}

int RecordListView::firstVisibleRow() const
{
    return verticalScrollBar()->value();
}

int RecordListView::visibleRowCount() const
{
    return std::max(1, viewport()->height() / rowHeight());
}

qint64 RecordListView::rowAtY(int y) const
{
    const int height = rowHeight();
    // Rounded down for points above the viewport too.
    const qint64 offset = y >= 0 ? y / height : -((qint64(-y) + height - 1) / height);
    return firstVisibleRow() + offset;
}

QRect RecordListView::visualRect(const QModelIndex& index) const
{
    if (!index.isValid() || index.parent() != rootIndex())
        return {};
    const qint64 y = qint64(index.row() - firstVisibleRow()) * rowHeight();
    const int clamped = int(std::clamp<qint64>(y, -(1 << 28), 1 << 28));
    return {-horizontalOffset(), clamped, rowWidth(), rowHeight()};
}

QModelIndex RecordListView::indexAt(const QPoint& point) const
{
    const qint64 row = rowAtY(point.y());
    if (row < 0 || row >= rowCount() || point.x() + horizontalOffset() >= rowWidth())
        return {};
    return model()->index(int(row), 0, rootIndex());
}

void RecordListView::scrollTo(const QModelIndex& index, ScrollHint hint)
{
    if (!index.isValid() || index.parent() != rootIndex())
        return;
    const int row = index.row();
    const int top = firstVisibleRow();
    const int visible = visibleRowCount();
    switch (hint) {
    case EnsureVisible:
        if (row < top)
            verticalScrollBar()->setValue(row);
        else if (row >= top + visible)
            verticalScrollBar()->setValue(row - visible + 1);
        break;
    case PositionAtTop:
        verticalScrollBar()->setValue(row);
        break;
    case PositionAtBottom:
        verticalScrollBar()->setValue(row - visible + 1);
        break;
    case PositionAtCenter:
        verticalScrollBar()->setValue(row - visible / 2);
        break;
    }
}

QModelIndex RecordListView::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers)
{
    Q_UNUSED(modifiers);
    const int rows = rowCount();
    if (rows == 0)
        return {};
    const QModelIndex current = currentIndex();
    if (!current.isValid())
        return model()->index(0, 0, rootIndex());
    int row = current.row();
    switch (cursorAction) {
    case MoveUp:
    case MovePrevious:
        --row;
        break;
    case MoveDown:
    case MoveNext:
        ++row;
        break;
    case MovePageUp:
        row -= visibleRowCount();
        break;
    case MovePageDown:
        row += visibleRowCount();
        break;
    case MoveHome:
        row = 0;
        break;
    case MoveEnd:
        row = rows - 1;
        break;
    case MoveLeft:
    case MoveRight:
        // One column: sideways keys scroll a long row instead.
        horizontalScrollBar()->triggerAction(cursorAction == MoveLeft ? QAbstractSlider::SliderSingleStepSub
                                                                      : QAbstractSlider::SliderSingleStepAdd);
        return current;
    }
    return model()->index(std::clamp(row, 0, rows - 1), 0, rootIndex());
}

int RecordListView::horizontalOffset() const
{
    return horizontalScrollBar()->value();
}

int RecordListView::verticalOffset() const
{
    return int(std::min<qint64>(qint64(firstVisibleRow()) * rowHeight(), 1 << 30));
}

bool RecordListView::isIndexHidden(const QModelIndex& index) const
{
    Q_UNUSED(index);
    return false;
}

void RecordListView::setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command)
{
    if (!selectionModel())
        return;
    const QRect normal = rect.normalized();
    const qint64 first = std::max<qint64>(rowAtY(normal.top()), 0);
    const qint64 last = std::min<qint64>(rowAtY(normal.bottom()), rowCount() - 1);
    QItemSelection selection;
    if (first <= last)
        selection.select(model()->index(int(first), 0, rootIndex()),
                         model()->index(int(last), 0, rootIndex()));
    selectionModel()->select(selection, command);
}

QRegion RecordListView::visualRegionForSelection(const QItemSelection& selection) const
{
    const int top = firstVisibleRow();
    const int bottom = top + visibleRowCount();
    QRegion region;
    for (const QItemSelectionRange& range : selection) {
        if (range.parent() != rootIndex())
            continue;
        const int first = std::max(range.top(), top);
        const int last = std::min(range.bottom(), bottom);
        if (first > last)
            continue;
        region += QRect(-horizontalOffset(), (first - top) * rowHeight(), rowWidth(),
                        (last - first + 1) * rowHeight());
    }
    return region;
}

void RecordListView::updateGeometries()
{
    const int visible = visibleRowCount();
    verticalScrollBar()->setSingleStep(1);
    verticalScrollBar()->setPageStep(visible);
    verticalScrollBar()->setRange(0, std::max(0, rowCount() - visible));
    const int width = viewport()->width();
    horizontalScrollBar()->setSingleStep(std::max(1, fontMetrics().averageCharWidth() * 4));
    horizontalScrollBar()->setPageStep(width);
    horizontalScrollBar()->setRange(0, std::max(0, m_widest - width));
    QAbstractItemView::updateGeometries();
}

void RecordListView::scrollContentsBy(int dx, int dy)
{
    // The vertical bar counts rows; the viewport moves in pixels.
    if (std::abs(dy) < visibleRowCount())
        viewport()->scroll(dx, dy * rowHeight());
    else
        viewport()->update();
}

void RecordListView::paintEvent(QPaintEvent* event)
{
    const int rows = rowCount();
    if (rows == 0)
        return;
    QPainter painter(viewport());
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    const int height = rowHeight();
    const int top = firstVisibleRow();
    const QRect area = event->rect();
    const qint64 first = std::max<qint64>(rowAtY(area.top()), 0);
    const qint64 last = std::min<qint64>(rowAtY(area.bottom()), rows - 1);
    const QModelIndex current = currentIndex();
    const bool focused = hasFocus();
    const QStyle::State base = option.state;
    for (qint64 row = first; row <= last; ++row) {
        const QModelIndex index = model()->index(int(row), 0, rootIndex());
        option.rect = QRect(-horizontalOffset(), int(row - top) * height, rowWidth(), height);
        option.state = base;
        if (selectionModel() && selectionModel()->isSelected(index))
            option.state |= QStyle::State_Selected;
        if (focused && index == current)
            option.state |= QStyle::State_HasFocus;
        itemDelegateForIndex(index)->paint(&painter, option, index);
    }
}

void RecordListView::keyPressEvent(QKeyEvent* event)
{
    // The base class would copy only the current row's display text.
    if (event == QKeySequence::Copy) {
        copySelection();
        event->accept();
        return;
    }
    QAbstractItemView::keyPressEvent(event);
}

void RecordListView::rowsInserted(const QModelIndex& parent, int start, int end)
{
    QAbstractItemView::rowsInserted(parent, start, end);
    if (parent != rootIndex())
        return;
    if (start == 0)
        m_rowHeight = 0; // the first row is there to measure now
    if (start <= m_measured)
        m_measured = std::min(m_measured, start); // rows after an insertion moved
    measureRows();
    updateGeometries();
    // Only rows that land on screen need painting.
    if (start < firstVisibleRow() + visibleRowCount() + 1)
        viewport()->update();
}

void RecordListView::reset()
{
    QAbstractItemView::reset();
    m_rowHeight = 0;
    m_widest = 0;
    m_measured = 0;
    measureRows();
    updateGeometries();
    viewport()->update();
}

void RecordListView::measureRows()
{
    // A crawl's batch is measured at once; a whole list of millions, a few milliseconds a turn.
    constexpr qint64 kBudgetMs = 4;
    const int rows = rowCount();
    if (!model() || m_measured >= rows) {
        m_measuring.stop();
        return;
    }
    const auto* rowDelegate = qobject_cast<const TextRowDelegate*>(itemDelegate());
    QStyleOptionViewItem option;
    if (!rowDelegate)
        initViewItemOption(&option);
    QElapsedTimer spent;
    spent.start();
    int widest = m_widest;
    while (m_measured < rows) {
        const QModelIndex index = model()->index(m_measured++, 0, rootIndex());
        // An estimate from character counts: shaping every row of millions would be too slow.
        widest = std::max(widest, rowDelegate ? rowDelegate->estimatedWidth(index)
                                              : itemDelegateForIndex(index)->sizeHint(option, index).width());
        if ((m_measured & 255) == 0 && spent.elapsed() >= kBudgetMs)
            break;
    }
    if (widest != m_widest) {
        m_widest = widest;
        updateGeometries();
    }
    if (m_measured < rows)
        m_measuring.start();
    else
        m_measuring.stop();
}

QStringList RecordListView::selectedExportTexts() const
{
    if (!selectionModel())
        return {};
    QModelIndexList rows = selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    QStringList texts;
    texts.reserve(rows.size());
    for (const QModelIndex& index : rows)
        texts.append(index.data(ExportTextRole).toString());
    return texts;
}

void RecordListView::copySelection()
{
    const QStringList texts = selectedExportTexts();
    if (texts.isEmpty())
        return;
    QGuiApplication::clipboard()->setText(texts.join(QLatin1Char('\n')));
}
