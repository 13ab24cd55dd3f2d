#pragma once

#include <QString>
#include <QTextDocument>
#include <QUrl>

// The user guide as a printable document: Markdown laid out for A4 pages, with colour
// emoji drawn as pictures so that they survive in a PDF (its text fonts cannot carry them).
class HelpDocument
{
public:
    HelpDocument();

    // Replaces the content with the Markdown text. Pictures are found relative to `baseUrl`
    // (the guide's own file) and scaled down to the text width.
    void setMarkdown(const QString& markdown, const QUrl& baseUrl = QUrl());

    // Writes the document as an A4 PDF with page numbers, replacing `path` only when the
    // whole file was written. On failure `error` tells why.
    bool writePdf(const QString& path, QString* error);

    const QTextDocument& document() const { return m_document; }

private:
    void styleBlocks();
    void styleTables();
    void replaceEmoji();
    void fitPictures();

    QTextDocument m_document;
};
