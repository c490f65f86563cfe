#pragma once

// A load generator for the live benchmarks: several threads, each with a
// packet socket of its own that skips the queueing layer, sending frames in
// batches of sendmmsg at a set rate or as fast as the machine goes. Made
// inside a test network namespace (support/live_net.h) on the thread that
// entered it: its threads start there, and its sockets send on that
// namespace's device only.

#include <QByteArray>
#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

namespace qarsilo::bench {

class FastSender {
public:
    /// `device`: the sending end; `threads` sockets and threads (1 or more).
    FastSender(const char* device, int threads);
    ~FastSender();
    FastSender(const FastSender&) = delete;
    FastSender& operator=(const FastSender&) = delete;

    bool ok() const { return m_error.isEmpty(); }
    QString error() const { return m_error; }
    int threads() const { return static_cast<int>(m_sockets.size()); }

    /// Sends `frames` round after round until stop(), `perSecond` frames a
    /// second in all (0: as fast as possible), in batches of up to `batch`.
    void start(std::vector<QByteArray> frames, long long perSecond, int batch = 64);
    void stop();
    /// Frames the sockets took so far.
    long long sent() const;
    /// Batches refused as a whole (the device's queue full); their frames
    /// were sent again later, not counted twice.
    long long refused() const { return m_refused.load(std::memory_order_relaxed); }

    /// `frames`, each padded with zeros to at least `size` bytes (an
    /// Ethernet trailer: the headers inside keep their own lengths).
    static std::vector<QByteArray> padded(std::vector<QByteArray> frames, int size);

private:
    struct alignas(64) Counter {
        std::atomic<long long> sent{0};
    };
    void run(int index, long long perSecond, int batch);

    int m_ifindex = 0;
    std::vector<int> m_sockets;
    std::vector<QByteArray> m_frames;
    std::unique_ptr<Counter[]> m_sent;
    std::vector<std::thread> m_threads;
    std::atomic<bool> m_running{false};
    std::atomic<long long> m_refused{0};
    QString m_error;
};

} // namespace qarsilo::bench
