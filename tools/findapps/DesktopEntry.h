#pragma once

#include <QByteArray>

#include <optional>

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

private:
    // Unset when the key is missing; a key given twice is malformed and the first counts.
    std::optional<QByteArray> m_type;
    std::optional<QByteArray> m_hidden;
    std::optional<QByteArray> m_tryExec;
    std::optional<QByteArray> m_exec;
};
