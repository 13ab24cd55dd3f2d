#include "tools/cli/OriginLines.h"

#include "core/PathEncoding.h"
#include "origin/OriginDatabases.h"
#include "origin/OriginDetails.h"
#include "origin/OriginJson.h"
#include "tools/cli/CliCommand.h"
#include "tools/cli/CliOutput.h"

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

namespace {

const QString kFormat = QStringLiteral("format");
const QString kMacRoot = QStringLiteral("mac-root");

void warn(const QString& message)
{
    CliOutput::note(message);
}

} // namespace

OriginLines::OriginLines(QString plainFormat) : m_plainFormat(std::move(plainFormat)) {}

void OriginLines::addOptions(QCommandLineParser& parser)
{
    parser.addOption(QCommandLineOption(
        kFormat,
        QStringLiteral("%1 (the default); jsonl: one JSON object a line with the decoded attributes, the "
                       "file's times and the linked rows of the Mac's databases; timeline: one JSON object "
                       "per event (quarantine, download, file times) as Timesketch imports them; bodyfile: "
                       "the file's times in Sleuth Kit's body format, for mactime.")
            .arg(m_plainFormat),
        QStringLiteral("FORMAT")));
    parser.addOption(
        QCommandLineOption(kMacRoot,
                           QStringLiteral("With jsonl, timeline or bodyfile: take the Mac's databases from "
                                          "DIR, a Mac volume root or a home folder "
                                          "(default: looked for upward from the folder or file)."),
                           QStringLiteral("DIR")));
}

QString OriginLines::synopsis() const
{
    return QStringLiteral("[--format %1|jsonl|timeline|bodyfile] [--mac-root DIR]").arg(m_plainFormat);
}

bool OriginLines::read(const QCommandLineParser& parser)
{
    const QString format = parser.value(kFormat);
    static const QHash<QString, Format> kOrigin{{QStringLiteral("jsonl"), Format::JsonLines},
                                                {QStringLiteral("timeline"), Format::Timeline},
                                                {QStringLiteral("bodyfile"), Format::Body}};
    if (parser.isSet(kFormat) && format != m_plainFormat && !kOrigin.contains(format)) {
        CliOutput::error(QStringLiteral("--format takes %1, jsonl, timeline or bodyfile, not '%2'")
                             .arg(m_plainFormat, format));
        return false;
    }
    m_format = kOrigin.value(format, Format::Plain);
    if (parser.isSet(kMacRoot)) {
        const QString root = parser.value(kMacRoot);
        if (!QFileInfo(root).isDir()) {
            CliOutput::error(QStringLiteral("--mac-root: '%1' is not a folder").arg(root));
            return false;
        }
        m_macRoot = QFile::encodeName(root);
        if (isOriginFormat())
            startLoading(sourcesFor({}));
    }
    return true;
}

bool OriginLines::servesImages() const
{
    if (m_macRoot.isEmpty())
        return true;
    CliOutput::error(QStringLiteral(
        "--mac-root is for folders: a disk image's files are linked to the image's own databases"));
    return false;
}

void OriginLines::setAnchor(const QByteArray& rawPath)
{
    m_anchor = rawPath;
    if (isOriginFormat() && m_macRoot.isEmpty()) {
        // Each folder crawled has its own Mac above it.
        m_resolved = false;
        startLoading(sourcesFor({}));
    }
}

MacSources OriginLines::sourcesFor(const QByteArray& rawPath) const
{
    if (!m_macRoot.isEmpty())
        return MacSources::at(m_macRoot);
    return MacSources::above(m_anchor.isEmpty() ? rawPath : m_anchor);
}

void OriginLines::startLoading(const MacSources& sources)
{
    std::lock_guard lock(m_databasesMutex);
    if (sources.isEmpty() || m_databases.contains(sources))
        return;
    m_loadingSources = sources;
    m_loading = std::async(std::launch::async, [sources] { return OriginDatabases::load(sources); });
}

const OriginDatabases* OriginLines::databasesFor(const QByteArray& rawPath)
{
    std::lock_guard lock(m_databasesMutex);
    // With a Mac root or an anchor every record has the same sources: look for them once.
    const bool fixed = !m_macRoot.isEmpty() || !m_anchor.isEmpty();
    if (fixed && m_resolved)
        return m_fixed;
    const MacSources sources = sourcesFor(rawPath);
    if (sources.isEmpty() && !m_macRoot.isEmpty())
        warn(QStringLiteral("no Mac databases under %1").arg(QFile::decodeName(m_macRoot)));
    const OriginDatabases* databases = nullptr;
    if (!sources.isEmpty()) {
        auto found = m_databases.find(sources);
        if (found == m_databases.end()) {
            const bool started = m_loading.valid() && sources == m_loadingSources;
            found = m_databases.insert(sources, started ? m_loading.get() : OriginDatabases::load(sources));
        }
        databases = found->get();
    }
    if (fixed) {
        m_resolved = true;
        m_fixed = databases;
    }
    return databases;
}

QByteArray OriginLines::line(const QString& name, const QString& encodedPath, const QString& provenanceID,
                             const QString& quarantineApp, const EntryReads* reads)
{
    EntryReads::Written line = written(name, encodedPath, provenanceID, quarantineApp, reads);
    sayWritten(line);
    return line.text;
}

EntryReads::Written OriginLines::written(const QString& name, const QString& encodedPath,
                                         const QString& provenanceID, const QString& quarantineApp,
                                         const EntryReads* reads,
                                         const std::function<bool(const OriginDetails&)>& keep)
{
    const QByteArray rawPath = OriginDetails::rawPathOf(encodedPath);
    EntryReads::Written line;
    line.databases = databasesFor(rawPath);
    const QByteArray path = withoutTrailingSlashes(rawPath);
    OriginDetails details = reads ? OriginDetails::fromReads(*reads, path, nullptr)
                                  : OriginDetails::inspect(path, nullptr, m_sidecars);
    if (keep && !keep(details))
        return line;
    line.kept = true;
    if (line.databases)
        details.link(*line.databases, path);
    line.notes = problemLines(path, details);
    line.partial = !details.problems.isEmpty();
    appendFormatted(line.text, name, encodedPath, path, provenanceID, quarantineApp, details);
    return line;
}

void OriginLines::sayWritten(const EntryReads::Written& written)
{
    sayNewNotes(written.databases);
    for (const QString& note : written.notes)
        warn(note);
    m_evidenceUnused = m_evidenceUnused || written.partial;
}

QByteArray OriginLines::imageLine(const QString& name, const QString& encodedPath,
                                  const QString& provenanceID, const QString& quarantineApp,
                                  const OriginDetails& details, const QString& image, const QString& volume)
{
    const QByteArray rawPath = OriginDetails::rawPathOf(encodedPath);
    sayProblems(rawPath, details);
    QByteArray line;
    appendFormatted(line, name, encodedPath, rawPath, provenanceID, quarantineApp, details);
    if (m_format != Format::JsonLines)
        return line;
    // Where the file is, after what a folder's line holds.
    const QJsonObject where{{QStringLiteral("image"), image}, {QStringLiteral("volume"), volume}};
    line.chop(2); // "}\n"
    return line + ',' + QJsonDocument(where).toJson(QJsonDocument::Compact).sliced(1) + '\n';
}

void OriginLines::sayProblems(const QByteArray& path, const OriginDetails& details)
{
    for (const QString& note : problemLines(path, details))
        warn(note);
    m_evidenceUnused = m_evidenceUnused || !details.problems.isEmpty();
}

QStringList OriginLines::problemLines(const QByteArray& path, const OriginDetails& details)
{
    QStringList lines;
    for (const QString& note : details.problems + details.notes)
        lines.append(QStringLiteral("%1: %2").arg(CliOutput::shown(path), note));
    return lines;
}

void OriginLines::appendFormatted(QByteArray& out, const QString& name, const QString& encodedPath,
                                  const QByteArray& rawPath, const QString& provenanceID,
                                  const QString& quarantineApp, const OriginDetails& details)
{
    switch (m_format) {
    case Format::Timeline:
        out += OriginJson::timeline(provenanceID, quarantineApp, rawPath, details);
        return;
    case Format::Body:
        out += OriginJson::bodyLine(rawPath, details);
        return;
    default:
        OriginJson::appendLine(out, name, encodedPath, rawPath, provenanceID, quarantineApp, details);
    }
}

void OriginLines::sayNewNotes(const OriginDatabases* databases)
{
    if (!databases)
        return;
    // Lookups may find more (damage, a limit reached): each note is said once, when it is new.
    const QStringList notes = databases->notes();
    qsizetype& said = m_notesSaid[databases];
    for (qsizetype i = said; i < notes.size(); ++i)
        warn(notes.at(i));
    said = notes.size();
    m_evidenceUnused = m_evidenceUnused || !notes.isEmpty();
}

int OriginLines::finish(int status) const
{
    CliOutput::noteAccessTimes();
    return m_evidenceUnused ? CliCommand::combined(status, CliCommand::kPartial) : status;
}
