#pragma once

#include <QByteArray>

#include <sys/types.h>

// The attribute system calls bound to a path; symbolic links are followed.
class PathXattrCalls
{
public:
    explicit PathXattrCalls(QByteArray path) : m_path(std::move(path)) {}

    ssize_t list(char* buffer, size_t size);
    ssize_t get(const char* name, void* buffer, size_t size);

private:
    QByteArray m_path;
};
