#include "tests/support/ToolRun.h"

#include <fcntl.h>
#include <future>
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

QByteArray ToolRun::built(const char* name)
{
    return qgetenv("QUELLMARK_BINARY_DIR") + "/bin/" + name;
}

QByteArray ToolRun::drain(int fd)
{
    QByteArray bytes;
    char buffer[65536];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
        bytes.append(buffer, n);
    ::close(fd);
    return bytes;
}

bool ToolRun::becomeNobody()
{
    constexpr uid_t nobody = 65534;
    return ::geteuid() != 0 || (::setgroups(0, nullptr) == 0 && ::setresgid(nobody, nobody, nobody) == 0 &&
                                ::setresuid(nobody, nobody, nobody) == 0);
}

QByteArray ToolRun::contents(const QByteArray& path)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    return fd < 0 ? QByteArray("<none>") : drain(fd);
}

ToolRun::Outcome ToolRun::run() const
{
    // Everything the child uses is made before fork: it only makes system calls.
    QByteArrayList storage{program};
    storage += arguments;
    std::vector<char*> argv;
    for (QByteArray& argument : storage)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    QByteArrayList folders = folder.split('/');
    folders.removeAll(QByteArray());
    const bool fromRoot = folder.startsWith('/');
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
        return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (output == -2)
            ::close(STDOUT_FILENO);
        else
            ::dup2(output >= 0 ? output : out[1], STDOUT_FILENO);
        ::dup2(err[1], STDERR_FILENO);
        if (fileSizeLimit >= 0) {
            const rlimit limit{rlim_t(fileSizeLimit), rlim_t(fileSizeLimit)};
            ::signal(SIGXFSZ, SIG_IGN);
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        if ((inChild && !inChild()) || (fromRoot && ::chdir("/") != 0))
            ::_exit(125);
        for (const QByteArray& name : folders) {
            if (::chdir(name.constData()) != 0)
                ::_exit(125);
        }
        if (unprivileged && !becomeNobody())
            ::_exit(126);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    auto errors = std::async(std::launch::async, drain, err[0]);
    Outcome outcome;
    outcome.out = drain(out[0]);
    outcome.err = errors.get();
    int status = 0;
    ::waitpid(pid, &status, 0);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    return outcome;
}
