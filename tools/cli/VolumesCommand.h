#pragma once

#include "tools/cli/CliCommand.h"

// quellmark-cli volumes: the volumes a disk image holds, one a line.
class VolumesCommand : public CliCommand
{
public:
    QString name() const override;
    QString summary() const override;
    int run(const QStringList& arguments) override;
};
