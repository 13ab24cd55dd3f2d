#pragma once

#include "tools/cli/CliCommand.h"

// quellmark-cli files [--apps] PATH...: the export text of the record that dropping
// each PATH on the drop window would give, one line each, in argument order.
class FilesCommand : public CliCommand
{
public:
    QString name() const override;
    QString summary() const override;
    int run(const QStringList& arguments) override;
};
