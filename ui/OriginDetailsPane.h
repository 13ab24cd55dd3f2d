#pragma once

#include <QDockWidget>

class OriginDatabases;
class QPlainTextEdit;
struct OriginDetails;

// The details pane: everything known of where the selected file came from (decoded
// quarantine, where-froms, the linked rows of the Mac's databases, notes), as plain
// text that can be selected and copied. Hidden until asked for.
class OriginDetailsPane : public QDockWidget
{
    Q_OBJECT

public:
    explicit OriginDetailsPane(QWidget* parent = nullptr);

    // Shows the file at `rawPath`; `databases` are those its rows were looked for in (or none).
    void showRecord(const QByteArray& rawPath, const OriginDetails& details,
                    const OriginDatabases* databases);
    // A line in place of the details, e.g. while the databases are read.
    void showMessage(const QString& message);
    void clear();

    // What the pane shows, as copied.
    QString text() const;
    QPlainTextEdit* textView() const { return m_text; }

    // The text for one file, section by section.
    static QString describe(const QByteArray& rawPath, const OriginDetails& details,
                            const OriginDatabases* databases);

private:
    QPlainTextEdit* m_text;
};
