#include "origin/MacSources.h"

#include "core/EvidenceAccess.h"
#include "core/PathEncoding.h"
#include "core/UniqueFd.h"

#include <QDir>
#include <QFile>
#include <QHashFunctions>

#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QByteArray kExecPolicy = QByteArrayLiteral("/private/var/db/SystemPolicyConfiguration/ExecPolicy");
const QByteArray kQuarantineEvents =
    QByteArrayLiteral("/Library/Preferences/com.apple.LaunchServices.QuarantineEventsV2");

bool isFile(const QByteArray& path)
{
    struct stat status;
    return ::stat(path.constData(), &status) == 0 && S_ISREG(status.st_mode);
}

// Each user's database under <root>/Users, in name order.
QList<QByteArray> usersDatabases(const QByteArray& root)
{
    QList<QByteArray> found;
    const QByteArray users = root + QByteArrayLiteral("/Users");
    // Listing a folder would change its access time: opened as evidence.
    DIR* dir =
        UniqueFd(EvidenceAccess::openat(AT_FDCWD, users.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
            .openDirectory();
    if (!dir)
        return found;
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name == "." || name == "..")
            continue;
        if (const QByteArray path = users + '/' + name + kQuarantineEvents; isFile(path))
            found.append(path);
    }
    ::closedir(dir);
    std::sort(found.begin(), found.end());
    return found;
}

} // namespace

MacSources MacSources::at(const QByteArray& dir)
{
    const QByteArray root = dir == "/" ? QByteArray() : withoutTrailingSlashes(dir);
    MacSources sources;
    if (const QByteArray path = root + kExecPolicy; isFile(path))
        sources.execPolicy = path;
    if (const QByteArray path = root + kQuarantineEvents; isFile(path))
        sources.quarantineEvents.append(path);
    sources.quarantineEvents += usersDatabases(root);
    return sources;
}

MacSources MacSources::above(const QByteArray& path)
{
    QByteArray current = path;
    if (!current.startsWith('/'))
        current = QFile::encodeName(QDir::currentPath()) + '/' + current;
    current = withoutTrailingSlashes(current);

    MacSources found;
    for (;;) {
        const QByteArray root = current == "/" ? QByteArray() : current;
        const QByteArray execPolicy = root + kExecPolicy;
        const QList<QByteArray> users = usersDatabases(root);
        if (isFile(execPolicy) || !users.isEmpty()) {
            if (isFile(execPolicy))
                found.execPolicy = execPolicy;
            for (const QByteArray& database : users) {
                if (!found.quarantineEvents.contains(database))
                    found.quarantineEvents.append(database);
            }
            return found;
        }
        // A home folder: keep the nearest one's database and look further up for its volume.
        if (const QByteArray home = root + kQuarantineEvents;
            found.quarantineEvents.isEmpty() && isFile(home))
            found.quarantineEvents.append(home);
        if (root.isEmpty())
            return found;
        const qsizetype slash = current.lastIndexOf('/');
        current = slash <= 0 ? QByteArrayLiteral("/") : current.left(slash);
    }
}

size_t qHash(const MacSources& sources, size_t seed)
{
    return qHashMulti(seed, sources.execPolicy, sources.quarantineEvents);
}
