#include "tools/helpdoc/HelpDocument.h"

#include <QAbstractTextDocumentLayout>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextBlock>
#include <QTextBoundaryFinder>
#include <QTextCursor>
#include <QTextFrame>
#include <QTextLayout>
#include <QTextTable>

#include <unicode/uchar.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr int kResolution = 1200; // dots per inch of the layout; lower ones upset text extraction
constexpr qreal kBodyPointSize = 10.5;
constexpr qreal kMarginMillimetres = 20;
// The text width in ems of the body font, and a generous average character width in ems.
constexpr qreal kTextWidthEms = (210 - 2 * kMarginMillimetres) / 25.4 * 72 / kBodyPointSize;
constexpr qreal kAverageCharWidth = 0.65;
constexpr int kEmojiPixels = 128; // the colour font's bitmaps are about this size

// A grapheme drawn as emoji: a character shown so by default, or a pictograph that asks
// for it with the emoji variation selector.
bool isEmoji(QStringView grapheme)
{
    const char32_t first = grapheme.toUcs4().constFirst();
    const bool selector = grapheme.sliced(QChar::requiresSurrogates(first) ? 2 : 1).startsWith(QChar(0xFE0F));
    return u_hasBinaryProperty(UChar32(first), UCHAR_EMOJI_PRESENTATION) ||
           (selector && u_hasBinaryProperty(UChar32(first), UCHAR_EXTENDED_PICTOGRAPHIC));
}

QImage emojiImage(const QString& sequence)
{
    QFont font(QStringLiteral("Noto Color Emoji"));
    font.setPixelSize(kEmojiPixels * 3 / 4);
    QImage image(kEmojiPixels, kEmojiPixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setFont(font);
    painter.drawText(image.rect(), Qt::AlignCenter, sequence);
    painter.end();
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        if (std::any_of(line, line + image.width(), [](QRgb pixel) { return qAlpha(pixel) != 0; }))
            return image;
    }
    return {}; // no emoji font here: keep the characters as text
}

} // namespace

HelpDocument::HelpDocument()
{
    QFont body(QStringLiteral("DejaVu Sans"));
    body.setPointSizeF(kBodyPointSize);
    m_document.setDefaultFont(body);
}

void HelpDocument::setMarkdown(const QString& markdown, const QUrl& baseUrl)
{
    m_document.setBaseUrl(baseUrl);
    m_document.setMarkdown(markdown, QTextDocument::MarkdownDialectGitHub);
    styleBlocks();
    styleTables();
    replaceEmoji();
    fitPictures();
}

void HelpDocument::fitPictures()
{
    // Image sizes are in 1/96 inch; screenshots are wider than a page.
    const qreal textWidth = (210 - 2 * kMarginMillimetres) / 25.4 * 96;
    for (QTextBlock block = m_document.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            QTextImageFormat format = fragment.charFormat().toImageFormat();
            if (!format.isValid() || format.name().startsWith(QLatin1String("emoji:")))
                continue;
            // Loaded from a file the resource is still the file's bytes.
            const QVariant resource = m_document.resource(QTextDocument::ImageResource, QUrl(format.name()));
            const QImage image = resource.typeId() == QMetaType::QByteArray
                                     ? QImage::fromData(resource.toByteArray())
                                     : resource.value<QImage>();
            if (image.isNull() || image.width() <= textWidth)
                continue;
            format.setWidth(textWidth);
            format.setHeight(textWidth * image.height() / image.width());
            QTextCursor cursor(&m_document);
            cursor.setPosition(fragment.position());
            cursor.setPosition(fragment.position() + fragment.length(), QTextCursor::KeepAnchor);
            cursor.setCharFormat(format);
        }
    }
}

void HelpDocument::styleBlocks()
{
    // Lengths here are in 1/96 inch, whatever the device.
    const auto isCode = [](const QTextBlock& block) {
        return block.isValid() && block.blockFormat().nonBreakableLines();
    };
    for (QTextBlock block = m_document.begin(); block.isValid(); block = block.next()) {
        QTextBlockFormat format = block.blockFormat();
        QTextCursor cursor(block);
        if (format.headingLevel() == 2) {
            format.setTopMargin(20);
            format.setBottomMargin(6);
        } else if (format.headingLevel() >= 3) {
            format.setTopMargin(12);
            format.setBottomMargin(4);
        } else if (isCode(block)) {
            // Examples are set a little smaller so that CSV lines fit on the page.
            format.setBackground(QColor(0xf2, 0xf3, 0xf5));
            format.setLeftMargin(6);
            format.setRightMargin(6);
            format.setTopMargin(isCode(block.previous()) ? 0 : 6);
            format.setBottomMargin(isCode(block.next()) ? 0 : 10);
            cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
            QTextCharFormat smaller;
            smaller.setFontPointSize(kBodyPointSize * 0.9);
            cursor.mergeCharFormat(smaller);
            cursor.setPosition(block.position());
        }
        cursor.setBlockFormat(format);
    }
}

void HelpDocument::styleTables()
{
    QList<QTextTable*> tables;
    for (QTextBlock block = m_document.begin(); block.isValid(); block = block.next()) {
        QTextCursor cursor(block);
        if (QTextTable* table = cursor.currentTable(); table && !tables.contains(table))
            tables.append(table);
    }
    for (QTextTable* table : tables) {
        QTextTableFormat format = table->format();
        format.setBorder(1);
        format.setBorderStyle(QTextFrameFormat::BorderStyle_Solid);
        format.setBorderBrush(QColor(0xb4, 0xb9, 0xc0));
        format.setBorderCollapse(true);
        format.setCellPadding(4);
        format.setCellSpacing(0);
        format.setWidth(QTextLength(QTextLength::PercentageLength, 100));
        format.setTopMargin(4);
        format.setBottomMargin(8);
        // Columns share the width by how much text they hold (damped, so that short labels
        // still get room), but each is at least as wide as its longest word.
        const int columns = table->columns();
        QList<qreal> weights(columns, 0);
        QList<qreal> least(columns, 12);
        for (int column = 0; column < columns; ++column) {
            qsizetype longestWord = 0;
            for (int row = 0; row < table->rows(); ++row) {
                const QTextTableCell cell = table->cellAt(row, column);
                QTextCursor text(cell.firstCursorPosition());
                text.setPosition(cell.lastCursorPosition().position(), QTextCursor::KeepAnchor);
                const QString content = text.selectedText();
                weights[column] += content.size();
                for (const QString& word : content.split(QLatin1Char(' ')))
                    longestWord = std::max(longestWord, word.size());
            }
            weights[column] = std::sqrt(weights[column]);
            least[column] =
                std::max(least[column], 100 * (longestWord * kAverageCharWidth + 2) / kTextWidthEms);
        }
        // Columns below their least width get it; the others share what is left.
        QList<bool> fixed(columns, false);
        QList<qreal> shares(columns, 0);
        for (int round = 0; round < columns; ++round) {
            qreal free = 100;
            qreal weight = 0;
            for (int column = 0; column < columns; ++column) {
                if (fixed[column])
                    free -= least[column];
                else
                    weight += weights[column];
            }
            bool changed = false;
            for (int column = 0; column < columns; ++column) {
                if (fixed[column])
                    continue;
                shares[column] = weight > 0 ? free * weights[column] / weight : free / columns;
                if (shares[column] < least[column]) {
                    fixed[column] = changed = true;
                    shares[column] = least[column];
                }
            }
            if (!changed)
                break;
        }
        QList<QTextLength> widths;
        for (const qreal share : shares)
            widths.append(QTextLength(QTextLength::PercentageLength, share));
        format.setColumnWidthConstraints(widths);
        table->setFormat(format);
        // The header row stands out a little, as in a rendered README.
        for (int column = 0; column < table->columns(); ++column) {
            QTextTableCell cell = table->cellAt(0, column);
            QTextCharFormat cellFormat = cell.format();
            cellFormat.setBackground(QColor(0xee, 0xee, 0xee));
            cell.setFormat(cellFormat);
        }
    }
}

void HelpDocument::replaceEmoji()
{
    struct Found
    {
        int position;
        int length;
        QString sequence;
        qreal pointSize;
    };
    std::vector<Found> found;
    for (QTextBlock block = m_document.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const QString text = fragment.text();
            const qreal size = fragment.charFormat().font().pointSizeF();
            // Graphemes hold an emoji with its selector, skin tone and joined parts, and flags.
            QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, text);
            for (qsizetype start = 0, end = 0; (end = graphemes.toNextBoundary()) > 0; start = end) {
                if (isEmoji(QStringView(text).sliced(start, end - start)))
                    found.push_back({fragment.position() + int(start), int(end - start),
                                     text.mid(start, end - start), size > 0 ? size : kBodyPointSize});
            }
        }
    }
    // From the end, so that earlier positions stay valid.
    for (auto it = found.rbegin(); it != found.rend(); ++it) {
        const QImage image = emojiImage(it->sequence);
        if (image.isNull())
            continue;
        const QString name = QStringLiteral("emoji:%1").arg(it->sequence);
        m_document.addResource(QTextDocument::ImageResource, QUrl(name), image);
        QTextCursor cursor(&m_document);
        cursor.setPosition(it->position);
        cursor.setPosition(it->position + it->length, QTextCursor::KeepAnchor);
        QTextImageFormat format;
        format.merge(cursor.charFormat());
        format.setName(name);
        // Image sizes are in 1/96 inch; a little over one em, like the font's own glyphs.
        const qreal side = it->pointSize * 96.0 / 72.0 * 1.15;
        format.setWidth(side);
        format.setHeight(side);
        format.setVerticalAlignment(QTextCharFormat::AlignBottom);
        format.setToolTip(it->sequence);
        cursor.insertImage(format);
    }
}

bool HelpDocument::writePdf(const QString& path, QString* error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    {
        QPdfWriter writer(&file);
        writer.setResolution(kResolution);
        writer.setPageLayout(QPageLayout(
            QPageSize(QPageSize::A4), QPageLayout::Portrait,
            QMarginsF(kMarginMillimetres, kMarginMillimetres, kMarginMillimetres, kMarginMillimetres * 0.75),
            QPageLayout::Millimeter));
        writer.setTitle(QStringLiteral("Quellmark Help"));
        writer.setCreator(QStringLiteral("quellmark-helpdoc"));

        m_document.documentLayout()->setPaintDevice(&writer);
        const QRectF paintRect = writer.pageLayout().paintRectPixels(kResolution);
        const QFont footerFont(QStringLiteral("DejaVu Sans"), 8);
        const qreal footer = QFontMetricsF(footerFont, &writer).height() * 2.5;
        const QSizeF page(paintRect.width(), paintRect.height() - footer);
        m_document.setPageSize(page);
        // Examples are not wrapped (a command cut at any letter would read wrong): one too wide
        // for the page would be clipped, so the guide must break it itself.
        m_document.pageCount(); // lays the document out
        const qreal right = m_document.textWidth() - m_document.documentMargin();
        for (QTextBlock block = m_document.begin(); block.isValid(); block = block.next()) {
            const QTextLayout* layout = block.layout();
            for (int i = 0; block.blockFormat().nonBreakableLines() && i < layout->lineCount(); ++i) {
                const QTextLine line = layout->lineAt(i);
                if (layout->position().x() + line.x() + line.naturalTextWidth() > right) {
                    *error = QStringLiteral("this example line is wider than the page: %1").arg(block.text());
                    file.cancelWriting();
                    return false;
                }
            }
        }

        QPainter painter;
        if (!painter.begin(&writer)) {
            *error = QStringLiteral("the PDF writer could not start");
            file.cancelWriting();
            return false;
        }
        const int pages = m_document.pageCount();
        for (int index = 0; index < pages; ++index) {
            if (index > 0)
                writer.newPage();
            painter.save();
            const QRectF visible(QPointF(0, index * page.height()), page);
            painter.translate(0, -visible.top());
            QAbstractTextDocumentLayout::PaintContext context;
            context.clip = visible;
            context.palette.setColor(QPalette::Text, Qt::black);
            painter.setClipRect(visible);
            m_document.documentLayout()->draw(&painter, context);
            painter.restore();

            painter.setFont(footerFont);
            painter.setPen(QColor(0x66, 0x66, 0x66));
            const QRectF footerRect(0, paintRect.height() - footer / 2, paintRect.width(), footer / 2);
            painter.drawText(footerRect, Qt::AlignHCenter | Qt::AlignBottom,
                             QStringLiteral("%1 / %2").arg(index + 1).arg(pages));
        }
        painter.end();
    }
    if (!file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}
