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

    // A file is read through a library that opens it itself, without O_NOATIME (Sleuth Kit's
    // VHD, VHDX and AFF readers): its access time may move, and that is remembered too.
    static void openedByLibrary();

    // Whether an open had to go without O_NOATIME in this process.
    static bool accessTimesMayChange();
    // Why, in a few words ("not the owner: O_NOATIME refused").
    static QString accessTimeCause();
    // The sentence that says so.
    static QString accessTimeWarning();
};
