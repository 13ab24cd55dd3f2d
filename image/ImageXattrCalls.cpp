#include "image/ImageXattrCalls.h"

#include <tsk/libtsk.h>

#include <cerrno>
#include <cstring>

namespace {

bool isExtendedAttribute(const TSK_FS_ATTR* attribute)
{
    return attribute && attribute->name &&
           (attribute->type == TSK_FS_ATTR_TYPE_APFS_EXT_ATTR || attribute->type == TSK_FS_ATTR_TYPE_HFS_EXT_ATTR);
}

ssize_t failWith(int error)
{
    errno = error;
    return -1;
}

} // namespace

ImageXattrCalls::ImageXattrCalls(TSK_FS_FILE* file) : m_file(file)
{
    const int count = tsk_fs_file_attr_getsize(m_file);
    for (int i = 0; i < count; ++i) {
        const TSK_FS_ATTR* found = tsk_fs_file_attr_get_idx(m_file, i);
        if (isExtendedAttribute(found) && m_count++ < kKept)
            m_kept[size_t(m_count - 1)] = found;
    }
}

// The extended attribute `index` (of m_count).
const TSK_FS_ATTR* ImageXattrCalls::attribute(int index) const
{
    if (index < kKept)
        return m_kept[size_t(index)];
    const int count = tsk_fs_file_attr_getsize(m_file);
    for (int i = 0, extended = 0; i < count; ++i) {
        const TSK_FS_ATTR* found = tsk_fs_file_attr_get_idx(m_file, i);
        if (isExtendedAttribute(found) && extended++ == index)
            return found;
    }
    return nullptr;
}

ssize_t ImageXattrCalls::list(char* buffer, size_t size)
{
    // Measured first and copied straight in: a call for every entry of the image.
    size_t length = 0;
    for (int i = 0; i < m_count; ++i)
        length += std::strlen(attribute(i)->name) + 1;
    if (!buffer)
        return ssize_t(length);
    if (size < length)
        return failWith(ERANGE);
    for (int i = 0; i < m_count; ++i) {
        const size_t bytes = std::strlen(attribute(i)->name) + 1;
        std::memcpy(buffer, attribute(i)->name, bytes);
        buffer += bytes;
    }
    return ssize_t(length);
}

ssize_t ImageXattrCalls::get(const char* name, void* buffer, size_t size)
{
    for (int i = 0; i < m_count; ++i) {
        const TSK_FS_ATTR* attribute = this->attribute(i);
        if (std::strcmp(attribute->name, name) != 0)
            continue;
        if (attribute->size < 0)
            return failWith(EIO);
        const size_t valueSize = size_t(attribute->size);
        if (valueSize > kMaxValueSize)
            return failWith(E2BIG);
        if (!buffer)
            return ssize_t(valueSize);
        if (size < valueSize)
            return failWith(ERANGE);
        if (valueSize == 0)
            return 0;
        tsk_error_reset();
        const ssize_t got = tsk_fs_attr_read(attribute, 0, static_cast<char*>(buffer), valueSize,
                                             TSK_FS_FILE_READ_FLAG_NONE);
        tsk_error_reset();
        return got == ssize_t(valueSize) ? got : failWith(EIO);
    }
    return failWith(ENODATA);
}
