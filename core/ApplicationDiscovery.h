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
    // On macOS /usr/bin/mdfind with the Spotlight query; elsewhere our own
    // quellmark-find-apps beside the running executable.
    ApplicationDiscovery();
    ApplicationDiscovery(QString program, QStringList arguments);

    void setTimeLimit(std::chrono::milliseconds limit) { m_timeLimit = limit; }
    // When the flag is set while the tool runs, the tool is killed and nothing is returned.
    void setCancelFlag(const std::atomic_bool* cancel) { m_cancel = cancel; }

    // The tool's output lines: split at line feeds only, empty lines and lines that
    // are not UTF-8 dropped, sorted by code point after canonical normalization. A
    // tool that cannot start gives an empty list; one that outlives the time limit is
    // killed and what it printed so far is used. The exit status is not examined.
    QStringList findApplicationPaths() const;

    // Splits and sorts raw tool output as findApplicationPaths does.
    static QStringList pathsFromOutput(const QByteArray& output);

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
