#include "tools/cli/OriginLines.h"

#include "origin/OriginDatabases.h"
#include "origin/OriginDetails.h"
#include "origin/OriginJson.h"
#include "tools/cli/CliCommand.h"
#include "tools/cli/CliOutput.h"

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTextStream>

namespace {

const QString kFormat = QStringLiteral("format");
const QString kMacRoot = QStringLiteral("mac-root");

void warn(const QString& message)
{
    QTextStream(stderr) << "quellmark-cli: " << message << '\n';
}

} // namespace

OriginLines::OriginLines(QString plainFormat) : m_plainFormat(std::move(plainFormat)) {}

void OriginLines::addOptions(QCommandLineParser& parser)
{
    parser.addOption(QCommandLineOption(
        kFormat,
        QStringLiteral("%1 (the default), or jsonl: one JSON object a line with the decoded attributes "
                       "and the linked rows of the Mac's databases.")
            .arg(m_plainFormat),
        QStringLiteral("FORMAT")));
    parser.addOption(QCommandLineOption(
        kMacRoot,
        QStringLiteral("With jsonl: take the Mac's databases from DIR, a Mac volume root or a home folder "
                       "(default: looked for upward from the folder or file)."),
        QStringLiteral("DIR")));
}

QString OriginLines::synopsis() const
{
    return QStringLiteral("[--format %1|jsonl] [--mac-root DIR]").arg(m_plainFormat);
}

bool OriginLines::read(const QCommandLineParser& parser)
{
    const QString format = parser.value(kFormat);
    if (parser.isSet(kFormat) && format != m_plainFormat && format != QLatin1String("jsonl")) {
        CliOutput::error(QStringLiteral("--format takes %1 or jsonl, not '%2'").arg(m_plainFormat, format));
        return false;
    }
    m_jsonLines = format == QLatin1String("jsonl");
    if (parser.isSet(kMacRoot)) {
        const QString root = parser.value(kMacRoot);
        if (!QFileInfo(root).isDir()) {
            CliOutput::error(QStringLiteral("--mac-root: '%1' is not a folder").arg(root));
            return false;
        }
        m_macRoot = QFile::encodeName(root);
    }
    return true;
}

const OriginDatabases* OriginLines::databasesFor(const QByteArray& rawPath)
{
    const MacSources sources = !m_macRoot.isEmpty()
                                   ? MacSources::at(m_macRoot)
                                   : MacSources::above(m_anchor.isEmpty() ? rawPath : m_anchor);
    if (sources.isEmpty() && !m_macRoot.isEmpty() && m_databases.isEmpty())
        warn(QStringLiteral("no Mac databases under %1").arg(QFile::decodeName(m_macRoot)));
    if (sources.isEmpty())
        return nullptr;
    auto found = m_databases.find(sources);
    if (found == m_databases.end()) {
        found = m_databases.insert(sources, OriginDatabases::load(sources));
        for (const QString& note : (*found)->notes())
            warn(note);
    }
    return found->get();
}

QByteArray OriginLines::line(const QString& name, const QString& encodedPath, const QString& provenanceID,
                             const QString& quarantineApp)
{
    const QByteArray path = OriginDetails::rawPathOf(encodedPath);
    const OriginDetails details = OriginDetails::inspect(path, databasesFor(path));
    for (const QString& note : details.notes)
        warn(QStringLiteral("%1: %2").arg(QFile::decodeName(path), note));
    return OriginJson::line(name, encodedPath, provenanceID, quarantineApp, details) + '\n';
}

int OriginLines::write(const QByteArray& bytes, const QString& file)
{
    if (!file.isEmpty()) {
        QSaveFile out(file);
        if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.commit()) {
            CliOutput::error(QStringLiteral("cannot write %1: %2").arg(file, out.errorString()));
            return CliCommand::kFailed;
        }
        return CliCommand::kOk;
    }
    QFile out;
    if (!out.open(stdout, QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.flush()) {
        CliOutput::error(QStringLiteral("cannot write to standard output: %1").arg(out.errorString()));
        return CliCommand::kFailed;
    }
    return CliCommand::kOk;
}
