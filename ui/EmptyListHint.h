#pragma once

#include <QLabel>
#include <QPointer>

class QAbstractItemModel;
class QAbstractItemView;

// A line in the middle of an empty list that says what to do first. It shows while its
// model has no rows and goes with the first row; a window clears the text once it no
// longer applies. Clicks and drops pass through it to the list.
class EmptyListHint : public QLabel
{
    Q_OBJECT

public:
    // `verticalOffset` moves it down from the middle (below a symbol shown there).
    EmptyListHint(const QString& text, QAbstractItemView* list, QAbstractItemModel* model,
                  int verticalOffset = 0);

    // The list's own model, whatever the view shows through (a find bar's filter, say).
    void setModel(QAbstractItemModel* model);
    // An empty text hides the hint.
    void setHint(const QString& text);

    // True when the hint is up (its text set and the list empty).
    bool isShown() const { return !isHidden(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void refresh();
    void place();

    QPointer<QAbstractItemModel> m_model;
    QList<QMetaObject::Connection> m_connections;
    int m_verticalOffset;
};
