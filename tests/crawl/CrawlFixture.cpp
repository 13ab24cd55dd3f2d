#include "tests/crawl/CrawlFixture.h"

#include "core/ProvenanceRegistry.h"

#include <QFile>
#include <QHash>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

const QByteArray kUnregistered("\x01\x02\x00\xaa", 4);
const QByteArray kRegistered("\x0a\x0b\x0c", 3);
const QByteArray kQuarantine("0083;65a1b2c3;Browser;1F2E3D4C");
const QString kUnregisteredText = QStringLiteral("❓ 0x010200aa");
const QString kRegisteredText = QStringLiteral("✅ /Applications/Registered.app");
const QString kUnregisteredOnly = QStringLiteral("❓ 0x0a0b0c");

constexpr int kDeepLevels = 22; // 22 folders of 200 characters: well past PATH_MAX (4096)

struct ListedEntry
{
    const char* relative;
    const char* encoded;
    enum Provenance
    {
        NoProvenance,
        Unregistered,
        Registered
    } provenance;
    const char* quarantine; // shown only with the switch on; nullptr: none
};

// Every listed entry of the fixture; "name" comes from the last component.
const ListedEntry kListed[] = {
    {"with space.txt", "with%20space.txt", ListedEntry::Unregistered, nullptr},
    {"comma,quote\"percent%.txt", "comma,quote%22percent%25.txt", ListedEntry::Registered, nullptr},
    {"line\nfeed.txt", "line%0Afeed.txt", ListedEntry::Unregistered, "🔸 Browser"},
    {"bad\xff\xfename.txt", "bad%FF%FEname.txt", ListedEntry::Unregistered, nullptr},
    {".hidden", ".hidden", ListedEntry::Unregistered, nullptr},
    {"Some.app/Contents/MacOS/tool", "Some.app/Contents/MacOS/tool", ListedEntry::Unregistered, nullptr},
    {"folder/", "folder/", ListedEntry::Registered, nullptr},
    {"folder/inner.txt", "folder/inner.txt", ListedEntry::NoProvenance, "🔸 Browser"},
    {"short-quarantine.txt", "short-quarantine.txt", ListedEntry::NoProvenance, "🔸 unknown"},
    {"samba.txt", "samba.txt", ListedEntry::NoProvenance, "🔸 Safari"},
    {"many-names.txt", "many-names.txt", ListedEntry::Unregistered, nullptr},
};

void setOrWarn(const QByteArray& path, const char* name, const QByteArray& value)
{
    if (::lsetxattr(path.constData(), name, value.constData(), size_t(value.size()), 0) != 0)
        qFatal("setxattr %s on %s: %s", name, path.constData(), std::strerror(errno));
}

QString lastComponent(const QByteArray& relative)
{
    QByteArray trimmed = relative;
    if (trimmed.endsWith('/'))
        trimmed.chop(1);
    // Written out rather than through the code under test: U+FFFD for each bad byte.
    const QByteArray last = trimmed.mid(trimmed.lastIndexOf('/') + 1);
    if (last == QByteArray("bad\xff\xfename.txt"))
        return QStringLiteral("bad\uFFFD\uFFFDname.txt");
    return QString::fromUtf8(last);
}

void collect(int fd, const QByteArray& prefix, QList<QByteArray>& out, qint64* links)
{
    const int copy = ::dup(fd);
    DIR* dir = ::fdopendir(copy);
    if (!dir)
        return;
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name == "." || name == "..")
            continue;
        struct stat st;
        if (::fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (S_ISLNK(st.st_mode)) {
            if (links)
                ++*links;
            continue;
        }
        if (S_ISDIR(st.st_mode)) {
            out.append(prefix + name + '/');
            const int sub = ::openat(fd, entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
            if (sub >= 0) {
                collect(sub, prefix + name + '/', out, links);
                ::close(sub);
            }
        } else {
            out.append(prefix + name);
        }
    }
    ::closedir(dir);
}

void removeBelow(int parent, const char* name)
{
    const int fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
    if (fd < 0) {
        ::unlinkat(parent, name, 0);
        return;
    }
    QList<QByteArray> names;
    const int copy = ::dup(fd);
    if (DIR* dir = ::fdopendir(copy)) {
        while (const dirent* entry = ::readdir(dir)) {
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                names.append(QByteArray(entry->d_name));
        }
        ::closedir(dir);
    }
    for (const QByteArray& child : names)
        removeBelow(fd, child.constData());
    ::close(fd);
    ::unlinkat(parent, name, AT_REMOVEDIR);
}

} // namespace

QString CrawlFixture::Expected::row() const
{
    return name + QLatin1Char('|') + provenanceID + QLatin1Char('|') + quarantineApp + QLatin1Char('|') +
           path;
}

CrawlFixture::CrawlFixture(TestTree& tree) : m_tree(tree)
{
    tree.file(QStringLiteral("plain.txt"), "nothing");
    tree.setProvenance(tree.file(QStringLiteral("with space.txt")), kUnregistered);
    tree.setProvenance(tree.file(QStringLiteral("comma,quote\"percent%.txt")), kRegistered);
    const QString lineFeed = tree.file(QStringLiteral("line\nfeed.txt"));
    tree.setProvenance(lineFeed, kUnregistered);
    tree.setQuarantine(lineFeed, kQuarantine);
    tree.setRawAttribute(tree.rawFile("bad\xff\xfename.txt"), "user.com.apple.provenance", kUnregistered);
    tree.setProvenance(tree.file(QStringLiteral(".hidden")), kUnregistered);
    tree.setProvenance(tree.file(QStringLiteral("Some.app/Contents/MacOS/tool")), kUnregistered);
    tree.setProvenance(tree.folder(QStringLiteral("folder")), kRegistered);
    tree.setQuarantine(tree.file(QStringLiteral("folder/inner.txt")), kQuarantine);
    tree.setQuarantine(tree.file(QStringLiteral("short-quarantine.txt")), "0083;65a1b2c3");
    tree.setRawAttribute(QFile::encodeName(tree.file(QStringLiteral("samba.txt"))),
                         "user.DosStream.com.apple.quarantine:$DATA",
                         QByteArray("0083;65a1b2c3;Safari;ABC\0", 25));
    tree.setProvenance(tree.file(QStringLiteral("empty-prov.txt")), QByteArray());
    // More names than one kilobyte of list holds.
    const QByteArray many = QFile::encodeName(tree.file(QStringLiteral("many-names.txt")));
    for (int i = 0; i < 40; ++i)
        setOrWarn(many,
                  QByteArray("user.other.a-rather-long-attribute-name-" + QByteArray::number(i)).constData(),
                  "x");
    tree.setProvenance(QFile::decodeName(many), kUnregistered);
    // Links to a file and a folder that both carry attributes: neither listed nor entered.
    tree.symlink(tree.path(QStringLiteral("with space.txt")), QStringLiteral("link-to-file"));
    tree.symlink(tree.path(QStringLiteral("folder")), QStringLiteral("link-to-folder"));

    // Below PATH_MAX only descriptors work: build the chain relative to open folders.
    int fd = ::open(QFile::encodeName(tree.root()).constData(), O_RDONLY | O_DIRECTORY);
    QByteArray relative("deep/");
    ::mkdirat(fd, "deep", 0755);
    int next = ::openat(fd, "deep", O_RDONLY | O_DIRECTORY);
    ::close(fd);
    fd = next;
    const QByteArray level(200, 'd');
    for (int i = 0; i < kDeepLevels; ++i) {
        ::mkdirat(fd, level.constData(), 0755);
        next = ::openat(fd, level.constData(), O_RDONLY | O_DIRECTORY);
        ::close(fd);
        fd = next;
        relative += level + '/';
    }
    const int file = ::openat(fd, "bottom.txt", O_WRONLY | O_CREAT, 0644);
    if (file < 0 || ::fsetxattr(file, "user.com.apple.provenance", kUnregistered.constData(),
                                size_t(kUnregistered.size()), 0) != 0)
        qFatal("cannot make the deep file: %s", std::strerror(errno));
    ::close(file);
    ::close(fd);
    m_deepRelative = relative + "bottom.txt";
}

CrawlFixture::~CrawlFixture()
{
    // Neither the deep chain nor a name that is not UTF-8 can be removed through QDir.
    removeDeep(QFile::encodeName(m_tree.root()), "deep");
    ::unlink(m_tree.rawPath("bad\xff\xfename.txt").constData());
}

void CrawlFixture::setRegistered(bool registered)
{
    provenanceApps().clear();
    if (registered)
        provenanceApps().set(QStringLiteral("0x0a0b0c"), QString::fromLatin1(kRegisteredApp));
}

QList<CrawlFixture::Expected> CrawlFixture::expected(bool showQuarantine, bool registered) const
{
    QHash<QByteArray, Expected> listed;
    const QString root = m_tree.root();
    auto add = [&](const QByteArray& relative, const QString& encoded, const QString& provenance,
                   const QString& quarantine) {
        if (provenance.isEmpty() && (!showQuarantine || quarantine.isEmpty()))
            return;
        listed.insert(relative, {relative, lastComponent(relative), root + QLatin1Char('/') + encoded,
                                 provenance, showQuarantine ? quarantine : QString()});
    };
    for (const ListedEntry& entry : kListed) {
        QString provenance;
        if (entry.provenance == ListedEntry::Unregistered)
            provenance = kUnregisteredText;
        else if (entry.provenance == ListedEntry::Registered)
            provenance = registered ? kRegisteredText : kUnregisteredOnly;
        add(QByteArray(entry.relative), QString::fromUtf8(entry.encoded), provenance,
            entry.quarantine ? QString::fromUtf8(entry.quarantine) : QString());
    }
    add(m_deepRelative, QString::fromLatin1(m_deepRelative), kUnregisteredText, {});

    QList<Expected> ordered;
    for (const QByteArray& relative : walkOrder(QFile::encodeName(root))) {
        if (const auto it = listed.constFind(relative); it != listed.cend())
            ordered.append(*it);
    }
    if (ordered.size() != listed.size())
        qFatal("the fixture's expectations name entries that are not in the tree");
    return ordered;
}

QStringList CrawlFixture::expectedRows(bool showQuarantine, bool registered) const
{
    QStringList rows;
    for (const Expected& entry : expected(showQuarantine, registered))
        rows.append(entry.row());
    return rows;
}

qint64 CrawlFixture::examinableEntries() const
{
    return walkOrder(QFile::encodeName(m_tree.root())).size();
}

QList<QByteArray> CrawlFixture::walkOrder(const QByteArray& rawRoot, qint64* links)
{
    QList<QByteArray> order;
    const int fd = ::open(rawRoot.constData(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        collect(fd, {}, order, links);
        ::close(fd);
    }
    return order;
}

void CrawlFixture::removeDeep(const QByteArray& rawRoot, const QByteArray& name)
{
    const int fd = ::open(rawRoot.constData(), O_RDONLY | O_DIRECTORY);
    if (fd < 0)
        return;
    removeBelow(fd, name.constData());
    ::close(fd);
}
