#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QSet>

#include <utility>

// Lists the applications of this machine as absolute paths (raw bytes), each once:
// bundles below the Applications folders of every volume and ~/Applications, the
// programs of the desktop entries, and the AppImages in ~/Applications.
// QUELLMARK_APP_ROOTS replaces all of these with bundles below the given roots.
class AppFinder
{
public:
    // Everything found, in an order that depends only on the file system's content.
    QByteArrayList find();

private:
    void searchRoot(const QByteArray& root, bool wholeFolderWhenBare);
    bool searchApplicationsFolder(const QByteArray& folder, bool followLink);
    void searchAppImages(const QByteArray& folder);
    void searchDesktopEntries();
    void addProgram(const QByteArray& word);
    void add(const QByteArray& path);

    QByteArrayList m_found;
    QSet<QByteArray> m_printed;
    // Folders already walked, so a volume mounted twice is listed once.
    QSet<std::pair<quint64, quint64>> m_visited;
};
