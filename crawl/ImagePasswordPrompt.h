#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QList>

#include <vector>

class Crawler;
class QDialog;
class QWidget;
struct ImageVolume;

// Starts a disk image's crawl, first asking which volumes to crawl where it has several, and
// for the password where a chosen volume is encrypted: both are known before the walk, and a
// password is typed here, never taken from a command line.
class ImagePasswordPrompt
{
    Q_DECLARE_TR_FUNCTIONS(ImagePasswordPrompt)

public:
    // Crawls `rawImage` with `crawler` at once when it has one volume, not encrypted (null is
    // returned). Else opens a window-modal dialog over `parent` and returns it: the volumes to
    // crawl (every one checked; Cancel crawls nothing), then, where one is encrypted, its
    // password (OK crawls with it, Cancel without: those volumes are passed over).
    static QDialog* crawl(Crawler* crawler, QWidget* parent, const QByteArray& rawImage, bool showQuarantine,
                          bool sidecars = true);

private:
    static QDialog* askPassword(Crawler* crawler, QWidget* parent, const QByteArray& rawImage, bool showQuarantine,
                                bool sidecars, const std::vector<ImageVolume>& volumes, const QList<int>& chosen);
};
