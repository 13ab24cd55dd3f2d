#include "tools/cli/CrawlFilters.h"

#include "core/PathEncoding.h"
#include "crawl/Crawled.h"
#include "origin/OriginDetails.h"
#include "tools/cli/CliOutput.h"

#include <QCommandLineParser>
#include <QTimeZone>

namespace {

// An ISO 8601 date (the whole UTC day) or date-time (UTC unless it names its offset): the
// first moment it stands for and the first after it.
std::optional<std::pair<QDateTime, QDateTime>> parseTime(const QString& text)
{
    const QDate date = QDate::fromString(text, Qt::ISODate);
    if (date.isValid() && text.size() == 10) {
        const QDateTime start = date.startOfDay(QTimeZone::utc());
        return std::pair{start, start.addDays(1)};
    }
    QDateTime time = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!time.isValid())
        return std::nullopt;
    if (time.timeSpec() == Qt::LocalTime)
        time.setTimeZone(QTimeZone::utc());
    return std::pair{time, time.addMSecs(1)};
}

} // namespace

CrawlFilters::CrawlFilters()
    : m_whereFroms(QStringLiteral("where-froms"),
                   QStringLiteral("Also list entries that carry only a download URL "
                                  "(com.apple.metadata:kMDItemWhereFroms).")),
      m_agentOption(QStringLiteral("agent"),
                    QStringLiteral("List only entries whose quarantine agent contains TEXT (any case)."),
                    QStringLiteral("TEXT")),
      m_sinceOption(QStringLiteral("since"),
                    QStringLiteral("List only entries quarantined at or after DATE (ISO 8601 date or "
                                   "date-time, UTC)."),
                    QStringLiteral("DATE")),
      m_untilOption(QStringLiteral("until"),
                    QStringLiteral("List only entries quarantined at or before DATE (a date: to its end)."),
                    QStringLiteral("DATE")),
      m_exclude(QStringLiteral("exclude"),
                QStringLiteral("Leave out entries whose name matches GLOB, and do not enter such "
                               "folders (repeatable)."),
                QStringLiteral("GLOB")),
      m_oneFileSystem(QStringLiteral("one-file-system"),
                      QStringLiteral("Do not enter folders on other file systems (they are still listed).")),
      m_maxDepth(QStringLiteral("max-depth"),
                 QStringLiteral("List entries at most N levels below FOLDER (1: its own entries)."),
                 QStringLiteral("N"))
{}

void CrawlFilters::addOptions(QCommandLineParser& parser) const
{
    parser.addOptions(
        {m_whereFroms, m_agentOption, m_sinceOption, m_untilOption, m_exclude, m_oneFileSystem, m_maxDepth});
}

QString CrawlFilters::synopsis() const
{
    return QStringLiteral("[--where-froms] [--agent TEXT] [--since DATE] [--until DATE] [--exclude GLOB]... "
                          "[--one-file-system] [--max-depth N]");
}

bool CrawlFilters::read(const QCommandLineParser& parser, TreeWalker::Options& options)
{
    options.whereFroms = parser.isSet(m_whereFroms);
    options.oneFileSystem = parser.isSet(m_oneFileSystem);
    for (const QString& glob : parser.values(m_exclude))
        options.excludes.append(CliOutput::rawPath(glob));
    if (parser.isSet(m_maxDepth)) {
        bool ok = false;
        options.maxDepth = parser.value(m_maxDepth).toInt(&ok);
        if (!ok || options.maxDepth < 1) {
            CliOutput::error(QStringLiteral("--max-depth needs a positive number"));
            return false;
        }
    }
    m_agent = parser.value(m_agentOption);
    for (const auto& [option, bound, end] :
         {std::tuple{&m_sinceOption, &m_since, false}, std::tuple{&m_untilOption, &m_until, true}}) {
        if (!parser.isSet(*option))
            continue;
        const auto time = parseTime(parser.value(*option));
        if (!time) {
            CliOutput::error(QStringLiteral("--%1 needs an ISO 8601 date or date-time, such as 2024-01-31 or "
                                            "2024-01-31T12:00:00Z")
                                 .arg(option->names().constFirst()));
            return false;
        }
        *bound = end ? time->second : time->first;
    }
    m_walk = options;
    return true;
}

bool CrawlFilters::walksFiltered() const
{
    return m_walk.whereFroms || m_walk.oneFileSystem || m_walk.maxDepth > 0 || !m_walk.excludes.isEmpty();
}

bool CrawlFilters::accepts(const Crawled& record, bool sidecars, const EntryReads* reads) const
{
    if (!choosesRecords())
        return true;
    const QByteArray path = withoutTrailingSlashes(OriginDetails::rawPathOf(record.path()));
    return accepts(reads ? OriginDetails::fromReads(*reads, path, nullptr)
                         : OriginDetails::inspect(path, nullptr, sidecars));
}

bool CrawlFilters::accepts(const OriginDetails& details) const
{
    if (!choosesRecords())
        return true;
    if (!details.quarantine)
        return false;
    if (!m_agent.isEmpty() && !details.quarantine->agent.contains(m_agent, Qt::CaseInsensitive))
        return false;
    if (m_since.isValid() || m_until.isValid()) {
        const QDateTime time = QDateTime::fromString(details.quarantine->time, Qt::ISODate);
        if (!time.isValid() || (m_since.isValid() && time < m_since) ||
            (m_until.isValid() && time >= m_until))
            return false;
    }
    return true;
}
