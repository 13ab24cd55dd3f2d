#pragma once

#include <QAbstractItemView>
#include <QStringList>
#include <QTimer>

// The list every window shows: one column of rows of one height, several selectable at
// once, and Copy (Ctrl+C) of the selected records' export texts (ExportTextRole) in list
// order. It lays nothing out per row: a row's place follows from its number, so appending
// rows costs the same with ten rows as with millions, and rows stay visible and
// scrollable while a crawl streams them in. Rows are as wide as the widest measured so
// far; a long list is measured a few milliseconds at a time, so a new model never
// holds up the window.
class RecordListView : public QAbstractItemView
{
    Q_OBJECT

public:
    explicit RecordListView(QWidget* parent = nullptr);

    // The selected rows' export texts, in list order, whatever order they were selected in.
    QStringList selectedExportTexts() const;

    // The height of every row: the delegate's for the first row, or the font's.
    int rowHeight() const;
    // The width every row is laid out with (at least the viewport's).
    int rowWidth() const;

    void setModel(QAbstractItemModel* model) override;
    void setSelectionModel(QItemSelectionModel* selectionModel) override;
    QRect visualRect(const QModelIndex& index) const override;
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;
    QModelIndex indexAt(const QPoint& point) const override;
    int sizeHintForRow(int row) const override;

signals:
    // The list has another selection model: a new model (setModel makes one) or one set directly.
    void selectionModelChanged();

public slots:
    // Puts the selected export texts on the clipboard, joined by line feeds; with
    // nothing selected the clipboard is left alone.
    void copySelection();
    void reset() override;

protected:
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    int horizontalOffset() const override;
    int verticalOffset() const override;
    bool isIndexHidden(const QModelIndex& index) const override;
    void setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) override;
    QRegion visualRegionForSelection(const QItemSelection& selection) const override;
    void updateGeometries() override;
    void scrollContentsBy(int dx, int dy) override;
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void rowsInserted(const QModelIndex& parent, int start, int end) override;

private:
    int rowCount() const;
    int firstVisibleRow() const;
    int visibleRowCount() const;
    // The row under viewport coordinate y (may lie outside the model's rows).
    qint64 rowAtY(int y) const;
    // Measures rows from the first not yet measured, for a few milliseconds at most, and
    // goes on at the next turn of the event loop while rows are left.
    void measureRows();

    mutable int m_rowHeight = 0; // 0: not measured yet
    int m_widest = 0;
    int m_measured = 0; // rows [0, m_measured) are measured
    QTimer m_measuring;
};
