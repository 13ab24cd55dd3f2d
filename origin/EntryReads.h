#pragma once

#include "core/AppleDouble.h"
#include "origin/FileStatus.h"
#include "origin/XattrSnapshot.h"

#include <QByteArray>

#include <optional>

// What is read of one entry to tell where it came from: its attributes, its status and the
// AppleDouble file that lends it what it lacks. Read from a path, or handed over by the walk,
// which has read most of it already: either way each is read once.
struct EntryReads
{
    XattrSnapshot attributes;
    std::optional<FileStatus> status;
    std::optional<AppleDouble> sidecar;
    int sidecarError = 0;            // an AppleDouble file is there but could not be read
    bool sidecarFromArchive = false; // found in an unzipped archive's __MACOSX folder
    bool orphan = false;             // the entry is an AppleDouble file whose own file is gone

    // The entry at `rawPath` (any length, no trailing "/"; symbolic links followed for the
    // attributes). With `sidecars`, its AppleDouble file is looked for too.
    static EntryReads of(const QByteArray& rawPath, bool sidecars);
};
