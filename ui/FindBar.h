#pragma once

#include <QPersistentModelIndex>
#include <QToolBar>

#include <functional>

class EmptyListHint;
class QAbstractItemModel;
class QAbstractItemView;
class QLabel;
class QLineEdit;
class QMainWindow;
class RowFilterModel;

// The find bar under a window's list, hidden until Find (Ctrl+F) is given: it shows only
// the rows that contain the typed text in any of their shown texts, as it is typed, and
// "N of M". Rows selected stay selected, as far as they are shown, when it opens, as the text
// changes and when Escape closes it.
// While it is closed the list shows its model directly, so it costs nothing.
class FindBar : public QToolBar
{
    Q_OBJECT

public:
    // Adds the (hidden) bar at the bottom of `window` and the window's Find command.
    FindBar(QAbstractItemView* list, QMainWindow* window);

    QAction* findAction() const { return m_find; }
    QLineEdit* field() const { return m_field; }
    // "N of M": rows shown of the list's rows.
    QString countText() const;
    // The filter between the list and its model while the bar is open, else null.
    RowFilterModel* filter() const { return m_filter; }
    bool isOpen() const { return m_filter != nullptr; }

    // Shows `model` in the list, through the filter while the bar is open. Windows that
    // change their list's model call this instead of the list's setModel.
    void setListModel(QAbstractItemModel* model);

public slots:
    // Opens the bar (or, when open, selects its text) and puts the focus in it.
    void open();
    // Closes the bar: the list shows every row again, the found rows that were selected
    // still selected.
    void dismiss();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The list's selected rows and current row, as rows of the model behind the filter.
    struct Rows
    {
        QList<QPersistentModelIndex> selected;
        QPersistentModelIndex current;
    };
    using Map = std::function<QModelIndex(const QModelIndex&)>;
    Rows chosenRows(const Map& toSource) const;
    void holdSelection();
    void restoreSelection();
    // Selects `rows` as far as the list shows them; `fromSource` finds each in its model.
    void select(const Rows& rows, const Map& fromSource);
    void updateCount();
    void focusList();

    QAbstractItemView* m_list;
    QAction* m_find;
    QLineEdit* m_field;
    QLabel* m_count;
    RowFilterModel* m_filter = nullptr;
    Rows m_held;              // selected when the filter has examined every row, unless others are by then
    EmptyListHint* m_noMatch; // in the list while nothing holds the find text
};
