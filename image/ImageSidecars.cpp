#include "image/ImageSidecars.h"

#include "core/SidecarReader.h"

#include <tsk/libtsk.h>

#include <QByteArrayList>

#include <algorithm>
#include <cerrno>
#include <memory>

namespace {

constexpr std::string_view kArchiveFolder = "__MACOSX";

std::string_view entryName(const TSK_FS_NAME* name)
{
    return name && name->name ? std::string_view(name->name) : std::string_view();
}

bool isDot(std::string_view name)
{
    return name == "." || name == "..";
}

using Dir = std::unique_ptr<TSK_FS_DIR, void (*)(TSK_FS_DIR*)>;

} // namespace

ImageSidecars::ImageSidecars(TSK_FS_INFO* fs, const TSK_FS_DIR* dir, const QByteArray& encodedFolder,
                             const std::vector<quint64>& archiveFolders)
    : m_fs(fs), m_inArchive(encodedFolder.contains("/__MACOSX/"))
{
    const size_t count = tsk_fs_dir_getsize(dir);
    m_names.collect(count, [&](size_t i) { return entryName(tsk_fs_dir_get_name(dir, i)); });
    for (size_t i = 0; i < count; ++i) {
        const TSK_FS_NAME* name = tsk_fs_dir_get_name(dir, i);
        const std::string_view text = entryName(name);
        if (FolderSidecars::isSidecarName(text) && name->type == TSK_FS_NAME_TYPE_REG)
            m_addresses.emplace(text.substr(2), quint64(name->meta_addr));
        else if (text == kArchiveFolder && name->type == TSK_FS_NAME_TYPE_DIR)
            addArchiveFolder(quint64(name->meta_addr));
    }
    for (quint64 address : archiveFolders)
        addArchiveFolder(address);
}

void ImageSidecars::addArchiveFolder(quint64 address)
{
    tsk_error_reset();
    const Dir dir(tsk_fs_dir_open_meta(m_fs, TSK_INUM_T(address)), tsk_fs_dir_close);
    tsk_error_reset();
    if (!dir)
        return;
    ArchiveFolder folder;
    for (size_t i = 0, count = tsk_fs_dir_getsize(dir.get()); i < count; ++i) {
        const TSK_FS_NAME* name = tsk_fs_dir_get_name(dir.get(), i);
        const std::string_view text = entryName(name);
        if (FolderSidecars::isSidecarName(text) && name->type == TSK_FS_NAME_TYPE_REG)
            folder.sidecars.emplace(text.substr(2), quint64(name->meta_addr));
        else if (name && name->type == TSK_FS_NAME_TYPE_DIR && !text.empty() && !isDot(text))
            folder.folders.emplace(text, quint64(name->meta_addr));
    }
    m_archives.push_back(std::move(folder));
}

std::vector<quint64> ImageSidecars::archiveFoldersAbove(TSK_FS_INFO* fs, const QByteArray& path)
{
    std::vector<quint64> found;
    // The folder's own archive folder is among its entries, met as they are listed.
    for (const QByteArray& candidate : SidecarReader::archiveFolderPaths('/' + path, false)) {
        tsk_error_reset();
        const Dir dir(tsk_fs_dir_open(fs, candidate.constData()), tsk_fs_dir_close);
        tsk_error_reset();
        if (dir)
            found.push_back(quint64(dir->addr));
    }
    return found;
}

std::vector<quint64> ImageSidecars::archiveFoldersBelow(std::string_view name) const
{
    std::vector<quint64> below;
    for (const ArchiveFolder& archive : m_archives) {
        const auto found = archive.folders.find(std::string(name));
        if (found != archive.folders.end())
            below.push_back(found->second);
    }
    return below;
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
    entry.lendable = entry.orphan || !m_archives.empty() || (!m_addresses.empty() && m_addresses.count(text) > 0);
    return entry;
}

std::optional<AppleDouble> ImageSidecars::sidecarOf(std::string_view name, int* unreadable, bool* fromArchive) const
{
    if (const auto found = m_addresses.find(name); found != m_addresses.end()) {
        if (auto sidecar = readAt(found->second, unreadable))
            return sidecar;
    }
    for (const ArchiveFolder& archive : m_archives) {
        const auto found = archive.sidecars.find(std::string(name));
        if (found == archive.sidecars.end())
            continue;
        if (auto sidecar = readAt(found->second, unreadable)) {
            if (fromArchive)
                *fromArchive = true;
            return sidecar;
        }
    }
    return std::nullopt;
}

std::optional<AppleDouble> ImageSidecars::readAt(quint64 address, int* unreadable) const
{
    tsk_error_reset();
    const std::unique_ptr<TSK_FS_FILE, void (*)(TSK_FS_FILE*)> file(
        tsk_fs_file_open_meta(m_fs, nullptr, TSK_INUM_T(address)), tsk_fs_file_close);
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
