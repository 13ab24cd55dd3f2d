#include "tools/findapps/DesktopEntry.h"

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

QByteArray trimmedBlanks(QByteArray text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text.at(begin)))
        ++begin;
    while (end > begin && isBlank(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}

// Undoes the escapes every string value may carry: \s \n \t \r \\.
QByteArray unescapedValue(const QByteArray& raw)
{
    QByteArray out;
    out.reserve(raw.size());
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const char c = raw.at(i);
        if (c != '\\' || i + 1 == raw.size()) {
            out.append(c);
            continue;
        }
        const char next = raw.at(++i);
        switch (next) {
        case 's':
            out.append(' ');
            break;
        case 'n':
            out.append('\n');
            break;
        case 't':
            out.append('\t');
            break;
        case 'r':
            out.append('\r');
            break;
        case '\\':
            out.append('\\');
            break;
        default:
            // Not a value escape: leave it for the Exec quoting rules.
            out.append('\\');
            out.append(next);
        }
    }
    return out;
}

// The first argument of an Exec value (its string escapes already undone).
QByteArray firstExecWord(const QByteArray& exec)
{
    QByteArray word;
    bool quoted = false;
    qsizetype i = 0;
    while (i < exec.size() && isBlank(exec.at(i)))
        ++i;
    for (; i < exec.size(); ++i) {
        const char c = exec.at(i);
        if (quoted) {
            if (c == '"') {
                quoted = false;
            } else if (c == '\\' && i + 1 < exec.size()) {
                word.append(exec.at(++i));
            } else {
                word.append(c);
            }
            continue;
        }
        if (isBlank(c) || c == '\n')
            break;
        if (c == '"') {
            quoted = true;
        } else if (c == '%' && i + 1 < exec.size() && exec.at(i + 1) == '%') {
            word.append('%');
            ++i;
        } else {
            word.append(c);
        }
    }
    // An unterminated quote makes the whole line invalid.
    return quoted ? QByteArray() : word;
}

} // namespace

DesktopEntry DesktopEntry::parse(const QByteArray& content)
{
    DesktopEntry entry;
    bool inMainGroup = false;
    qsizetype start = 0;
    while (start < content.size()) {
        qsizetype end = content.indexOf('\n', start);
        if (end < 0)
            end = content.size();
        QByteArray line = content.mid(start, end - start);
        start = end + 1;
        if (line.endsWith('\r'))
            line.chop(1);
        const QByteArray trimmed = trimmedBlanks(line);
        if (trimmed.isEmpty() || trimmed.startsWith('#'))
            continue;
        if (trimmed.startsWith('[')) {
            inMainGroup = trimmed == "[Desktop Entry]";
            continue;
        }
        if (!inMainGroup)
            continue;
        const qsizetype equals = line.indexOf('=');
        if (equals < 0)
            continue;
        const QByteArray key = trimmedBlanks(line.left(equals));
        const QByteArray value = unescapedValue(trimmedBlanks(line.mid(equals + 1)));
        std::optional<QByteArray>* slot = key == "Type"      ? &entry.m_type
                                          : key == "Hidden"  ? &entry.m_hidden
                                          : key == "TryExec" ? &entry.m_tryExec
                                          : key == "Exec"    ? &entry.m_exec
                                                             : nullptr;
        if (slot && !*slot)
            *slot = value;
    }
    return entry;
}

QByteArray DesktopEntry::program() const
{
    return m_tryExec ? *m_tryExec : firstExecWord(m_exec.value_or(QByteArray()));
}
