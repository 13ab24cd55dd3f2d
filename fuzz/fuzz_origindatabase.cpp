// The glue over the Mac's databases, given any file as both QuarantineEventsV2 and ExecPolicy:
// opening, checking the tables, lookups by index or by one pass, notes. Nothing may crash,
// hang past the work budget, or hand back a text past its cap.
#include "origin/OriginDatabases.h"
#include "origin/ValueCap.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>

namespace {

void check(const QString& text)
{
    // The cap, and the mark that says a text was cut.
    if (text.toUtf8().size() > ValueCap::kMaxBytes + 64)
        std::abort();
}

void write(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(path.section(u'/', 0, -2));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static QTemporaryDir volume;
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    write(volume.filePath(QStringLiteral("Users/u/Library/Preferences/com.apple.LaunchServices.QuarantineEventsV2")),
          bytes);
    write(volume.filePath(QStringLiteral("private/var/db/SystemPolicyConfiguration/ExecPolicy")), bytes);
    const auto databases = OriginDatabases::load(MacSources::at(QFile::encodeName(volume.path())));
    for (const char* id : {"6C5A0E1E-0000-4000-8000-000000000001", "6c5a0e1e-0000-4000-8000-000000000001", "x"}) {
        if (const auto event = databases->event(QString::fromLatin1(id))) {
            for (const QString* text : {&event->dataURL, &event->originURL, &event->originTitle, &event->agentName,
                                        &event->agentBundleID, &event->senderName, &event->senderAddress})
                check(*text);
        }
    }
    for (qint64 key : {4242, 1, -1}) {
        QByteArray value("\x01\x02\x00", 3);
        value.append(reinterpret_cast<const char*>(&key), sizeof key);
        if (const auto record = databases->provenance(value)) {
            for (const QString* text : {&record->url, &record->bundleID, &record->cdhash, &record->teamID,
                                        &record->signingID})
                check(*text);
        }
    }
    for (const QString& note : databases->notes())
        check(note.left(ValueCap::kMaxBytes));
    return 0;
}
