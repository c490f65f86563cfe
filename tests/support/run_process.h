#pragma once

// Runs a program and collects its output with fork and exec. QProcess starts
// children in a way ThreadSanitizer cannot follow in a threaded process, and
// these tests run under it.

#include "core/capture/native_path.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace qarsilo::test {

struct ProcessResult {
    bool started = false;
    bool exited = false; ///< ended by itself (not by a signal or the timeout)
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

/// Runs `program` with `args` and waits (at most `timeout`, then kills it).
/// `onStarted`, when given, is called with the child's id once it runs.
/// Arguments are file names in the file system's encoding (see native_path.h);
/// `stdoutFile`, when given, takes the standard output instead of `out`.
inline ProcessResult runProcess(const QString& program, const QStringList& args,
                                std::chrono::milliseconds timeout = std::chrono::seconds(60),
                                const std::function<void(pid_t)>& onStarted = {},
                                const char* stdoutFile = nullptr) {
    ProcessResult result;
    std::vector<QByteArray> argData;
    argData.push_back(QFile::encodeName(program));
    for (const QString& a : args)
        argData.push_back(nativeFileName(a));
    std::vector<char*> argv;
    for (QByteArray& a : argData)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    int outPipe[2];
    int errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0)
        return result;
    if (::pipe2(errPipe, O_CLOEXEC) != 0) {
        ::close(outPipe[0]);
        ::close(outPipe[1]);
        return result;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int devNull = ::open("/dev/null", O_RDONLY);
        ::dup2(devNull, 0);
        const int outFd = stdoutFile ? ::open(stdoutFile, O_WRONLY) : outPipe[1];
        ::dup2(outFd, 1);
        ::dup2(errPipe[1], 2);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    if (pid < 0) {
        ::close(outPipe[0]);
        ::close(errPipe[0]);
        return result;
    }
    result.started = true;
    if (onStarted)
        onStarted(pid);

    const auto end = std::chrono::steady_clock::now() + timeout;
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    QByteArray* sinks[2] = {&result.out, &result.err};
    int open = 2;
    bool timedOut = false;
    char buffer[65536];
    while (open > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            timedOut = true;
            break;
        }
        const int n = ::poll(fds, 2, static_cast<int>(left.count()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
            if (got > 0) {
                sinks[i]->append(buffer, static_cast<qsizetype>(got));
            } else if (got == 0 || errno != EINTR) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    if (timedOut)
        ::kill(pid, SIGKILL);
    for (pollfd& f : fds)
        if (f.fd >= 0)
            ::close(f.fd);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.exited = !timedOut && WIFEXITED(status);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

} // namespace qarsilo::test
