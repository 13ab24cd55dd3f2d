#pragma once

#include <QByteArray>
#include <QByteArrayList>

#include <functional>
#include <utility>

// One run of a program with its arguments as raw bytes (which need not be UTF-8), in a working
// folder of any depth, as nobody if asked, with its standard output and error collected.
struct ToolRun
{
    struct Outcome
    {
        int status = -1; // the exit status, or minus the signal that ended the program
        QByteArray out;
        QByteArray err;
    };

    ToolRun(QByteArray program, QByteArrayList arguments, QByteArray folder = {}, int output = -1)
        : program(std::move(program)), arguments(std::move(arguments)), folder(std::move(folder)),
          output(output)
    {}

    QByteArray program;
    QByteArrayList arguments;
    QByteArray folder;             // entered one name at a time (from "/" when absolute)
    int output = -1;               // standard output instead of a pipe; -2: closed
    bool unprivileged = false;     // as nobody, when root
    long fileSizeLimit = -1;       // RLIMIT_FSIZE: past it, writes fail as on a full disk
    std::function<bool()> inChild; // more setup in the child before the folder is entered;
                                   // system calls only (the child of a threaded process)

    Outcome run() const;

    // The path of one of our programs in the build tree, e.g. "quellmark-cli".
    static QByteArray built(const char* name);
    // Reads `fd` to its end, then closes it.
    static QByteArray drain(int fd);
    // Becomes user and group "nobody" (65534) when root; false when that failed. For a child.
    static bool becomeNobody();
    // What the file at `path` holds; "<none>" when it cannot be opened.
    static QByteArray contents(const QByteArray& path);
};
