#pragma once

#include <sys/types.h>

#include <array>
#include <cstddef>

struct TSK_FS_ATTR;
struct TSK_FS_FILE;

// The attribute calls of ItemAttributes over one file of an image: the names are the
// extended attributes Sleuth Kit found on the file (APFS and HFS+ store the Mac's bare
// names), the values are read from the image. listxattr/getxattr semantics: ERANGE for a
// buffer too small, ENODATA for no such name, EIO for a value that cannot be read, E2BIG
// for one larger than the cap.
class ImageXattrCalls
{
public:
    explicit ImageXattrCalls(TSK_FS_FILE* file);

    // Whether the file carries any extended attribute at all.
    bool any() const { return m_count > 0; }

    ssize_t list(char* buffer, size_t size);
    ssize_t get(const char* name, void* buffer, size_t size);

    // A value larger than this is not read: evidence may be built to exhaust memory.
    static constexpr size_t kMaxValueSize = 1 << 20;

private:
    const TSK_FS_ATTR* attribute(int index) const;

    TSK_FS_FILE* m_file;
    // The file's extended attributes, found once: each call of an entry's examination would
    // search Sleuth Kit's list again. Beyond the first few, they are searched for.
    static constexpr int kKept = 8;
    std::array<const TSK_FS_ATTR*, kKept> m_kept{};
    int m_count = 0;
};
