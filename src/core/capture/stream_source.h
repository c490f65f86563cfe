#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <vector>

namespace qarsilo {

/// A pcap stream read from a child process's standard output (a `pipe:`
/// command, or the capture helper) or from this process's standard input.
/// libpcap reads it through file(); those reads also collect what the child
/// writes on its standard error stream, and end early (as an end of file) at
/// wake() or at the deadline.
class StreamSource {
public:
    StreamSource() = default;
    /// Ends the child (see finish).
    ~StreamSource();
    StreamSource(const StreamSource&) = delete;
    StreamSource& operator=(const StreamSource&) = delete;

    /// The descriptor a child started with a status channel writes its status on.
    static constexpr int kStatusFd = 3;

    /// Starts `argv` (argv[0] a path) in a process group of its own, its
    /// standard input /dev/null. False with the system's text in `error`.
    /// `statusChannel`: the child's status lines (the capture helper's) come
    /// on a pipe at kStatusFd; what it writes on its standard error stream is
    /// then no status but passed on as a warning. Otherwise they come on its
    /// standard error stream.
    bool spawn(const std::vector<QByteArray>& argv, QString* error, bool statusChannel = false);
    /// Reads this process's standard input instead.
    bool openStandardInput(QString* error);

    /// The stream for pcap_fopen_offline (which takes it over: pcap_close closes it).
    FILE* takeFile();

    /// Reads give up at `due` (none by default).
    void setDeadline(std::chrono::steady_clock::time_point due);
    void clearDeadline() { m_hasDeadline = false; }
    bool timedOut() const { return m_timedOut; }

    /// Waits for the helper's answer ("ok" or "fail ...", the first such line
    /// of its status) until `due`; false when none came (the child ended, or
    /// timeout). Other lines are no answer.
    bool waitFirstLine(std::chrono::steady_clock::time_point due, std::string* line);

    /// Makes a blocked read return an end of file. Safe from any thread.
    void wake();

    /// Ends the child and reaps it. `stopping`: at once (SIGTERM to the
    /// group); otherwise the child gets a moment to end by itself. What is
    /// left of the group afterwards is killed. Safe to call twice.
    void finish(bool stopping);

    /// Sends `signal` to the process group of every child not yet reaped.
    /// Async-signal-safe: a program's signal handler ends its commands so.
    static void signalChildGroups(int signal);

    /// The child's process group (its id); 0 without a child.
    pid_t processGroup() const { return m_pid; }
    /// After finish: how the child ended, e.g. "exit code 1" or "signal 15".
    QString exitText() const;
    bool exitedCleanly() const { return m_exitStatus == 0; }
    /// The child's last lines on its standard error stream (at most a few).
    QStringList lastLines() const;
    /// The value of the helper's latest "drops N" line.
    unsigned drops() const { return m_drops.load(std::memory_order_relaxed); }
    /// The text of the helper's "error TEXT" line, if any.
    QString helperError() const;

private:
    static ssize_t cookieRead(void* cookie, char* buffer, size_t size);
    ssize_t readData(char* buffer, size_t size);
    /// Reads what is ready on the child's text channels, waiting at most `timeoutMs`.
    void pollText(int timeoutMs);
    void readText(int* fd, std::string* partial, bool status);
    void takeLine(const std::string& line, bool status);
    void closeFds();

    pid_t m_pid = 0;
    int m_dataFd = -1;
    int m_auxFd = -1;
    int m_statusFd = -1;
    bool m_statusChannel = false; // the status has a pipe of its own
    int m_wake[2] = {-1, -1};
    bool m_hasDeadline = false;
    bool m_timedOut = false;
    std::chrono::steady_clock::time_point m_deadline;
    int m_exitStatus = -1;
    bool m_reaped = false;

    std::string m_partial; // a standard error line not yet ended
    std::string m_statusPartial;
    mutable std::mutex m_lock;
    std::vector<std::string> m_lines; // the last few lines
    std::string m_helperError;
    bool m_answered = false;
    std::string m_answer;
    std::atomic<unsigned> m_drops{0};
};

} // namespace qarsilo
