#pragma once

#include <cstdio>
#include <memory>

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

namespace qarsilo::test {

/// A private network namespace holding a veth pair, made for one test and
/// removed with it (also when the test fails). While it lives, the thread that
/// made it works inside the namespace: devices it opens are the pair's ends,
/// and threads it starts begin there too. Nothing it sends leaves the pair.
class LiveNet {
public:
    /// The end the tests capture on, and the end frames are sent from.
    static constexpr const char* kCaptureEnd = "qv0";
    static constexpr const char* kSendEnd = "qv1";

    /// `withIpv4`: give the capture end an IPv4 address (10.211.0.1/24) so the
    /// adapter's netmask can be looked up.
    explicit LiveNet(bool withIpv4 = true);
    ~LiveNet();
    LiveNet(const LiveNet&) = delete;
    LiveNet& operator=(const LiveNet&) = delete;

    /// Made and entered.
    bool ok() const { return m_entered; }
    /// Why not: set when the machine cannot run live tests (not root, no
    /// iproute2, no namespaces); such tests are skipped.
    QString skipReason() const { return m_skip; }
    /// Set when making the namespace failed for another reason.
    QString error() const { return m_error; }

    /// Deletes the capture end (as a pulled adapter would vanish).
    bool removeCaptureEnd();

    /// Namespaces left behind by test processes that no longer run.
    static void removeStale();

private:
    bool ip(const QStringList& args, QString* output = nullptr);
    bool waitRunning(const char* device);

    QString m_ipTool;
    QString m_name;
    bool m_made = false;
    int m_home = -1; // the namespace this thread came from
    bool m_entered = false;
    QString m_skip;
    QString m_error;
};

/// Ethernet frames of a few kinds, told apart by the last byte of the source
/// address (02:51:51:00:00:kind).
enum class FrameKind : std::uint8_t {
    Udp4Port5555 = 1,
    Udp4Port6666 = 2,
    Udp6Port5555 = 3,
    Arp = 4,
    Tcp4Port5555 = 5,
};
inline constexpr int kFrameKinds = 5;
QByteArray makeFrame(FrameKind kind);
/// The kind of a frame made by makeFrame, or 0 for any other frame.
int frameKind(const std::uint8_t* bytes, std::uint32_t caplen);

/// Sends frames on the sending end of a LiveNet. Made inside the namespace.
class FrameSender {
public:
    FrameSender();
    ~FrameSender();
    FrameSender(const FrameSender&) = delete;
    FrameSender& operator=(const FrameSender&) = delete;

    bool ok() const { return m_socket >= 0; }
    QString error() const { return m_error; }

    /// Sends each frame once, now. Returns the number sent.
    int send(const std::vector<QByteArray>& frames);
    /// Sends `frames` round after round at `perSecond` frames per second on a
    /// thread of its own until stopStream().
    void startStream(std::vector<QByteArray> frames, int perSecond);
    void stopStream();
    long long streamed() const { return m_streamed.load(); }

private:
    int m_socket = -1;
    int m_ifindex = 0;
    QString m_error;
    std::thread m_thread;
    std::atomic<bool> m_streaming{false};
    std::atomic<long long> m_streamed{0};
};

/// For benchmarks: a sender on `net`, or null with the reason on the standard
/// error stream.
inline std::unique_ptr<FrameSender> senderFor(const LiveNet& net) {
    if (!net.ok()) {
        std::fprintf(stderr, "cannot make the test network: %s%s\n", qPrintable(net.skipReason()),
                     qPrintable(net.error()));
        return nullptr;
    }
    auto sender = std::make_unique<FrameSender>();
    if (!sender->ok()) {
        std::fprintf(stderr, "cannot send: %s\n", qPrintable(sender->error()));
        return nullptr;
    }
    return sender;
}

} // namespace qarsilo::test
