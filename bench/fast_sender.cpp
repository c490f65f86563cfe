#include "fast_sender.h"

#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace qarsilo::bench {

FastSender::FastSender(const char* device, int threads)
    : m_sent(std::make_unique<Counter[]>(static_cast<std::size_t>(std::max(1, threads)))) {
    m_ifindex = static_cast<int>(::if_nametoindex(device));
    if (m_ifindex == 0) {
        m_error = QStringLiteral("no device %1").arg(QString::fromLocal8Bit(device));
        return;
    }
    for (int i = 0; i < std::max(1, threads); ++i) {
        // Protocol 0: the socket sends only and never queues received frames.
        const int s = ::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 0);
        if (s < 0) {
            m_error = QString::fromLocal8Bit(std::strerror(errno));
            return;
        }
        m_sockets.push_back(s);
        // Straight to the driver: no queueing discipline and its lock shared
        // by the threads.
        const int one = 1;
        if (::setsockopt(s, SOL_PACKET, PACKET_QDISC_BYPASS, &one, sizeof one) != 0) {
            m_error = QStringLiteral("PACKET_QDISC_BYPASS: %1")
                          .arg(QString::fromLocal8Bit(std::strerror(errno)));
            return;
        }
        sockaddr_ll at{};
        at.sll_family = AF_PACKET;
        at.sll_ifindex = m_ifindex;
        if (::bind(s, reinterpret_cast<const sockaddr*>(&at), sizeof at) != 0) {
            m_error = QString::fromLocal8Bit(std::strerror(errno));
            return;
        }
    }
}

FastSender::~FastSender() {
    stop();
    for (int s : m_sockets)
        ::close(s);
}

std::vector<QByteArray> FastSender::padded(std::vector<QByteArray> frames, int size) {
    for (QByteArray& f : frames)
        if (f.size() < size)
            f.append(QByteArray(size - f.size(), '\0'));
    return frames;
}

void FastSender::start(std::vector<QByteArray> frames, long long perSecond, int batch) {
    stop();
    if (!ok() || frames.empty())
        return;
    m_frames = std::move(frames);
    m_refused.store(0);
    for (std::size_t i = 0; i < m_sockets.size(); ++i)
        m_sent[i].sent.store(0);
    m_running.store(true);
    const auto threads = static_cast<long long>(m_sockets.size());
    for (long long i = 0; i < threads; ++i) {
        // The rate split evenly, the remainder to the first threads.
        const long long share = perSecond / threads + (i < perSecond % threads ? 1 : 0);
        m_threads.emplace_back(&FastSender::run, this, static_cast<int>(i), share,
                               std::clamp(batch, 1, 1024));
    }
}

void FastSender::stop() {
    m_running.store(false);
    for (std::thread& t : m_threads)
        t.join();
    m_threads.clear();
}

long long FastSender::sent() const {
    long long n = 0;
    for (std::size_t i = 0; i < m_sockets.size(); ++i)
        n += m_sent[i].sent.load(std::memory_order_relaxed);
    return n;
}

void FastSender::run(int index, long long perSecond, int batch) {
    const int s = m_sockets[static_cast<std::size_t>(index)];
    Counter& counter = m_sent[static_cast<std::size_t>(index)];
    // Each thread starts elsewhere in the mix, so that together they send it
    // evenly from the first batch on.
    const std::size_t count = m_frames.size();
    std::size_t next = static_cast<std::size_t>(index) * count / m_sockets.size();
    std::vector<mmsghdr> msgs(static_cast<std::size_t>(batch));
    std::vector<iovec> iov(static_cast<std::size_t>(batch));
    using Clock = std::chrono::steady_clock;
    const auto begin = Clock::now();
    long long sent = 0;
    // A paced thread sends what is due every 100 microseconds at most, so a
    // low rate goes out in small batches instead of bursts.
    constexpr auto kStep = std::chrono::microseconds(100);
    while (m_running.load(std::memory_order_relaxed)) {
        long long want = batch;
        if (perSecond > 0) {
            const auto elapsed =
                std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - begin).count();
            // Counted from the start: a late wake-up catches up.
            const long long due = static_cast<long long>(static_cast<double>(perSecond) *
                                                         static_cast<double>(elapsed) / 1e9);
            want = std::min<long long>(batch, due - sent);
            if (want <= 0) {
                std::this_thread::sleep_for(kStep);
                continue;
            }
        }
        const int n = static_cast<int>(want);
        std::size_t k = next;
        for (int i = 0; i < n; ++i) {
            const QByteArray& f = m_frames[k];
            k = k + 1 == count ? 0 : k + 1;
            iov[static_cast<std::size_t>(i)] = {const_cast<char*>(f.constData()),
                                                static_cast<std::size_t>(f.size())};
            msgs[static_cast<std::size_t>(i)].msg_hdr = {};
            msgs[static_cast<std::size_t>(i)].msg_hdr.msg_iov = &iov[static_cast<std::size_t>(i)];
            msgs[static_cast<std::size_t>(i)].msg_hdr.msg_iovlen = 1;
        }
        const int done = ::sendmmsg(s, msgs.data(), static_cast<unsigned>(n), 0);
        if (done <= 0) {
            // The device refused (its peer's backlog is full): the same frames
            // go again, after a pause that lets the receiver catch up.
            m_refused.fetch_add(1, std::memory_order_relaxed);
            std::this_thread::yield();
            continue;
        }
        sent += done;
        next = (next + static_cast<std::size_t>(done)) % count;
        counter.sent.store(sent, std::memory_order_relaxed);
    }
}

} // namespace qarsilo::bench
