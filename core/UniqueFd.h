#pragma once

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

private:
    int m_fd;
};
