#pragma once

#include <QByteArray>
#include <QCommandLineOption>
#include <QString>

#include <optional>

class QCommandLineParser;

// --image, --volume and --password-file, as crawl and files take them.
class ImageOptions
{
public:
    // `imageHelp` says what --image does for the command.
    explicit ImageOptions(const QString& imageHelp);

    void addTo(QCommandLineParser& parser) const;

    // After parsing.
    bool imageGiven(const QCommandLineParser& parser) const;
    QByteArray image(const QCommandLineParser& parser) const;
    QString volume(const QCommandLineParser& parser) const;
    // The password on the first line of --password-file's file, or nothing when it was not
    // given; false, with a message, when that file cannot be read.
    bool readPassword(const QCommandLineParser& parser, std::optional<QByteArray>* password) const;
    // For a command that reads no image: false, with a usage message, when --volume or
    // --password-file was given anyway.
    bool unusedWithoutImage(const QCommandLineParser& parser) const;

private:
    QCommandLineOption m_image;
    QCommandLineOption m_volume;
    QCommandLineOption m_passwordFile;
};
