#pragma once

#include <QObject>
#include <QString>

class QWidget;

// Remembers a window's size and position per kind of window ("main", "crawler", ...) in
// QSettings: a new window of that kind opens where the last one was closed, fitted to the
// screen it opens on. A main window
// opened over another one moves a little, so that it does not hide it.
class WindowGeometry : public QObject
{
    Q_OBJECT

public:
    // Restores `window`'s geometry (call before it is shown) and saves it when it closes.
    WindowGeometry(QWidget* window, const QString& kind);

    QString kind() const { return m_kind; }
    static QString settingsKey(const QString& kind);

    // Saves the window's geometry now.
    void save() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void restore();
    // Shrinks the window to the screen's free area and, when `placed`, moves it onto it.
    void fitScreen(bool placed);

    QWidget* m_window;
    QString m_kind;
};
