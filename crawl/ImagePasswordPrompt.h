#pragma once

#include <QByteArray>
#include <QCoreApplication>

class Crawler;
class QInputDialog;
class QWidget;

// Starts a disk image's crawl, first asking for the password where a volume is encrypted:
// which volumes are locked is known before the walk, and a password is typed here, never
// taken from a command line.
class ImagePasswordPrompt
{
    Q_DECLARE_TR_FUNCTIONS(ImagePasswordPrompt)

public:
    // Crawls `rawImage` with `crawler` at once when no volume is encrypted (null is returned);
    // else opens a window-modal password dialog over `parent` naming the locked volumes and
    // returns it: OK crawls with the password, Cancel without (those volumes are passed over).
    static QInputDialog* crawl(Crawler* crawler, QWidget* parent, const QByteArray& rawImage, bool showQuarantine);
};
