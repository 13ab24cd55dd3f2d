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
#include <QTextCursor>
#include <QTextFrame>
#include <QTextLayout>
#include <QTextTable>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <utility>
#include <vector>

namespace {

constexpr int kResolution = 1200; // dots per inch of the layout; lower ones upset text extraction
constexpr qreal kBodyPointSize = 10.5;
constexpr qreal kMarginMillimetres = 20;
// The text width in ems of the body font, and a generous average character width in ems.
constexpr qreal kTextWidthEms = (210 - 2 * kMarginMillimetres) / 25.4 * 72 / kBodyPointSize;
constexpr qreal kAverageCharWidth = 0.65;
constexpr int kEmojiPixels = 128; // the colour font's bitmaps are about this size

// Characters drawn as emoji even without a variation selector.
bool isEmojiPresentation(char32_t c)
{
    static constexpr std::pair<char32_t, char32_t> kBmp[] = {
        {0x231A, 0x231B},   {0x23E9, 0x23EC},   {0x23F0, 0x23F0},   {0x23F3, 0x23F3},   {0x25FD, 0x25FE},
        {0x2614, 0x2615},   {0x2648, 0x2653},   {0x267F, 0x267F},   {0x2693, 0x2693},   {0x26A1, 0x26A1},
        {0x26AA, 0x26AB},   {0x26BD, 0x26BE},   {0x26C4, 0x26C5},   {0x26CE, 0x26CE},   {0x26D4, 0x26D4},
        {0x26EA, 0x26EA},   {0x26F2, 0x26F3},   {0x26F5, 0x26F5},   {0x26FA, 0x26FA},   {0x26FD, 0x26FD},
        {0x2705, 0x2705},   {0x270A, 0x270B},   {0x2728, 0x2728},   {0x274C, 0x274C},   {0x274E, 0x274E},
        {0x2753, 0x2755},   {0x2757, 0x2757},   {0x2795, 0x2797},   {0x27B0, 0x27B0},   {0x27BF, 0x27BF},
        {0x2B1B, 0x2B1C},   {0x2B50, 0x2B50},   {0x2B55, 0x2B55},   {0x1F004, 0x1F004}, {0x1F0CF, 0x1F0CF},
        {0x1F18E, 0x1F18E}, {0x1F191, 0x1F19A}, {0x1F1E6, 0x1F1FF}, {0x1F201, 0x1F251}, {0x1F300, 0x1FAFF},
    };
    return std::any_of(std::begin(kBmp), std::end(kBmp),
                       [c](const auto& range) { return c >= range.first && c <= range.second; });
}

// Symbols that are text by default and become emoji when a variation selector follows.
bool isTextSymbol(char32_t c)
{
    return c == 0xA9 || c == 0xAE || c == 0x203C || c == 0x2049 || c == 0x2122 || c == 0x2139 ||
           (c >= 0x2194 && c <= 0x21AA) || (c >= 0x2300 && c <= 0x23FF) || (c >= 0x25AA && c <= 0x27BF) ||
           c == 0x2934 || c == 0x2935 || (c >= 0x2B05 && c <= 0x2B55) || c == 0x3030 || c == 0x303D ||
           c == 0x3297 || c == 0x3299;
}

char32_t codePointAt(const QString& text, qsizetype at, qsizetype* units)
{
    const QChar first = text.at(at);
    if (first.isHighSurrogate() && at + 1 < text.size() && text.at(at + 1).isLowSurrogate()) {
        *units = 2;
        return QChar::surrogateToUcs4(first, text.at(at + 1));
    }
    *units = 1;
    return first.unicode();
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

qsizetype HelpDocument::emojiLength(const QString& text, qsizetype at)
{
    if (at < 0 || at >= text.size())
        return 0;
    qsizetype units = 0;
    const char32_t first = codePointAt(text, at, &units);
    qsizetype end = at + units;
    const bool selector = end < text.size() && text.at(end).unicode() == 0xFE0F;
    if (!isEmojiPresentation(first) && !(selector && isTextSymbol(first)))
        return 0;
    if (first >= 0x1F1E6 && first <= 0x1F1FF) { // a flag is a pair of regional indicators
        if (end < text.size()) {
            const char32_t second = codePointAt(text, end, &units);
            if (second >= 0x1F1E6 && second <= 0x1F1FF)
                end += units;
        }
        return end - at;
    }
    while (end < text.size()) {
        const char32_t next = codePointAt(text, end, &units);
        if (next == 0xFE0F || (next >= 0x1F3FB && next <= 0x1F3FF)) {
            end += units;
        } else if (next == 0x200D && end + 1 < text.size()) {
            qsizetype joinedUnits = 0;
            const char32_t joined = codePointAt(text, end + 1, &joinedUnits);
            if (!isEmojiPresentation(joined) && !isTextSymbol(joined))
                break;
            end += 1 + joinedUnits;
        } else {
            break;
        }
    }
    return end - at;
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
            for (qsizetype i = 0; i < text.size();) {
                const qsizetype length = emojiLength(text, i);
                if (length == 0) {
                    ++i;
                    continue;
                }
                found.push_back({fragment.position() + int(i), int(length), text.mid(i, length),
                                 size > 0 ? size : kBodyPointSize});
                i += length;
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
