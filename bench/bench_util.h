#pragma once

// Small pieces the benchmarks that time whole tools share.

#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <pcap/pcap.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace qarsilo::bench {

using Clock = std::chrono::steady_clock;

inline double seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

inline double median(std::vector<double> v) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

/// The floor: read every frame and touch its bytes, nothing else. Prints the
/// frame count and a checksum; 0 on success.
inline int pcapLoop(const char* file) {
    char errbuf[PCAP_ERRBUF_SIZE];
    pcap_t* p = pcap_open_offline(file, errbuf);
    if (!p) {
        std::fprintf(stderr, "%s\n", errbuf);
        return 1;
    }
    pcap_pkthdr* h = nullptr;
    const u_char* bytes = nullptr;
    unsigned long long frames = 0, sum = 0;
    while (pcap_next_ex(p, &h, &bytes) == 1) {
        ++frames;
        sum += h->caplen ? bytes[h->caplen - 1] : 0;
    }
    pcap_close(p);
    std::printf("%llu %llu\n", frames, sum);
    return 0;
}

/// Wall time of a command with its output thrown away; -1 when it fails.
inline double timeCommand(const QString& program, const QStringList& args) {
    QProcess proc;
    proc.setStandardOutputFile(QProcess::nullDevice());
    proc.setStandardErrorFile(QProcess::nullDevice());
    const auto start = Clock::now();
    proc.start(program, args);
    if (!proc.waitForFinished(-1) || proc.exitCode() != 0) {
        std::fprintf(stderr, "failed: %s %s\n", qPrintable(program), qPrintable(args.join(u' ')));
        return -1;
    }
    return seconds(start);
}

/// The interface thread's longest wait while it runs: the largest gap between
/// the ticks of a 1 ms timer. Starts when made; stop() ends the measuring.
class StallMeter {
public:
    StallMeter() {
        m_clock.start();
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            if (m_last)
                m_longestMs = std::max(m_longestMs, double(now - m_last) / 1e6);
            m_last = now;
        });
        m_timer.start(1);
    }
    void stop() { m_timer.stop(); }
    double longestMs() const { return m_longestMs; }
    /// Milliseconds since the meter was made.
    qint64 elapsedMs() const { return m_clock.elapsed(); }

private:
    QElapsedTimer m_clock;
    QTimer m_timer;
    qint64 m_last = 0;
    double m_longestMs = 0;
};

} // namespace qarsilo::bench
