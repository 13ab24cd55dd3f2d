#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

// Where a command's output goes, written as it is produced. Standard output ("" or
// "-"), a file that is our standard output or error already, and an existing device,
// FIFO or socket are written to directly; a regular file or a new path is written
// beside its place and put there atomically by finish(), so that a failed run leaves
// an earlier file as it was. Paths are file-system bytes.
class OutputTarget
{
public:
    OutputTarget() = default;
    OutputTarget(const OutputTarget&) = delete;
    OutputTarget& operator=(const OutputTarget&) = delete;
    ~OutputTarget(); // an unfinished replacement is removed

    // Nothing on success, else why the destination cannot be written.
    std::optional<QString> open(const QByteArray& rawPath);
    // Writes all of `bytes`; false once anything failed (finish() then says why).
    bool write(QByteArrayView bytes);
    // Completes the output (for a file: sync and rename into place). Nothing when every
    // byte reached its destination, else the reason; a failed file is not put in place.
    std::optional<QString> finish();
    // Drops an unfinished replacement, leaving the destination as it was.
    void abandon();

    bool isFile() const { return !m_temporary.isEmpty(); }

private:
    std::optional<QString> openReplacement(const QByteArray& path, const struct stat* existing);
    std::optional<QString> openDirectly(const QByteArray& path);

    int m_fd = -1;
    bool m_ownsFd = false;
    int m_directoryFd = -1; // of a replaced file
    QByteArray m_temporary; // its name while it is written
    QByteArray m_finalName;
    int m_error = 0;
};
