#include "ui/OriginDetailsPane.h"

#include "core/ControlPictures.h"

#include "core/AttributeDecoder.h"
#include "origin/OriginDatabases.h"
#include "origin/OriginDetails.h"

#include <QFile>
#include <QPlainTextEdit>

#include <variant>

namespace {

// "Label: value" lines, skipping values the source did not have.
class Section
{
public:
    explicit Section(const QString& title) : m_text(title + QLatin1Char('\n')) {}

    void add(const QString& label, const QString& value)
    {
        if (!value.isEmpty())
            m_text += QStringLiteral("  %1: %2\n").arg(label, value);
    }
    void add(const QString& label, const std::optional<qint64>& value)
    {
        if (value)
            add(label, QString::number(*value));
    }
    void addLine(const QString& line) { m_text += QStringLiteral("  ") + line + QLatin1Char('\n'); }

    QString text() const { return m_text; }

private:
    QString m_text;
};

QStringList databaseLines(const OriginDatabases* databases)
{
    if (!databases || databases->sources().isEmpty())
        return {OriginDetailsPane::tr("none found (choose one with Mac Volume…)")};
    QStringList paths;
    if (!databases->sources().execPolicy.isEmpty())
        paths << QFile::decodeName(databases->sources().execPolicy);
    for (const QByteArray& path : databases->sources().quarantineEvents)
        paths << QFile::decodeName(path);
    return paths;
}

} // namespace

OriginDetailsPane::OriginDetailsPane(QWidget* parent)
    : QDockWidget(tr("Details"), parent), m_text(new QPlainTextEdit)
{
    setObjectName(QStringLiteral("details"));
    m_text->setReadOnly(true);
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_text->setLineWrapMode(QPlainTextEdit::NoWrap);
    setWidget(m_text);
    hide();
}

void OriginDetailsPane::showRecord(const QByteArray& rawPath, const OriginDetails& details,
                                   const OriginDatabases* databases)
{
    m_text->setPlainText(describe(rawPath, details, databases));
}

void OriginDetailsPane::showMessage(const QString& message)
{
    m_text->setPlainText(message);
}

void OriginDetailsPane::clear()
{
    m_text->clear();
}

QString OriginDetailsPane::text() const
{
    return m_text->toPlainText();
}

QString OriginDetailsPane::describe(const QByteArray& rawPath, const OriginDetails& details,
                                    const OriginDatabases* databases)
{
    Section file(tr("File"));
    file.add(tr("Path"), QFile::decodeName(rawPath));
    if (!details.provenance.isEmpty())
        file.add(tr("Provenance"), decodeProvenanceID(details.provenance));
    QString text = file.text();

    if (const auto& value = details.quarantine) {
        Section quarantine(tr("Quarantine"));
        QString flags = value->flags;
        if (!value->flagNames.isEmpty())
            flags += QStringLiteral(" (%1)").arg(value->flagNames.join(QStringLiteral(", ")));
        quarantine.add(tr("Flags"), flags);
        quarantine.add(tr("Time"), value->time);
        quarantine.add(tr("Agent"), value->agent);
        quarantine.add(tr("Event ID"), value->eventID);
        text += quarantine.text();
    }
    if (const auto& urls = details.whereFroms) {
        Section whereFroms(tr("Where From"));
        for (const QString& url : *urls)
            whereFroms.addLine(url);
        text += whereFroms.text();
    }
    const auto addRow = [&text](const QString& title, const auto& rows, const auto& record) {
        Section row(title);
        rows.forEachShown(record, [&row](const auto& field, const auto& value) {
            std::visit([&](const auto& shown) { row.add(tr(field.label), shown); }, value);
        });
        text += row.text();
    };
    if (const auto& event = details.quarantineEvent)
        addRow(tr("Quarantine Event"), QuarantineEvent::rows(), *event);
    if (const auto& record = details.provenanceRecord)
        addRow(tr("Provenance Record"), ProvenanceRecord::rows(), *record);
    if (!details.attributes.isEmpty()) {
        Section attributes(tr("Attributes"));
        for (const AttributeList::Entry& attribute : details.attributes) {
            QString encoding;
            const QString value = attribute.text(&encoding);
            attributes.addLine(tr("%1 (%2 bytes%3%4): %5")
                                   .arg(attribute.name)
                                   .arg(attribute.size)
                                   .arg(encoding == QLatin1String("hex") ? tr(", hex") : QString(),
                                        attribute.fromSidecar ? tr(", from the AppleDouble file") : QString(),
                                        withControlPictures(value)));
        }
        text += attributes.text();
    }
    Section sources(tr("Mac Databases"));
    for (const QString& line : databaseLines(databases))
        sources.addLine(line);
    text += sources.text();
    QStringList notes = details.problems + details.notes;
    if (databases)
        notes = databases->notes() + notes;
    if (details.orphanSidecar)
        notes.append(tr("This AppleDouble file's own file is gone: its values are those of the deleted file."));
    else
        for (const QString& attribute : details.fromSidecar)
            notes.append(tr("%1 is taken from the file's AppleDouble file (._name).").arg(attribute));
    if (!notes.isEmpty()) {
        Section section(tr("Notes"));
        for (const QString& note : notes)
            section.addLine(note);
        text += section.text();
    }
    return text;
}
