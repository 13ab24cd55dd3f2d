#include "drop/DropPlaceholder.h"

#include <QPainter>
#include <QPainterPath>

DropPlaceholder::DropPlaceholder(QWidget* parent) : QWidget(parent)
{
    setFixedSize(kSide, kSide);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAccessibleName(tr("Drop files here"));
}

void DropPlaceholder::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // Drawn on a 100 x 100 grid.
    painter.scale(width() / 100.0, height() / 100.0);

    const QColor outline = palette().color(QPalette::Active, QPalette::WindowText);
    const QColor paper = palette().color(QPalette::Active, QPalette::Base);
    const qreal stroke = 4.5;

    // The sheet, its top right corner folded over.
    const qreal left = 18, top = 8, right = 70, bottom = 90, fold = 18;
    QPainterPath sheet;
    sheet.moveTo(left + 6, top);
    sheet.lineTo(right - fold, top);
    sheet.lineTo(right, top + fold);
    sheet.lineTo(right, bottom - 6);
    sheet.quadTo(right, bottom, right - 6, bottom);
    sheet.lineTo(left + 6, bottom);
    sheet.quadTo(left, bottom, left, bottom - 6);
    sheet.lineTo(left, top + 6);
    sheet.quadTo(left, top, left + 6, top);
    painter.setPen(QPen(outline, stroke, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(paper);
    painter.drawPath(sheet);

    QPainterPath corner;
    corner.moveTo(right - fold, top);
    corner.lineTo(right - fold, top + fold - 4);
    corner.quadTo(right - fold, top + fold, right - fold + 4, top + fold);
    corner.lineTo(right, top + fold);
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(corner);

    // The badge: a green disc with a white plus, cut out of the sheet by a ring of paper.
    const QPointF centre(72, 72);
    const qreal radius = 21;
    painter.setPen(Qt::NoPen);
    painter.setBrush(paper);
    painter.drawEllipse(centre, radius + 5, radius + 5);
    painter.setBrush(QColor(0x34, 0xc7, 0x59));
    painter.drawEllipse(centre, radius, radius);
    painter.setPen(QPen(Qt::white, 6, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(centre.x() - 10, centre.y()), QPointF(centre.x() + 10, centre.y()));
    painter.drawLine(QPointF(centre.x(), centre.y() - 10), QPointF(centre.x(), centre.y() + 10));
}
