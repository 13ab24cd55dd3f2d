#pragma once

#include <QByteArray>
#include <QString>

struct OriginDetails;

// One line of `--format jsonl`: a JSON object with the record's four fields as shown
// ("name", "path", "provenanceID", "quarantineApp"); the plain values beside them ("fileName",
// "filePath", with "fileNameBase64"/"filePathBase64" where they are not UTF-8, "provenance" in
// hex, "provenanceApp", "quarantineAgent", "size", "inode", "modified", "changed", "accessed",
// "born"); and, where present, "quarantine",
// "whereFroms", "quarantineEvent" and "provenanceRecord" (each row with the database it
// came from), "orphanSidecar" and "problems". Keys keep this order; other tools read these names.
class OriginJson
{
public:
    // The line and its line feed, appended to `out`: a crawl's lines go out in one buffer.
    // `path` is the record's path as shown, `rawPath` the file's own bytes.
    static void appendLine(QByteArray& out, const QString& name, const QString& path,
                           const QByteArray& rawPath, const QString& provenanceID,
                           const QString& quarantineApp, const OriginDetails& details);
    // The rows linked to the file alone, as line() writes them: a JSON object with
    // "quarantineEvent" and "provenanceRecord" where found ("{}" when neither is).
    static QByteArray linkedRows(const OriginDetails& details);
    // The line of a folder or entry that could not be read, where its record would be:
    // "path" (as records show paths), "filePath" (plain, as in records) and "error".
    static QByteArray errorLine(const QString& path, const QString& error);
    // `--format timeline`: one JSON object a line per event of the file, as Timesketch imports
    // them ("message", "datetime" in UTC ISO 8601, "timestamp_desc") with the file's fields:
    // its quarantine time, its quarantine event's and provenance record's times, its own times.
    static QByteArray timeline(const QString& provenanceID, const QString& quarantineApp,
                               const QByteArray& rawPath, const OriginDetails& details);
    // `--format bodyfile`: the file's line in Sleuth Kit's body format (for mactime):
    // MD5|name|inode|mode|UID|GID|size|atime|mtime|ctime|crtime, times in Unix seconds.
    static QByteArray bodyLine(const QByteArray& rawPath, const OriginDetails& details);
};
