#pragma once

#include "tools/cli/CliCommand.h"

// quellmark-cli crawl: the folder results CSV of a crawl, on standard output or in a file.
class CrawlCommand : public CliCommand
{
public:
    QString name() const override;
    QString summary() const override;
    int run(const QStringList& arguments) override;
};
