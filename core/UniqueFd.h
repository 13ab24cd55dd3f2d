#pragma once

#include "core/EvidenceAccess.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

// An open file descriptor, closed when this goes; -1 stands for none.
class UniqueFd
{
public:
    explicit UniqueFd(int fd = -1) : m_fd(fd) {}
    ~UniqueFd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd(UniqueFd&& other) noexcept : m_fd(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept
    {
        if (this != &other) {
            if (m_fd >= 0)
                ::close(m_fd);
            m_fd = other.release();
        }
        return *this;
    }

    // Gives up the descriptor without closing it.
    int release()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }

    int fd() const { return m_fd; }

    // A directory stream on the descriptor, which then owns it (closedir() closes it); null,
    // with errno set and the descriptor kept, when none can be made.
    DIR* openDirectory()
    {
        DIR* dir = m_fd < 0 ? nullptr : ::fdopendir(m_fd);
        if (dir)
            m_fd = -1;
        return dir;
    }

    // Opens the entry `name` of the folder `folderFd` to read it as evidence: without
    // following a link, blocking or becoming a terminal, and keeping its access time where
    // the kernel allows (only the owner, or root, may ask for that).
    static int openEvidence(int folderFd, const char* name)
    {
        return EvidenceAccess::openat(folderFd, name,
                                      O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    }

private:
    int m_fd;
};
