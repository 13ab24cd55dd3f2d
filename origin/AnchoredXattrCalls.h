#pragma once

#include "core/UniqueFd.h"

#include <QByteArray>

#include <sys/types.h>

// The attribute calls of ItemAttributes for a path longer than the kernel takes at once:
// its folder is opened component by component and the item named relative to it, through
// /proc/self/fd. Symbolic links are followed, as for a path.
class AnchoredXattrCalls
{
public:
    explicit AnchoredXattrCalls(const QByteArray& rawPath);
    AnchoredXattrCalls(AnchoredXattrCalls&& other) noexcept = default;
    AnchoredXattrCalls(const AnchoredXattrCalls&) = delete;
    AnchoredXattrCalls& operator=(const AnchoredXattrCalls&) = delete;
    AnchoredXattrCalls& operator=(AnchoredXattrCalls&&) = delete;

    ssize_t list(char* buffer, size_t size);
    ssize_t get(const char* name, void* buffer, size_t size);

private:
    UniqueFd m_folder;
    int m_error = 0;   // why the folder could not be opened
    QByteArray m_path; // /proc/self/fd/<folder>/<name>
};
