#include "core/AttributeReader.h"

#include "core/ItemAttributes.h"
#include "core/PathXattrCalls.h"

#include <QFile>

namespace {

std::vector<HostAttributeName> formsFor(const QString& name)
{
    if (name == QLatin1String(kProvenanceAttribute))
        return provenanceForms();
    if (name == QLatin1String(kQuarantineAttribute))
        return quarantineForms();
    return HostAttributeName::formsOf(name.toStdString());
}

} // namespace

const std::vector<HostAttributeName>& provenanceForms()
{
    static const auto forms = HostAttributeName::formsOf(kProvenanceAttribute);
    return forms;
}

const std::vector<HostAttributeName>& quarantineForms()
{
    static const auto forms = HostAttributeName::formsOf(kQuarantineAttribute);
    return forms;
}

PosixResult<bool> attributeHasValue(const QByteArray& path, const QString& name)
{
    return ItemAttributes(PathXattrCalls(path)).hasValue(formsFor(name));
}

PosixResult<bool> attributeHasValue(const QString& path, const QString& name)
{
    return attributeHasValue(QFile::encodeName(path), name);
}

PosixResult<bool> provenancePresent(const QString& path)
{
    return ItemAttributes(PathXattrCalls(QFile::encodeName(path))).hasValue(provenanceForms());
}

PosixResult<bool> quarantinePresent(const QString& path)
{
    return ItemAttributes(PathXattrCalls(QFile::encodeName(path))).hasValue(quarantineForms());
}

PosixResult<QByteArray> readAttribute(const QByteArray& path, const QString& name)
{
    return ItemAttributes(PathXattrCalls(path)).read(formsFor(name));
}

PosixResult<QByteArray> readAttribute(const QString& path, const QString& name)
{
    return readAttribute(QFile::encodeName(path), name);
}
