#pragma once

#include <QString>

// A failed system call: the POSIX error domain, the errno value and its strerror text.
struct PosixError
{
    QString domain;
    qint64 code = 0;
    QString description;

    bool operator==(const PosixError&) const = default;
};

// Builds the error for an errno value; never fails.
PosixError posixError(int code);

// The domain every PosixError carries.
QString posixErrorDomain();
