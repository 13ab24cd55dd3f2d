#pragma once

#include <QString>
#include <QStringList>

// One subcommand of quellmark-cli.
class CliCommand
{
public:
    virtual ~CliCommand() = default;
    virtual QString name() const = 0;
    virtual QString summary() const = 0; // one line for the overview
    // `arguments` starts with the subcommand's own name. File-system arguments carry their
    // bytes as RawText: take them with CliOutput::rawPath().
    virtual int run(const QStringList& arguments) = 0;

    // Exit statuses.
    static constexpr int kOk = 0;      // everything examined and written
    static constexpr int kFailed = 1;  // an error: nothing, or not all, written
    static constexpr int kUsage = 2;   // bad usage
    static constexpr int kPartial = 3; // written, but some items could not be examined

    // The status of a run made of steps that ended with `a` and `b`: a failure outweighs
    // a partial result, which outweighs success.
    static int combined(int a, int b)
    {
        const auto weight = [](int status) { return status == kPartial ? 1 : status == kOk ? 0 : 2; };
        return weight(a) >= weight(b) ? a : b;
    }
};
