#include "ui/RowFilterModel.h"

#include "core/RecordRoles.h"

#include <QElapsedTimer>

#include <algorithm>

namespace {

// How long one event-loop pass may spend examining rows, and how many rows it may add to
// the view at most (each costs the view a little too).
constexpr qint64 kScanBudgetMs = 8;
constexpr int kMaxRowsPerPass = 4096;

QStringList roleFields(const QModelIndex& index)
{
    return {index.data(NameRole).toString(), index.data(ProvenanceIDRole).toString(),
            index.data(QuarantineAppRole).toString(), index.data(PathRole).toString()};
}

} // namespace

RowFilterModel::RowFilterModel(QObject* parent) : QAbstractProxyModel(parent), m_fields(roleFields)
{
    // A zero timer, unlike queued calls, lets pending repaints and input run between passes.
    m_scanner.setInterval(0);
    connect(&m_scanner, &QTimer::timeout, this, &RowFilterModel::scan);
}

void RowFilterModel::setSourceModel(QAbstractItemModel* source)
{
    beginRestart();
    for (const QMetaObject::Connection& connection : std::as_const(m_connections))
        disconnect(connection);
    m_connections.clear();
    QAbstractProxyModel::setSourceModel(source);
    if (source) {
        // Rows added after the examined ones only need examining; anything else starts over.
        m_connections
            << connect(source, &QAbstractItemModel::rowsAboutToBeInserted, this,
                       [this](const QModelIndex&, int first, int) { sourceRowsAboutToChange(first); })
            << connect(source, &QAbstractItemModel::rowsInserted, this, &RowFilterModel::sourceRowsChanged)
            << connect(source, &QAbstractItemModel::rowsAboutToBeRemoved, this,
                       [this](const QModelIndex&, int first, int) { sourceRowsAboutToChange(first); })
            << connect(source, &QAbstractItemModel::rowsRemoved, this, &RowFilterModel::sourceRowsChanged)
            << connect(source, &QAbstractItemModel::rowsAboutToBeMoved, this, &RowFilterModel::beginRestart)
            << connect(source, &QAbstractItemModel::rowsMoved, this, &RowFilterModel::endRestart)
            << connect(source, &QAbstractItemModel::modelAboutToBeReset, this, &RowFilterModel::beginRestart)
            << connect(source, &QAbstractItemModel::modelReset, this, &RowFilterModel::endRestart)
            << connect(source, &QAbstractItemModel::layoutAboutToBeChanged, this,
                       &RowFilterModel::beginRestart)
            << connect(source, &QAbstractItemModel::layoutChanged, this, &RowFilterModel::endRestart)
            << connect(source, &QAbstractItemModel::dataChanged, this, &RowFilterModel::restart);
    }
    endRestart();
}

void RowFilterModel::setFilterText(const QString& text)
{
    if (text == m_text)
        return;
    m_text = text;
    restart();
}

void RowFilterModel::setFields(Fields fields)
{
    m_fields = fields ? std::move(fields) : Fields(roleFields);
    restart();
}

bool RowFilterModel::isFiltering() const
{
    return m_scanned < totalCount();
}

int RowFilterModel::totalCount() const
{
    return sourceModel() ? sourceModel()->rowCount() : 0;
}

void RowFilterModel::beginRestart()
{
    if (m_restarting)
        return;
    m_restarting = true;
    beginResetModel();
}

void RowFilterModel::endRestart()
{
    if (!m_restarting)
        return;
    m_rows.clear();
    m_rows.shrink_to_fit();
    m_scanned = 0;
    endResetModel();
    m_restarting = false;
    schedule();
}

void RowFilterModel::restart()
{
    beginRestart();
    endRestart();
}

void RowFilterModel::sourceRowsAboutToChange(int first)
{
    // Rows shown so far keep their numbers when the change lies past every examined row.
    if (first < m_scanned)
        beginRestart();
}

void RowFilterModel::sourceRowsChanged()
{
    if (m_restarting) {
        endRestart();
        return;
    }
    m_scanned = std::min(m_scanned, totalCount());
    schedule();
}

void RowFilterModel::schedule()
{
    emit countsChanged(rowCount(), totalCount());
    if (isFiltering()) {
        if (!m_scanner.isActive())
            m_scanner.start();
    } else {
        m_scanner.stop();
        emit filtered();
    }
}

bool RowFilterModel::accepts(int sourceRow) const
{
    if (m_text.isEmpty())
        return true;
    const QModelIndex index = sourceModel()->index(sourceRow, 0);
    for (const QString& field : m_fields(index)) {
        if (field.contains(m_text, Qt::CaseInsensitive))
            return true;
    }
    return false;
}

void RowFilterModel::scan()
{
    const int total = totalCount();
    QElapsedTimer spent;
    spent.start();
    std::vector<int> found;
    const int last = std::min(total, m_scanned + kMaxRowsPerPass);
    while (m_scanned < last) {
        if (accepts(m_scanned))
            found.push_back(m_scanned);
        ++m_scanned;
        if ((m_scanned & 0xff) == 0 && spent.elapsed() >= kScanBudgetMs)
            break;
    }
    if (!found.empty()) {
        const int first = int(m_rows.size());
        beginInsertRows({}, first, first + int(found.size()) - 1);
        m_rows.insert(m_rows.end(), found.cbegin(), found.cend());
        endInsertRows();
    }
    schedule();
}

QModelIndex RowFilterModel::mapToSource(const QModelIndex& proxyIndex) const
{
    if (!proxyIndex.isValid() || !sourceModel() || proxyIndex.row() >= int(m_rows.size()))
        return {};
    return sourceModel()->index(m_rows[size_t(proxyIndex.row())], proxyIndex.column());
}

QModelIndex RowFilterModel::mapFromSource(const QModelIndex& sourceIndex) const
{
    if (!sourceIndex.isValid() || sourceIndex.model() != sourceModel())
        return {};
    const auto found = std::lower_bound(m_rows.cbegin(), m_rows.cend(), sourceIndex.row());
    if (found == m_rows.cend() || *found != sourceIndex.row())
        return {};
    return createIndex(int(found - m_rows.cbegin()), sourceIndex.column());
}

QModelIndex RowFilterModel::index(int row, int column, const QModelIndex& parent) const
{
    if (parent.isValid() || row < 0 || row >= int(m_rows.size()) || column < 0 || column >= columnCount())
        return {};
    return createIndex(row, column);
}

QModelIndex RowFilterModel::parent(const QModelIndex&) const
{
    return {};
}

int RowFilterModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int RowFilterModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() || !sourceModel() ? 0 : sourceModel()->columnCount();
}
