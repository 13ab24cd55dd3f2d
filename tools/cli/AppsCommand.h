#pragma once

#include "tools/cli/CliCommand.h"

// quellmark-cli apps [--output FILE]: the application list as CSV, the same bytes
// the main window's "Write CSV" writes, but with the header even for an empty list.
class AppsCommand : public CliCommand
{
public:
    QString name() const override { return QStringLiteral("apps"); }
    QString summary() const override;
    int run(const QStringList& arguments) override;
};
