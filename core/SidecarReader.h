#pragma once

#include "core/AppleDouble.h"

#include <QByteArray>

#include <optional>
#include <vector>

// Finds and reads the AppleDouble sidecar of a file: "._name" beside it, or
// "A/__MACOSX/<folder below A>/._name" where a Finder zip was unzipped into a folder A above
// it. Read only: a sidecar is opened without following a link, without blocking and without
// touching its access time where the kernel allows; only regular files are read, and no more
// than kMaxExtent bytes of one. Every failure (absent, unreadable, not a regular file, too
// large, damaged) means "no sidecar"; one that exists but cannot be read (no permission, an
// I/O error) also sets `*unreadable` to its errno, where asked, since its values are missing.
// Paths of any length are followed folder by folder.
class SidecarReader
{
public:
    static constexpr quint64 kMaxExtent = 1 << 20;

    // The AppleDouble file `name` in the folder open as `folderFd`, or in the working folder
    // with AT_FDCWD; `name` may be a path.
    static std::optional<AppleDouble> readAt(int folderFd, const char* name, int* unreadable = nullptr);

    // "._" followed by `name`.
    static QByteArray sidecarName(QByteArrayView name);

    // The folders that hold the sidecars of the entries of `folder` in unzipped Finder
    // archives, nearest first: "A/__MACOSX/<folder below A>" for `folder` itself and for each
    // folder above it, where it exists. Open descriptors that the caller closes.
    // Where a Finder archive keeps the sidecars of `folder`'s entries: "A/__MACOSX/<the rest>"
    // for each folder A above it (and `folder` itself when `self`), the nearest first.
    static QByteArrayList archiveFolderPaths(const QByteArray& folder, bool self);
    static std::vector<int> openArchiveFolders(const QByteArray& folder);

    // The folder of the sidecars of the entries of subfolder `name`, one level below an
    // archive folder that serves its parent: `name` in `archiveFolderFd`, or -1.
    static int openArchiveSubfolder(int archiveFolderFd, const char* name);

    // The sidecar of the entry `name` of the folder open as `folderFd`: "._name" beside it
    // (looked for only when `beside`), then in each of `archiveFolders` in order. The first
    // well-formed one is taken; a damaged one is passed over.
    // `fromArchive`, where given, says whether it came from an archive's __MACOSX folder.
    static std::optional<AppleDouble> findAt(int folderFd, const char* name,
                                             const std::vector<int>& archiveFolders, bool beside = true,
                                             int* unreadable = nullptr, bool* fromArchive = nullptr);

    // The sidecar of the file or folder `path` (a trailing "/" is ignored).
    static std::optional<AppleDouble> findFor(const QByteArray& path, int* unreadable = nullptr,
                                              bool* fromArchive = nullptr);

    // The folder `path` (any length) opened with `flags`, keeping its access time where allowed.
    static int openFolder(const QByteArray& path, int flags);
};
