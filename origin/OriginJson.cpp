#include "origin/OriginJson.h"

#include "origin/OriginDetails.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>

namespace {

// A JSON object written in the order its members are added (QJsonObject sorts them).
class Members
{
public:
    void add(const char* key, const QJsonValue& value) { append(key, text(value)); }
    // Empty texts stand for fields the source did not have, and are left out.
    void addText(const char* key, const QString& value)
    {
        if (!value.isEmpty())
            add(key, value);
    }
    void addNumber(const char* key, const std::optional<qint64>& value)
    {
        if (value)
            add(key, QJsonValue(*value));
    }
    void addObject(const char* key, const Members& members) { append(key, members.object()); }

    QByteArray object() const { return '{' + m_text + '}'; }

private:
    static QByteArray text(const QJsonValue& value)
    {
        // QJsonDocument only writes arrays and objects: write a one-element array and unwrap it.
        const QByteArray array = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
        return array.mid(1, array.size() - 2);
    }

    void append(const char* key, const QByteArray& value)
    {
        if (!m_text.isEmpty())
            m_text += ',';
        m_text += text(QString::fromLatin1(key)) + ':' + value;
    }

    QByteArray m_text;
};

} // namespace

QByteArray OriginJson::line(const QString& name, const QString& path, const QString& provenanceID,
                            const QString& quarantineApp, const OriginDetails& details)
{
    Members line;
    line.add("name", name);
    line.add("path", path);
    line.add("provenanceID", provenanceID);
    line.add("quarantineApp", quarantineApp);
    if (const auto& value = details.quarantine) {
        Members quarantine;
        quarantine.addText("flags", value->flags);
        if (!value->flags.isEmpty())
            quarantine.add("flagNames", QJsonArray::fromStringList(value->flagNames));
        quarantine.addText("time", value->time);
        quarantine.addText("agent", value->agent);
        quarantine.addText("eventID", value->eventID);
        line.addObject("quarantine", quarantine);
    }
    if (details.whereFroms)
        line.add("whereFroms", QJsonArray::fromStringList(*details.whereFroms));
    if (const auto& event = details.quarantineEvent) {
        Members row;
        row.addText("dataURL", event->dataURL);
        row.addText("originURL", event->originURL);
        row.addText("originTitle", event->originTitle);
        row.addText("agentName", event->agentName);
        row.addText("agentBundleID", event->agentBundleID);
        row.addText("senderName", event->senderName);
        row.addText("senderAddress", event->senderAddress);
        row.addNumber("type", event->type);
        row.addText("time", event->time);
        row.addText("user", event->user);
        row.addText("database", event->database);
        line.addObject("quarantineEvent", row);
    }
    if (const auto& record = details.provenanceRecord) {
        Members row;
        row.addText("url", record->url);
        row.addText("bundleID", record->bundleID);
        row.addText("teamID", record->teamID);
        row.addText("signingID", record->signingID);
        row.addText("cdhash", record->cdhash);
        row.addNumber("flags", record->flags);
        row.addText("time", record->time);
        row.addText("byteOrder", record->byteOrder);
        row.addText("database", record->database);
        line.addObject("provenanceRecord", row);
    }
    if (details.orphanSidecar)
        line.add("orphanSidecar", true);
    if (!details.problems.isEmpty())
        line.add("problems", QJsonArray::fromStringList(details.problems));
    return line.object();
}
