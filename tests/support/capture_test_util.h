#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <pcap/pcap.h>

#include <chrono>
#include <cstdio>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace qarsilo::test {

/// One frame of a capture written by a test: time stamp in microseconds and bytes.
struct TestFrame {
    long long stampUs;
    QByteArray bytes;
};

/// Writes a classic pcap file. Returns false when libpcap cannot write it.
inline bool writeCapture(const QString& path, int linkType, const std::vector<TestFrame>& frames) {
    pcap_t* dead = pcap_open_dead(linkType, 262144);
    if (!dead)
        return false;
    pcap_dumper_t* out = pcap_dump_open(dead, QFile::encodeName(path).constData());
    if (!out) {
        pcap_close(dead);
        return false;
    }
    for (const TestFrame& f : frames) {
        pcap_pkthdr h{};
        h.ts.tv_sec = static_cast<time_t>(f.stampUs / 1'000'000);
        h.ts.tv_usec = static_cast<suseconds_t>(f.stampUs % 1'000'000);
        h.caplen = h.len = static_cast<bpf_u_int32>(f.bytes.size());
        pcap_dump(reinterpret_cast<u_char*>(out), &h,
                  reinterpret_cast<const u_char*>(f.bytes.constData()));
    }
    pcap_dump_close(out);
    pcap_close(dead);
    return true;
}

/// Writes a pcapng file of Ethernet frames with 64-bit microsecond stamps
/// (classic pcap cannot hold stamps beyond 2^32 seconds).
inline bool writePcapng(const QString& path,
                        const std::vector<std::pair<quint64, QByteArray>>& frames) {
    QByteArray out;
    const auto u32 = [&out](quint32 v) { out.append(reinterpret_cast<const char*>(&v), 4); };
    const auto u16 = [&out](quint16 v) { out.append(reinterpret_cast<const char*>(&v), 2); };
    u32(0x0A0D0D0A), u32(28), u32(0x1A2B3C4D), u16(1), u16(0), u32(0xFFFFFFFF), u32(0xFFFFFFFF),
        u32(28);                                                    // section header
    u32(1), u32(20), u16(DLT_EN10MB), u16(0), u32(262144), u32(20); // interface, microseconds
    for (const auto& [stamp, bytes] : frames) {
        const auto padded = static_cast<quint32>((bytes.size() + 3) / 4 * 4);
        u32(6), u32(32 + padded), u32(0), u32(static_cast<quint32>(stamp >> 32)),
            u32(static_cast<quint32>(stamp)), u32(static_cast<quint32>(bytes.size())),
            u32(static_cast<quint32>(bytes.size()));
        out.append(bytes);
        out.append(QByteArray(padded - bytes.size(), '\0'));
        u32(32 + padded);
    }
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(out) == out.size();
}

/// Catches what is written to the standard error stream (file descriptor 2)
/// between construction and take().
class StderrCapture {
public:
    StderrCapture() {
        std::fflush(stderr);
        m_file = std::tmpfile();
        m_saved = ::dup(2);
        if (m_file && m_saved >= 0)
            ::dup2(::fileno(m_file), 2);
    }
    ~StderrCapture() { take(); }
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;

    QByteArray take() {
        if (m_saved < 0 || !m_file)
            return m_text;
        std::fflush(stderr);
        ::dup2(m_saved, 2);
        ::close(m_saved);
        m_saved = -1;
        std::rewind(m_file);
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, m_file)) > 0)
            m_text.append(buffer, static_cast<qsizetype>(n));
        std::fclose(m_file);
        m_file = nullptr;
        return m_text;
    }

private:
    std::FILE* m_file = nullptr;
    int m_saved = -1;
    QByteArray m_text;
};

/// Open file descriptors of this process.
inline int openFdCount() {
    return static_cast<int>(
        QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size());
}

/// Threads of this process.
inline int threadCount() {
    return static_cast<int>(QDir(QStringLiteral("/proc/self/task"))
                                .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
                                .size());
}

/// A joined thread leaves /proc a moment after its join returns: wait for the
/// count to come down to `expected` (at most `timeout`) and return the last count.
inline int settledThreadCount(int expected,
                              std::chrono::milliseconds timeout = std::chrono::milliseconds(2000)) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    int n = threadCount();
    while (n > expected && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        n = threadCount();
    }
    return n;
}

/// Milliseconds between two points of the steady clock.
inline double msBetween(std::chrono::steady_clock::time_point a,
                        std::chrono::steady_clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

} // namespace qarsilo::test
