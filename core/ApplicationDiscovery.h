#pragma once

#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>

// Finds the installed applications by running the discovery tool and reading one
// path per line of its standard output.
class ApplicationDiscovery
{
public:
    // What a search found, and what kept it from being whole.
    struct Search
    {
        QStringList paths;
        // Why the search may have missed applications: the tool could not run, failed, or
        // was stopped at the time limit. Empty when it ran to the end and exited with 0.
        QString failure;
        qsizetype unreadableLines = 0; // output lines left out because they are not UTF-8
    };

    // On macOS /usr/bin/mdfind with the Spotlight query; elsewhere our own
    // quellmark-find-apps beside the running executable.
    ApplicationDiscovery();
    ApplicationDiscovery(QString program, QStringList arguments);

    void setTimeLimit(std::chrono::milliseconds limit) { m_timeLimit = limit; }
    // When the flag is set while the tool runs, the tool is killed and nothing is returned.
    void setCancelFlag(const std::atomic_bool* cancel) { m_cancel = cancel; }

    // The tool's output lines: split at line feeds (a CR LF pair is one character, not
    // a line break), empty lines and lines that are not UTF-8 dropped, sorted by code
    // point after canonical normalization. A tool that cannot start gives no paths; one
    // that outlives the time limit is killed and what it printed so far is used; either,
    // like a tool that fails, is reported in `failure`. A cancelled search gives nothing.
    Search search() const;
    QStringList findApplicationPaths() const { return search().paths; }

    // Splits and sorts raw tool output as search() does; counts the lines left out.
    static QStringList pathsFromOutput(const QByteArray& output, qsizetype* unreadableLines = nullptr);

    static QString defaultProgram();
    static QStringList defaultArguments();

private:
    QString m_program;
    QStringList m_arguments;
    std::chrono::milliseconds m_timeLimit{std::chrono::seconds(120)};
    const std::atomic_bool* m_cancel = nullptr;
};

// Convenience: the default tool with the default limit.
QStringList findApplicationPaths();
