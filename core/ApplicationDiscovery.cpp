#include "core/ApplicationDiscovery.h"

#include "core/Utf8Text.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>

#include <algorithm>

namespace {

struct Entry
{
    QString path;
    // Sorted by code points; QString's own operator< compares UTF-16 units, which
    // puts characters beyond U+FFFF before U+E000..U+FFFF.
    QList<uint> key;
};

} // namespace

ApplicationDiscovery::ApplicationDiscovery() : ApplicationDiscovery(defaultProgram(), defaultArguments()) {}

ApplicationDiscovery::ApplicationDiscovery(QString program, QStringList arguments)
    : m_program(std::move(program)), m_arguments(std::move(arguments))
{}

QString ApplicationDiscovery::defaultProgram()
{
#ifdef __APPLE__
    return QStringLiteral("/usr/bin/mdfind");
#else
    const QString dir = QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QString();
    return QDir(dir).filePath(QStringLiteral("quellmark-find-apps"));
#endif
}

QStringList ApplicationDiscovery::defaultArguments()
{
#ifdef __APPLE__
    return {QStringLiteral("kMDItemKind == 'Application'")};
#else
    return {};
#endif
}

ApplicationDiscovery::Search ApplicationDiscovery::search() const
{
    Search search;
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setInputChannelMode(QProcess::ForwardedInputChannel);
    process.start(m_program, m_arguments, QIODevice::ReadOnly);
    if (!process.waitForStarted()) {
        search.failure = QStringLiteral("cannot run %1: %2").arg(m_program, process.errorString());
        return search;
    }

    // Read to the end before waiting, so a large output cannot stall the tool in a full pipe.
    QByteArray output;
    const QDeadlineTimer deadline(m_timeLimit);
    bool timedOut = false;
    while (process.state() != QProcess::NotRunning) {
        if (m_cancel && m_cancel->load()) {
            process.kill();
            process.waitForFinished(-1);
            return {};
        }
        if (deadline.hasExpired()) {
            process.kill();
            process.waitForFinished(-1);
            timedOut = true;
            break;
        }
        process.waitForReadyRead(int(std::min<qint64>(deadline.remainingTime(), 100)));
        output += process.readAllStandardOutput();
    }
    output += process.readAllStandardOutput();
    search.paths = pathsFromOutput(output, &search.unreadableLines);
    if (timedOut)
        search.failure = QStringLiteral("%1 did not finish within %2 s and was stopped")
                             .arg(m_program, QString::number(double(m_timeLimit.count()) / 1000.0));
    else if (process.exitStatus() == QProcess::CrashExit)
        search.failure = QStringLiteral("%1 was ended by a signal").arg(m_program);
    else if (process.exitCode() != 0)
        search.failure = QStringLiteral("%1 exited with status %2").arg(m_program).arg(process.exitCode());
    return search;
}

QStringList ApplicationDiscovery::pathsFromOutput(const QByteArray& output, qsizetype* unreadableLines)
{
    std::vector<Entry> entries;
    qsizetype unreadable = 0;
    qsizetype start = 0;
    while (start < output.size()) {
        // A line feed after a carriage return belongs to that one character: no break.
        qsizetype end = output.indexOf('\n', start);
        while (end > 0 && output.at(end - 1) == '\r')
            end = output.indexOf('\n', end + 1);
        if (end < 0)
            end = output.size();
        const QByteArrayView line(output.constData() + start, end - start);
        start = end + 1;
        if (line.isEmpty())
            continue;
        if (auto text = decodeUtf8Strictly(line))
            entries.push_back({*text, text->normalized(QString::NormalizationForm_C).toUcs4()});
        else
            ++unreadable;
    }
    if (unreadableLines)
        *unreadableLines = unreadable;
    std::stable_sort(entries.begin(), entries.end(),
                     [](const Entry& a, const Entry& b) { return a.key < b.key; });
    QStringList paths;
    paths.reserve(qsizetype(entries.size()));
    for (auto& entry : entries)
        paths.append(std::move(entry.path));
    return paths;
}

QStringList findApplicationPaths()
{
    return ApplicationDiscovery().findApplicationPaths();
}
