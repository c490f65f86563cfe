#include "core/capture/stream_source.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace qarsilo {

namespace {

using Clock = std::chrono::steady_clock;

// Lines of the child's standard error stream kept for the message; a line
// longer than this is cut.
constexpr std::size_t kKeptLines = 8;
constexpr std::size_t kLongestLine = 1024;

// A pipe the size of a busy second's burst at the windows' snapshot lengths;
// the kernel may grant less (pipe-max-size).
constexpr int kPipeBytes = 1 << 20;

// The groups of the children not yet reaped, for signalChildGroups; atomics
// without locks, as a signal handler reads them.
std::array<std::atomic<pid_t>, 8> g_childGroups{};

void rememberGroup(pid_t group) {
    for (std::atomic<pid_t>& slot : g_childGroups) {
        pid_t none = 0;
        if (slot.compare_exchange_strong(none, group))
            return;
    }
}

void forgetGroup(pid_t group) {
    for (std::atomic<pid_t>& slot : g_childGroups) {
        pid_t was = group;
        slot.compare_exchange_strong(was, 0);
    }
}

int msUntil(Clock::time_point due) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(due - Clock::now());
    return static_cast<int>(std::max<long long>(0, left.count()));
}

} // namespace

StreamSource::~StreamSource() {
    finish(true);
    // Only now: Stop may wake the reader while it finishes by itself.
    for (int& fd : m_wake) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

bool StreamSource::spawn(const std::vector<QByteArray>& argv, QString* error, bool statusChannel) {
    int data[2] = {-1, -1};
    int aux[2] = {-1, -1};
    int status[2] = {-1, -1};
    if (::pipe2(data, O_CLOEXEC) != 0 || ::pipe2(aux, O_CLOEXEC) != 0 ||
        (statusChannel && ::pipe2(status, O_CLOEXEC) != 0) || ::pipe2(m_wake, O_CLOEXEC) != 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        for (int fd : {data[0], data[1], aux[0], aux[1], status[0], status[1]})
            if (fd >= 0)
                ::close(fd);
        return false;
    }
    ::fcntl(data[1], F_SETPIPE_SZ, kPipeBytes);

    // Everything the child needs is made before fork: after it only
    // async-signal-safe calls are allowed.
    std::vector<QByteArray> args = argv;
    std::vector<char*> pointers;
    for (QByteArray& a : args)
        pointers.push_back(a.data());
    pointers.push_back(nullptr);
    static const char kExecFailed[] = "cannot start the command\n";

    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setpgid(0, 0);
        const int devNull = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (devNull >= 0)
            ::dup2(devNull, 0);
        ::dup2(data[1], 1);
        ::dup2(aux[1], 2);
        if (status[1] == kStatusFd)
            ::fcntl(kStatusFd, F_SETFD, 0); // dup2 onto itself would keep close-on-exec
        else if (status[1] >= 0)
            ::dup2(status[1], kStatusFd);
        // Dispositions and the mask survive exec; the command gets the defaults.
        ::signal(SIGPIPE, SIG_DFL);
        ::signal(SIGTERM, SIG_DFL);
        ::signal(SIGINT, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::execv(pointers[0], pointers.data());
        [[maybe_unused]] const ssize_t n = ::write(2, kExecFailed, sizeof kExecFailed - 1);
        ::_exit(127);
    }
    ::close(data[1]);
    ::close(aux[1]);
    if (status[1] >= 0)
        ::close(status[1]);
    if (pid < 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        ::close(data[0]);
        ::close(aux[0]);
        if (status[0] >= 0)
            ::close(status[0]);
        closeFds();
        return false;
    }
    // Also here, so a Stop right after the start finds the group.
    ::setpgid(pid, pid);
    m_pid = pid;
    rememberGroup(pid);
    m_dataFd = data[0];
    m_auxFd = aux[0];
    m_statusFd = status[0];
    m_statusChannel = statusChannel;
    return true;
}

bool StreamSource::openStandardInput(QString* error) {
    if (::pipe2(m_wake, O_CLOEXEC) != 0 || (m_dataFd = ::fcntl(0, F_DUPFD_CLOEXEC, 3)) < 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        closeFds();
        return false;
    }
    return true;
}

FILE* StreamSource::takeFile() {
    cookie_io_functions_t io{};
    io.read = &StreamSource::cookieRead;
    FILE* file = ::fopencookie(this, "r", io);
    // Whole batches per read, not a system call per frame header.
    if (file)
        std::setvbuf(file, nullptr, _IOFBF, 1 << 18);
    return file;
}

void StreamSource::setDeadline(Clock::time_point due) {
    m_deadline = due;
    m_hasDeadline = true;
    m_timedOut = false;
}

ssize_t StreamSource::cookieRead(void* cookie, char* buffer, size_t size) {
    return static_cast<StreamSource*>(cookie)->readData(buffer, size);
}

ssize_t StreamSource::readData(char* buffer, size_t size) {
    for (;;) {
        // poll() passes over the closed ones (-1).
        pollfd fds[4] = {{m_wake[0], POLLIN, 0},
                         {m_dataFd, POLLIN, 0},
                         {m_auxFd, POLLIN, 0},
                         {m_statusFd, POLLIN, 0}};
        int timeout = -1;
        if (m_hasDeadline) {
            timeout = msUntil(m_deadline);
            if (timeout == 0) {
                m_timedOut = true;
                return 0;
            }
        }
        const int n = ::poll(fds, 4, timeout);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (fds[0].revents)
            return 0; // woken by Stop
        if (fds[2].revents)
            readText(&m_auxFd, &m_partial, !m_statusChannel);
        if (fds[3].revents)
            readText(&m_statusFd, &m_statusPartial, true);
        if (fds[1].revents) {
            const ssize_t got = ::read(m_dataFd, buffer, size);
            if (got >= 0)
                return got;
            if (errno != EINTR && errno != EAGAIN)
                return -1;
        }
    }
}

void StreamSource::pollText(int timeoutMs) {
    pollfd fds[2] = {{m_auxFd, POLLIN, 0}, {m_statusFd, POLLIN, 0}};
    if (::poll(fds, 2, timeoutMs) <= 0)
        return;
    if (fds[0].revents)
        readText(&m_auxFd, &m_partial, !m_statusChannel);
    if (fds[1].revents)
        readText(&m_statusFd, &m_statusPartial, true);
}

void StreamSource::readText(int* fd, std::string* partial, bool status) {
    char chunk[4096];
    const ssize_t got = ::read(*fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR)
        return;
    if (got <= 0) {
        ::close(*fd);
        *fd = -1;
        if (!partial->empty())
            takeLine(std::exchange(*partial, {}), status);
        return;
    }
    for (ssize_t i = 0; i < got; ++i) {
        if (chunk[i] == '\n') {
            takeLine(std::exchange(*partial, {}), status);
        } else if (partial->size() < kLongestLine) {
            *partial += chunk[i];
        }
    }
}

void StreamSource::takeLine(const std::string& line, bool status) {
    if (status && line.rfind("drops ", 0) == 0) {
        m_drops.store(static_cast<unsigned>(std::strtoul(line.c_str() + 6, nullptr, 10)),
                      std::memory_order_relaxed);
        return;
    }
    // Beside a status channel, the standard error stream carries libpcap's
    // warnings (a filter too large for the kernel runs in the helper instead):
    // worth telling, but no answer and no failure.
    if (!status)
        qWarning("capture helper: %s", line.c_str());
    std::lock_guard lock(m_lock);
    if (status && line.rfind("error ", 0) == 0)
        m_helperError = line.substr(6);
    if (status && !m_answered && (line == "ok" || line.rfind("fail ", 0) == 0)) {
        m_answered = true;
        m_answer = line;
    }
    m_lines.push_back(line);
    if (m_lines.size() > kKeptLines)
        m_lines.erase(m_lines.begin());
}

bool StreamSource::waitFirstLine(Clock::time_point due, std::string* line) {
    // The answer comes on the status channel; the other one is read too, so
    // that a chatty child never blocks on it.
    while ((m_statusChannel ? m_statusFd : m_auxFd) >= 0) {
        {
            std::lock_guard lock(m_lock);
            if (m_answered) {
                *line = m_answer;
                return true;
            }
        }
        const int timeout = msUntil(due);
        if (timeout == 0)
            return false;
        pollText(timeout);
    }
    std::lock_guard lock(m_lock);
    if (!m_answered)
        return false;
    *line = m_answer;
    return true;
}

void StreamSource::signalChildGroups(int signal) {
    for (const std::atomic<pid_t>& slot : g_childGroups)
        if (const pid_t group = slot.load(); group > 0)
            ::kill(-group, signal);
}

void StreamSource::wake() {
    if (m_wake[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = ::write(m_wake[1], &byte, 1);
    }
}

void StreamSource::finish(bool stopping) {
    if (m_pid > 0 && !m_reaped) {
        // A child blocked writing into a full pipe learns at once that nobody reads.
        if (m_dataFd >= 0) {
            ::close(m_dataFd);
            m_dataFd = -1;
        }
        if (stopping)
            ::kill(-m_pid, SIGTERM);
        // The child's last words (the helper's final drop count, a command's
        // reason) come before its end; the leader stays a zombie until the
        // end, so the group id cannot be taken by another process meanwhile.
        auto due = Clock::now() + std::chrono::milliseconds(stopping ? 1000 : 2000);
        bool terminated = stopping;
        for (;;) {
            siginfo_t info{};
            if (::waitid(P_PID, static_cast<id_t>(m_pid), &info, WEXITED | WNOHANG | WNOWAIT) ==
                    0 &&
                info.si_pid == m_pid)
                break;
            if (Clock::now() >= due) {
                if (terminated)
                    break;
                ::kill(-m_pid, SIGTERM);
                terminated = true;
                due = Clock::now() + std::chrono::milliseconds(1000);
            }
            if (m_auxFd >= 0 || m_statusFd >= 0) {
                pollText(5);
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        }
        // Whatever the leader left running in its group goes with it.
        ::kill(-m_pid, SIGKILL);
        // Before the reap: until then the group id cannot be taken by another.
        forgetGroup(m_pid);
        int status = 0;
        while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
        m_exitStatus = status;
        m_reaped = true;
        // Lines written just before the end.
        for (;;) {
            pollfd fds[2] = {{m_auxFd, POLLIN, 0}, {m_statusFd, POLLIN, 0}};
            if (::poll(fds, 2, 0) <= 0)
                break;
            pollText(0);
        }
    }
    closeFds();
}

void StreamSource::closeFds() {
    for (int* fd : {&m_dataFd, &m_auxFd, &m_statusFd}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

QString StreamSource::exitText() const {
    if (!m_reaped)
        return {};
    if (WIFEXITED(m_exitStatus))
        return QStringLiteral("exit code %1").arg(WEXITSTATUS(m_exitStatus));
    if (WIFSIGNALED(m_exitStatus))
        return QStringLiteral("signal %1").arg(WTERMSIG(m_exitStatus));
    return {};
}

QStringList StreamSource::lastLines() const {
    std::lock_guard lock(m_lock);
    QStringList out;
    for (const std::string& line : m_lines)
        out.push_back(QString::fromLocal8Bit(line.data(), static_cast<qsizetype>(line.size())));
    return out;
}

QString StreamSource::helperError() const {
    std::lock_guard lock(m_lock);
    return QString::fromLocal8Bit(m_helperError.data(),
                                  static_cast<qsizetype>(m_helperError.size()));
}

} // namespace qarsilo
