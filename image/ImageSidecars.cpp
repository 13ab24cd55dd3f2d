#include "image/ImageSidecars.h"

#include "core/SidecarReader.h"

#include <tsk/libtsk.h>

#include <algorithm>
#include <cerrno>
#include <memory>

namespace {

std::string_view entryName(const TSK_FS_NAME* name)
{
    return name && name->name ? std::string_view(name->name) : std::string_view();
}

} // namespace

ImageSidecars::ImageSidecars(TSK_FS_INFO* fs, const TSK_FS_DIR* dir, const QByteArray& encodedFolder)
    : m_fs(fs), m_inArchive(encodedFolder.contains("/__MACOSX/"))
{
    const size_t count = tsk_fs_dir_getsize(dir);
    m_names.collect(count, [&](size_t i) { return entryName(tsk_fs_dir_get_name(dir, i)); });
    for (size_t i = 0; i < count; ++i) {
        const TSK_FS_NAME* name = tsk_fs_dir_get_name(dir, i);
        const std::string_view text = entryName(name);
        if (FolderSidecars::isSidecarName(text) && name->type == TSK_FS_NAME_TYPE_REG)
            m_addresses.emplace(text.substr(2), quint64(name->meta_addr));
    }
}

ImageSidecars::Entry ImageSidecars::entry(const TSK_FS_NAME* name, TSK_FS_FILE* file) const
{
    Entry entry;
    const std::string_view text = entryName(name);
    if (name->type == TSK_FS_NAME_TYPE_REG && FolderSidecars::isSidecarName(text)) {
        entry.orphan = read(file, nullptr);
        if (entry.orphan && (m_inArchive || !m_names.orphaned(text))) {
            entry.orphan.reset();
            entry.hidden = true;
            return entry;
        }
    }
    entry.lendable = entry.orphan || (!m_addresses.empty() && m_addresses.count(text) > 0);
    return entry;
}

std::optional<AppleDouble> ImageSidecars::sidecarOf(std::string_view name, int* unreadable) const
{
    const auto found = m_addresses.find(name);
    if (found == m_addresses.end())
        return std::nullopt;
    tsk_error_reset();
    const std::unique_ptr<TSK_FS_FILE, void (*)(TSK_FS_FILE*)> file(
        tsk_fs_file_open_meta(m_fs, nullptr, TSK_INUM_T(found->second)), tsk_fs_file_close);
    if (!file) {
        tsk_error_reset();
        if (unreadable)
            *unreadable = EIO;
        return std::nullopt;
    }
    return read(file.get(), unreadable);
}

std::optional<AppleDouble> ImageSidecars::read(TSK_FS_FILE* file, int* unreadable)
{
    if (!file || !file->meta || file->meta->size <= 0)
        return std::nullopt;
    const auto fileSize = quint64(file->meta->size);
    QByteArray bytes(qsizetype(std::min<quint64>(fileSize, SidecarReader::kMaxExtent)), Qt::Uninitialized);
    tsk_error_reset();
    const ssize_t got = tsk_fs_file_read(file, 0, bytes.data(), size_t(bytes.size()), TSK_FS_FILE_READ_FLAG_NONE);
    tsk_error_reset();
    if (got != ssize_t(bytes.size())) {
        if (unreadable)
            *unreadable = EIO;
        return std::nullopt;
    }
    return AppleDouble::parse(std::move(bytes), fileSize);
}
