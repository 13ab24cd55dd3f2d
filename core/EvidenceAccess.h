#pragma once

#include <QString>

#include <sys/types.h>

// Opens what we examine to read it, keeping its access time with O_NOATIME where the kernel
// allows. Only a file's owner (or root) may ask for that; for anyone else the open goes on
// without it, and that is remembered so the user can be told once that access times of
// the evidence may have changed.
class EvidenceAccess
{
public:
    // openat(2) with O_NOATIME added where it can be; `flags` must open for reading.
    static int openat(int folderFd, const char* name, int flags, mode_t mode = 0);

    // Whether an open had to go without O_NOATIME in this process.
    static bool accessTimesMayChange();
    // The sentence that says so.
    static QString accessTimeWarning();
};
