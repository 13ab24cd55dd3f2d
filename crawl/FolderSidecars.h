#pragma once

#include <string_view>
#include <unordered_set>
#include <vector>

class FolderListing;

// Where the entries of one listed folder may find AppleDouble sidecars: "._name" files among
// the folder's own entries, and folders of an unzipped Finder archive ("A/__MACOSX/...")
// that stand for this folder, nearest first. Empty for most folders, and then free.
class FolderSidecars
{
public:
    FolderSidecars() = default;
    ~FolderSidecars();
    FolderSidecars(const FolderSidecars&) = delete;
    FolderSidecars& operator=(const FolderSidecars&) = delete;

    // Notes the "._" names of `listing`, which must outlive this.
    void collect(const FolderListing& listing);
    // The same for `count` names of any folder: `nameAt(i)` is a std::string_view that
    // outlives this.
    template<typename NameAt> void collect(size_t count, NameAt nameAt)
    {
        for (size_t i = 0; i < count; ++i) {
            const std::string_view name = nameAt(i);
            if (isSidecarName(name))
                m_companions.insert(name.substr(2));
        }
        if (m_companions.empty())
            return;
        for (size_t i = 0; i < count; ++i) {
            const std::string_view name = nameAt(i);
            if (m_companions.count(name) > 0)
                m_present.insert(name);
        }
    }
    // Takes over open archive folders (closed at the end).
    void addArchiveFolder(int fd);

    // Whether "._name" is among the folder's entries.
    bool besideListed(std::string_view name) const;
    // Whether the "._name" entry `sidecarName` has no entry `name` beside it: the file it
    // describes is gone (a deleted download), and the sidecar is all that is left of it.
    bool orphaned(std::string_view sidecarName) const;
    bool hasArchiveFolders() const { return !m_archiveFolders.empty(); }
    const std::vector<int>& archiveFolders() const { return m_archiveFolders; }
    // Whether `name` has "._"'s form, so may be a sidecar itself.
    static bool isSidecarName(std::string_view name);

private:
    std::unordered_set<std::string_view> m_companions; // names with a "._" entry beside them
    std::unordered_set<std::string_view> m_present;    // those of them that are entries too
    std::vector<int> m_archiveFolders;
};
