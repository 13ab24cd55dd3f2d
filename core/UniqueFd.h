#pragma once

#include <cerrno>
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

    int fd() const { return m_fd; }

    // Opens the entry `name` of the folder `folderFd` to read it as evidence: without
    // following a link, blocking or becoming a terminal, and keeping its access time where
    // the kernel allows (only the owner, or root, may ask for that).
    static int openEvidence(int folderFd, const char* name)
    {
        const int flags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
#ifdef O_NOATIME
        const int fd = ::openat(folderFd, name, flags | O_NOATIME);
        if (fd >= 0 || errno != EPERM)
            return fd;
#endif
        return ::openat(folderFd, name, flags);
    }

private:
    int m_fd;
};
