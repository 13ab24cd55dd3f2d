#pragma once

#include "core/PosixResult.h"

#include <QByteArray>

// The absolute path that a path argument names, as shown in lists and outputs: no "."
// or ".." segments, no repeated or trailing slashes. Worked out without PATH_MAX limits,
// so a working directory of any depth gives its whole path.
class AbsolutePath
{
public:
    // `raw` is taken relative to the working directory unless it starts with "/". The
    // folder up to its last ".." (or the working directory) is resolved physically, as
    // the kernel resolves it; the segments after that are kept as given, symbolic links
    // included. Fails with the errno of a folder that cannot be opened or named.
    static PosixResult<QByteArray> of(const QByteArray& raw);

    // The physical absolute path of an open directory (any descriptor, O_PATH included).
    static PosixResult<QByteArray> ofDirectory(int directoryFd);
};
