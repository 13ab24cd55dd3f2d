#pragma once

#include <cstdint>
#include <vector>

// One folder's entries as the kernel lists them, without "." and "..": names as raw bytes
// (stored back to back with their NULs) and the types the listing gives.
class FolderListing
{
public:
    struct Entry
    {
        std::uint32_t offset;
        std::uint32_t length;
        unsigned char type; // a DT_ value, or kUnreadable
    };

    // The type of an entry whose type could not be read.
    static constexpr unsigned char kUnreadable = 0xff;

    // Reads the whole folder from `fd` through `buffer` (a walking thread's, reused); false
    // (errno set) when reading failed part way or at once. What was read before stays listed.
    bool read(int fd, std::vector<char>& buffer);

    std::vector<Entry>& entries() { return m_entries; }
    const std::vector<Entry>& entries() const { return m_entries; }
    const char* name(const Entry& entry) const { return m_names.data() + entry.offset; }

    // Settles an entry the listing left DT_UNKNOWN (some file systems do) with fstatat,
    // without following a link. kUnreadable with errno set when that fails.
    static unsigned char typeOf(int directoryFd, const char* name);

private:
    void add(const char* name, unsigned char type);

    std::vector<char> m_names;
    std::vector<Entry> m_entries;
};
