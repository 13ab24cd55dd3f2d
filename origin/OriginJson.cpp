#include "origin/OriginJson.h"

#include "core/AttributeDecoder.h"
#include "core/AttributeReader.h"
#include "core/ControlPictures.h"
#include "core/PathEncoding.h"
#include "core/ProvenanceRegistry.h"
#include "origin/OriginDetails.h"
#include "origin/WhereFroms.h"

#include "origin/JsonMembers.h"

#include <algorithm>
#include <variant>

namespace {

using Members = JsonMembers;

// A name or path as text; bytes that are not UTF-8 make the text lossy, so they are also
// given whole, in base64.
void addBytes(Members& line, const char* key, const char* base64Key, const QByteArray& bytes)
{
    if (!line.addBytes(key, bytes))
        line.add(base64Key, QString::fromLatin1(bytes.toBase64()));
}

// The values as they are, beside the four fields as shown: for scripts and timelines.
void addPlainFields(Members& line, const QByteArray& rawPath, const OriginDetails& details)
{
    const QByteArray path = withoutTrailingSlashes(rawPath);
    addBytes(line, "fileName", "fileNameBase64", path.mid(path.lastIndexOf('/') + 1));
    addBytes(line, "filePath", "filePathBase64", path);
    if (!details.provenance.isEmpty()) {
        line.addAscii("provenance", details.provenance.toHex());
        const std::optional<QString> app = provenanceApps().lookup(decodeProvenanceID(details.provenance));
        if (app)
            line.add("provenanceApp", *app);
        else
            line.addNull("provenanceApp");
    }
    if (details.quarantine)
        line.add("quarantineAgent", details.quarantine->agent);
    const auto& sources = details.sources;
    if (std::any_of(sources.cbegin(), sources.cend(),
                    [](const QByteArray& source) { return !source.isEmpty(); })) {
        line.addObject("source", [&sources](Members& object) {
            for (size_t i = 0; i < sources.size(); ++i) {
                if (!sources[i].isEmpty())
                    object.addBytes(OriginDetails::kSourced[i], sources[i]);
            }
        });
    }
    if (const auto& status = details.status) {
        line.add("size", qint64(status->size));
        line.add("inode", qint64(status->inode));
        const auto addTime = [&line](const char* key, const FileStatus::Time& time) {
            char text[32];
            if (const qsizetype length = FileStatus::write(time, text))
                line.addAscii(key, QByteArrayView(text, length));
        };
        addTime("modified", status->modified);
        addTime("changed", status->changed);
        addTime("accessed", status->accessed);
        if (status->born)
            addTime("born", *status->born);
    }
}

// The rows of the Mac's databases that the file's values lead to.
void addLinkedRows(Members& line, const OriginDetails& details)
{
    const auto addRow = [&line](const char* key, const auto& rows, const auto& record) {
        line.addObject(key, [&](Members& row) {
            rows.forEachShown(record, [&row](const auto& field, const auto& value) {
                if (field.key)
                    std::visit([&](const auto& shown) { row.addPresent(field.key, shown); }, value);
            });
        });
    };
    if (const auto& event = details.quarantineEvent)
        addRow("quarantineEvent", QuarantineEvent::rows(), *event);
    if (const auto& record = details.provenanceRecord)
        addRow("provenanceRecord", ProvenanceRecord::rows(), *record);
}

} // namespace

QByteArray OriginJson::linkedRows(const OriginDetails& details)
{
    Members rows;
    addLinkedRows(rows, details);
    return rows.object();
}

QByteArray OriginJson::errorLine(const QString& path, const QString& error)
{
    Members line;
    line.add("path", path);
    addBytes(line, "filePath", "filePathBase64", withoutTrailingSlashes(OriginDetails::rawPathOf(path)));
    line.add("error", error);
    return line.object();
}

void OriginJson::appendLine(QByteArray& out, const QString& name, const QString& path,
                            const QByteArray& rawPath, const QString& provenanceID,
                            const QString& quarantineApp, const OriginDetails& details)
{
    Members line(out);
    line.add("name", name);
    line.add("path", path);
    line.add("provenanceID", provenanceID);
    line.add("quarantineApp", quarantineApp);
    addPlainFields(line, rawPath, details);
    if (const auto& value = details.quarantine) {
        line.addObject("quarantine", [&value](Members& quarantine) {
            quarantine.addPresent("flags", value->flags);
            if (!value->flags.isEmpty())
                quarantine.add("flagNames", value->flagNames);
            quarantine.addPresent("time", value->time);
            quarantine.addPresent("agent", value->agent);
            quarantine.addPresent("eventID", value->eventID);
        });
    }
    if (details.whereFroms)
        line.add("whereFroms", *details.whereFroms);
    addLinkedRows(line, details);
    if (!details.attributes.isEmpty()) {
        line.addObjects("attributes", details.attributes,
                        [](Members& entry, const AttributeList::Entry& attribute) {
                            QString encoding;
                            entry.add("name", attribute.name);
                            entry.add("size", qint64(attribute.size));
                            entry.add("value", attribute.text(&encoding));
                            entry.add("encoding", encoding);
                            if (attribute.fromSidecar)
                                entry.add("source", QStringLiteral("AppleDouble"));
                        });
    }
    if (details.orphanSidecar)
        line.addBool("orphanSidecar", true);
    if (!details.problems.isEmpty())
        line.add("problems", details.problems);
    line.close();
    out += '\n';
}

QByteArray OriginJson::timeline(const QString& provenanceID, const QString& quarantineApp,
                                const QByteArray& rawPath, const OriginDetails& details)
{
    const QByteArray raw = withoutTrailingSlashes(rawPath);
    const QString shownPath = QString::fromUtf8(raw);
    QByteArray lines;
    // One event: what happened when, with the file's fields for filtering.
    const auto event = [&](const QString& datetime, const QString& description, const QString& message) {
        if (datetime.isEmpty())
            return;
        Members line(lines);
        line.add("message", message + QStringLiteral(": ") + shownPath);
        line.add("datetime", datetime);
        line.add("timestamp_desc", description);
        addBytes(line, "filePath", "filePathBase64", raw);
        line.add("provenanceID", provenanceID);
        line.add("quarantineApp", quarantineApp);
        if (!details.provenance.isEmpty())
            line.add("provenance", QString::fromLatin1(details.provenance.toHex()));
        if (const auto& value = details.quarantine) {
            line.addPresent("quarantineAgent", value->agent);
            line.addPresent("eventID", value->eventID);
        }
        if (const auto& row = details.quarantineEvent) {
            line.addPresent("dataURL", row->dataURL);
            line.addPresent("originURL", row->originURL);
        }
        line.close();
        lines += '\n';
    };
    if (const auto& value = details.quarantine)
        event(value->time, QStringLiteral("Quarantine Time"),
              QStringLiteral("Quarantined by %1")
                  .arg(value->agent.isEmpty() ? QStringLiteral("an unnamed agent") : value->agent));
    if (const auto& row = details.quarantineEvent)
        event(row->time, QStringLiteral("Quarantine Event Time"),
              QStringLiteral("Download recorded by %1%2")
                  .arg(row->agentName.isEmpty() ? row->agentBundleID : row->agentName,
                       row->dataURL.isEmpty() ? QString() : QStringLiteral(" from ") + row->dataURL));
    if (const auto& record = details.provenanceRecord)
        event(record->time, QStringLiteral("Provenance Record Time"),
              QStringLiteral("Provenance recorded for %1")
                  .arg(record->bundleID.isEmpty() ? record->url : record->bundleID));
    if (const auto& status = details.status) {
        event(FileStatus::text(status->modified), QStringLiteral("Content Modification Time"),
              QStringLiteral("Modified"));
        event(FileStatus::text(status->changed), QStringLiteral("Metadata Modification Time"),
              QStringLiteral("Changed"));
        event(FileStatus::text(status->accessed), QStringLiteral("Last Access Time"),
              QStringLiteral("Accessed"));
        if (status->born)
            event(FileStatus::text(*status->born), QStringLiteral("Creation Time"),
                  QStringLiteral("Created"));
    }
    return lines;
}

QByteArray OriginJson::bodyLine(const QByteArray& rawPath, const OriginDetails& details)
{
    if (!details.status)
        return {};
    const QByteArray raw = withoutTrailingSlashes(rawPath);
    // Fields are split at "|" and lines at line feeds: those stay out of the name.
    QString name = withControlPictures(QString::fromUtf8(raw));
    name.replace(QLatin1Char('|'), QStringLiteral("%7C"));
    const FileStatus& status = *details.status;
    // Joined, not filled in with arg(): a name holding "%7" would take a later field's place.
    const QStringList fields{QStringLiteral("0"),
                             name,
                             QString::number(status.inode),
                             FileStatus::modeText(status.mode),
                             QString::number(status.uid),
                             QString::number(status.gid),
                             QString::number(status.size),
                             QString::number(status.accessed.seconds),
                             QString::number(status.modified.seconds),
                             QString::number(status.changed.seconds),
                             QString::number(status.born ? status.born->seconds : 0)};
    return (fields.join(QLatin1Char('|')) + QLatin1Char('\n')).toUtf8();
}
