#pragma once

#include <QByteArray>

// The few keys of a desktop entry file's [Desktop Entry] group that tell which
// program an application entry starts.
class DesktopEntry
{
public:
    // Reads only the [Desktop Entry] group; other groups and localized keys are ignored.
    static DesktopEntry parse(const QByteArray& content);

    bool isApplication() const { return m_type == "Application"; }
    bool isHidden() const { return m_hidden == "true"; }

    // TryExec when present, else the first word of Exec with its quoting removed.
    // Empty when neither gives a word (or Exec's quoting is broken).
    QByteArray program() const;

    // The first argument of an Exec value (its string escapes already undone).
    static QByteArray firstExecWord(const QByteArray& exec);

private:
    QByteArray m_type;
    QByteArray m_hidden;
    QByteArray m_tryExec;
    QByteArray m_exec;
    bool m_hasTryExec = false;
};
