#pragma once

#include <QFont>
#include <QStringList>
#include <QStyledItemDelegate>

// Draws a row as separate texts left to right with the style's default spacing,
// vertically centred, in one font. Subclasses say which texts a row has.
class TextRowDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    explicit TextRowDelegate(QObject* parent = nullptr);

    void setRowFont(const QFont& font);
    QFont rowFont() const { return m_font; }

    // The system's fixed-width font at the given point size.
    static QFont fixedFont(qreal pointSize);

    // The texts of one row, in order; an empty text leaves no element and no gap.
    virtual QStringList pieces(const QModelIndex& index) const = 0;
    // The texts as drawn: control characters as their pictures, so that a row stays one line.
    QStringList shownPieces(const QModelIndex& index) const;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    static int spacing();

    // A quick estimate of a row's width, from character counts rather than shaping,
    // cheap enough to run for every row of a list of millions.
    int estimatedWidth(const QModelIndex& index) const;

private:
    QFont m_font;
    int m_characterWidth = 0;
};
