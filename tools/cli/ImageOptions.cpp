#include "tools/cli/ImageOptions.h"

#include "tools/cli/CliOutput.h"
#include "tools/cli/ImageCrawlOutput.h"

#include <QCommandLineParser>

ImageOptions::ImageOptions(const QString& imageHelp)
    : m_image(QStringLiteral("image"), imageHelp, QStringLiteral("IMAGE")),
      m_volume(QStringLiteral("volume"),
               QStringLiteral("Of an image, only the volume with this name or number (see quellmark-cli "
                              "volumes)."),
               QStringLiteral("NAME|NUMBER")),
      m_passwordFile(QStringLiteral("password-file"),
                     QStringLiteral("Unlock an image's encrypted volumes with the password on the first line of "
                                    "FILE."),
                     QStringLiteral("FILE"))
{
}

void ImageOptions::addTo(QCommandLineParser& parser) const
{
    parser.addOptions({m_image, m_volume, m_passwordFile});
}

bool ImageOptions::imageGiven(const QCommandLineParser& parser) const
{
    return parser.isSet(m_image);
}

QByteArray ImageOptions::image(const QCommandLineParser& parser) const
{
    return CliOutput::rawPath(parser.value(m_image));
}

QString ImageOptions::volume(const QCommandLineParser& parser) const
{
    return parser.value(m_volume);
}

bool ImageOptions::readPassword(const QCommandLineParser& parser, std::optional<QByteArray>* password) const
{
    if (!parser.isSet(m_passwordFile))
        return true;
    *password = ImageCrawlOutput::readPassword(CliOutput::rawPath(parser.value(m_passwordFile)));
    return password->has_value();
}

bool ImageOptions::unusedWithoutImage(const QCommandLineParser& parser) const
{
    if (!parser.isSet(m_volume) && !parser.isSet(m_passwordFile))
        return true;
    CliOutput::error(QStringLiteral("--volume and --password-file are for disk images"));
    return false;
}
