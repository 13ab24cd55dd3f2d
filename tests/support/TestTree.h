#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>

// A temporary folder of real files with real extended attributes, removed at the end.
// isValid() is false, and problem() says why, when the folder cannot hold "user."
// attributes: a suite must fail then, not pass without having tested anything.
class TestTree
{
public:
    TestTree();
    ~TestTree();

    bool isValid() const { return m_problem.isEmpty(); }
    QByteArray problem() const { return m_problem.toUtf8(); }

    QString root() const { return m_dir.path(); }
    QString path(const QString& relative) const;
    QByteArray rawPath(const QByteArray& relative) const;

    // Creates a file (and its parent folders) and returns its path.
    QString file(const QString& relative, const QByteArray& content = {});
    // Same, for a name given as raw bytes (which need not be UTF-8).
    QByteArray rawFile(const QByteArray& relative, const QByteArray& content = {});
    QString folder(const QString& relative);
    QString symlink(const QString& target, const QString& relative);
    // Makes `levels` nested folders named `level` below `relative`, one step at a time (the
    // whole may reach past PATH_MAX), and in the deepest a file `name` with the provenance
    // `value`. Returns the file's path relative to the root.
    QByteArray deepFile(const QByteArray& relative, int levels, const QByteArray& level,
                        const QByteArray& name, const QByteArray& value);

    // Sets `name` exactly as given (for example "user.com.apple.provenance").
    void setRawAttribute(const QByteArray& rawPathOfItem, const QByteArray& name, const QByteArray& value);
    // Sets user.com.apple.provenance or user.com.apple.quarantine on a path.
    void setProvenance(const QString& path, const QByteArray& value);
    void setQuarantine(const QString& path, const QByteArray& value);

    // The entries below `root` as a walk meets them (find's order, an oracle independent of the
    // walker): pre-order in directory order, links left out, folders ending in "/".
    static QList<QByteArray> walkOrder(const QString& root);

    // Lets other users read and search the whole tree (for unprivileged runs).
    void openToOthers();

    // Runs `work` in a child process as user "nobody" (uid 65534) when this process is
    // root, as this user otherwise, so that permission bits apply. Returns what work
    // returned, or an empty array with `ok` false when the child failed.
    static QByteArray asUnprivileged(const std::function<QByteArray()>& work, bool* ok = nullptr);

private:
    QTemporaryDir m_dir;
    QString m_problem;
};
