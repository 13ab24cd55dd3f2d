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

QStringList ApplicationDiscovery::findApplicationPaths() const
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setInputChannelMode(QProcess::ForwardedInputChannel);
    process.start(m_program, m_arguments, QIODevice::ReadOnly);
    if (!process.waitForStarted())
        return {};

    // Read to the end before waiting, so a large output cannot stall the tool in a full pipe.
    QByteArray output;
    const QDeadlineTimer deadline(m_timeLimit);
    while (process.state() != QProcess::NotRunning) {
        if (m_cancel && m_cancel->load()) {
            process.kill();
            process.waitForFinished(-1);
            return {};
        }
        if (deadline.hasExpired()) {
            process.kill();
            process.waitForFinished(-1);
            break;
        }
        process.waitForReadyRead(int(std::min<qint64>(deadline.remainingTime(), 100)));
        output += process.readAllStandardOutput();
    }
    output += process.readAllStandardOutput();
    return pathsFromOutput(output);
}

QStringList ApplicationDiscovery::pathsFromOutput(const QByteArray& output)
{
    std::vector<Entry> entries;
    for (const QByteArray& line : output.split('\n')) {
        if (line.isEmpty())
            continue;
        if (auto text = decodeUtf8Strictly(line))
            entries.push_back({*text, text->normalized(QString::NormalizationForm_C).toUcs4()});
    }
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
