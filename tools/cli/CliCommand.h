#pragma once

#include <QString>
#include <QStringList>

// One subcommand of quellmark-cli. Exit status: 0 done, 1 failed, 2 bad usage.
class CliCommand
{
public:
    virtual ~CliCommand() = default;
    virtual QString name() const = 0;
    virtual QString summary() const = 0; // one line for the overview
    // `arguments` starts with the subcommand's own name.
    virtual int run(const QStringList& arguments) = 0;

    static constexpr int kOk = 0;
    static constexpr int kFailed = 1;
    static constexpr int kUsage = 2;
};
