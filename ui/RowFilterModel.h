#pragma once

#include <QAbstractProxyModel>
#include <QTimer>

#include <functional>
#include <vector>

// The rows of a flat list model that contain a text in any of their fields, case-insensitively,
// in the source's order. Made for lists that grow at their end while a crawl runs: rows are
// examined a few milliseconds' worth per event-loop pass, so neither a new text nor a large
// batch of new rows holds up the window, and the work for appended rows is proportional to
// them, not to the list.
class RowFilterModel : public QAbstractProxyModel
{
    Q_OBJECT

public:
    // The texts of one row that the filter looks in.
    using Fields = std::function<QStringList(const QModelIndex& sourceIndex)>;

    explicit RowFilterModel(QObject* parent = nullptr);

    void setSourceModel(QAbstractItemModel* source) override;

    QString filterText() const { return m_text; }
    void setFilterText(const QString& text);
    // By default: the name, provenance, quarantine and path roles.
    void setFields(Fields fields);

    // True while rows remain to be examined.
    bool isFiltering() const;
    // The source's row count.
    int totalCount() const;

    QModelIndex mapToSource(const QModelIndex& proxyIndex) const override;
    QModelIndex mapFromSource(const QModelIndex& sourceIndex) const override;
    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;

signals:
    // The number of rows shown or of the source's rows changed.
    void countsChanged(int shown, int total);
    // Every row of the source has been examined.
    void filtered();

private:
    void scan();
    bool accepts(int sourceRow) const;
    void beginRestart();
    void endRestart();
    void restart();
    void sourceRowsAboutToChange(int first);
    void sourceRowsChanged();
    void schedule();

    std::vector<int> m_rows; // the source rows shown, ascending
    int m_scanned = 0;       // source rows [0, m_scanned) have been examined
    QString m_text;
    Fields m_fields;
    QTimer m_scanner;
    bool m_restarting = false;
    QList<QMetaObject::Connection> m_connections;
};
