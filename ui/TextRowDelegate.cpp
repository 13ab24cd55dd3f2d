#include "ui/TextRowDelegate.h"

#include "core/ControlPictures.h"

#include <QApplication>
#include <QFontDatabase>
#include <QPainter>
#include <QStyle>

namespace {

constexpr int kHorizontalMargin = 4;
constexpr int kVerticalMargin = 2;

} // namespace

TextRowDelegate::TextRowDelegate(QObject* parent) : QStyledItemDelegate(parent), m_font(QApplication::font())
{}

void TextRowDelegate::setRowFont(const QFont& font)
{
    m_font = font;
    m_characterWidth = 0;
}

QStringList TextRowDelegate::shownPieces(const QModelIndex& index) const
{
    QStringList shown = pieces(index);
    for (QString& piece : shown)
        piece = withControlPictures(piece);
    return shown;
}

int TextRowDelegate::estimatedWidth(const QModelIndex& index) const
{
    if (m_characterWidth == 0) {
        const QFontMetrics metrics(m_font);
        // The widest of the usual characters, so a path is never estimated short.
        const_cast<TextRowDelegate*>(this)->m_characterWidth =
            std::max({metrics.horizontalAdvance(QLatin1Char('M')),
                      metrics.horizontalAdvance(QLatin1Char('W')), metrics.averageCharWidth(), 1});
    }
    qsizetype characters = 0;
    int gaps = 0;
    for (const QString& piece : pieces(index)) {
        if (!piece.isEmpty()) {
            characters += piece.size();
            ++gaps;
        }
    }
    return int(characters) * m_characterWidth + std::max(gaps - 1, 0) * spacing() + 2 * kHorizontalMargin;
}

QFont TextRowDelegate::fixedFont(qreal pointSize)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    // Ask for fixed pitch too: some monospaced fonts do not declare it, and matching then drifts.
    font.setStyleHint(QFont::Monospace);
    font.setFixedPitch(true);
    font.setPointSizeF(pointSize);
    return font;
}

int TextRowDelegate::spacing()
{
    // The default spacing between items of a horizontal layout.
    const int spacing = QApplication::style()->pixelMetric(QStyle::PM_LayoutHorizontalSpacing);
    return spacing > 0 ? spacing : 6;
}

void TextRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                            const QModelIndex& index) const
{
    QStyleOptionViewItem background = option;
    initStyleOption(&background, index);
    background.text.clear();
    background.icon = QIcon();
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &background, painter, widget);

    painter->save();
    painter->setFont(m_font);
    const bool selected = option.state & QStyle::State_Selected;
    const QPalette::ColorGroup group =
        (option.state & QStyle::State_Active) ? QPalette::Active : QPalette::Inactive;
    painter->setPen(option.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));

    const QFontMetrics metrics(m_font);
    QRect area = option.rect.adjusted(kHorizontalMargin, 0, -kHorizontalMargin, 0);
    bool first = true;
    for (const QString& piece : shownPieces(index)) {
        if (piece.isEmpty())
            continue;
        if (!first)
            area.setLeft(area.left() + spacing());
        first = false;
        const int width = metrics.horizontalAdvance(piece);
        painter->drawText(QRect(area.left(), area.top(), width, area.height()),
                          Qt::AlignLeft | Qt::AlignVCenter, piece);
        area.setLeft(area.left() + width);
    }
    painter->restore();
}

QSize TextRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    Q_UNUSED(option);
    const QFontMetrics metrics(m_font);
    int width = 2 * kHorizontalMargin;
    bool first = true;
    for (const QString& piece : shownPieces(index)) {
        if (piece.isEmpty())
            continue;
        width += metrics.horizontalAdvance(piece) + (first ? 0 : spacing());
        first = false;
    }
    return {width, metrics.height() + 2 * kVerticalMargin};
}
