#include "support/live_net.h"

#include "support/run_process.h"

#include <QRegularExpression>
#include <QStandardPaths>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qarsilo::test {

namespace {

const QString kPrefix = QStringLiteral("qarsilo-test-");

QString findIpTool() {
    QString path = QStandardPaths::findExecutable(QStringLiteral("ip"));
    if (path.isEmpty())
        path = QStandardPaths::findExecutable(
            QStringLiteral("ip"), {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
    return path;
}

bool runTool(const QString& tool, const QStringList& args, QString* output) {
    const ProcessResult r = runProcess(tool, args, std::chrono::seconds(20));
    if (output)
        *output = QString::fromLocal8Bit(r.out + r.err).trimmed();
    return r.exited && r.exitCode == 0;
}

QStringList words(std::initializer_list<const char*> items) {
    QStringList out;
    for (const char* i : items)
        out << QString::fromLatin1(i);
    return out;
}

} // namespace

LiveNet::LiveNet(bool withIpv4) {
    if (::geteuid() != 0) {
        m_skip = QStringLiteral("live capture needs root: the test makes a network namespace "
                                "and a veth pair");
        return;
    }
    m_ipTool = findIpTool();
    if (m_ipTool.isEmpty()) {
        m_skip = QStringLiteral("the ip tool of iproute2 is not installed");
        return;
    }
    static std::atomic<int> serial{0};
    m_name = kPrefix + QString::number(::getpid()) + QLatin1Char('-') +
             QString::number(serial.fetch_add(1));
    QString out;
    if (!ip({QStringLiteral("netns"), QStringLiteral("add"), m_name}, &out)) {
        m_skip = QStringLiteral("ip netns is unavailable here: ") + out;
        return;
    }
    m_made = true;

    const QString ns = m_name;
    std::vector<QStringList> steps{
        QStringList{QStringLiteral("-n"), ns} +
            words({"link", "add", kCaptureEnd, "type", "veth", "peer", "name", kSendEnd}),
        // No IPv6 link-local addresses: the kernel then sends nothing of its own.
        QStringList{QStringLiteral("-n"), ns} +
            words({"link", "set", kCaptureEnd, "addrgenmode", "none"}),
        QStringList{QStringLiteral("-n"), ns} +
            words({"link", "set", kSendEnd, "addrgenmode", "none"}),
    };
    if (withIpv4)
        steps.push_back(QStringList{QStringLiteral("-n"), ns} +
                        words({"addr", "add", "10.211.0.1/24", "dev", kCaptureEnd}));
    steps.push_back(QStringList{QStringLiteral("-n"), ns} +
                    words({"link", "set", kCaptureEnd, "up"}));
    steps.push_back(QStringList{QStringLiteral("-n"), ns} + words({"link", "set", kSendEnd, "up"}));
    for (const QStringList& step : steps) {
        if (!ip(step, &out)) {
            m_error = QStringLiteral("ip %1: %2").arg(step.join(QLatin1Char(' ')), out);
            return;
        }
    }

    m_home = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    const QByteArray path = QStringLiteral("/run/netns/%1").arg(m_name).toLocal8Bit();
    const int target = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (m_home < 0 || target < 0 || ::setns(target, CLONE_NEWNET) != 0) {
        m_error = QStringLiteral("cannot enter the namespace: ") +
                  QString::fromLocal8Bit(std::strerror(errno));
        if (target >= 0)
            ::close(target);
        return;
    }
    ::close(target);
    m_entered = true;
    if (!waitRunning(kCaptureEnd) || !waitRunning(kSendEnd))
        m_error = QStringLiteral("the veth pair did not come up");
}

LiveNet::~LiveNet() {
    if (m_home >= 0) {
        if (m_entered)
            ::setns(m_home, CLONE_NEWNET);
        ::close(m_home);
    }
    if (m_made)
        ip({QStringLiteral("netns"), QStringLiteral("del"), m_name});
}

bool LiveNet::ip(const QStringList& args, QString* output) {
    return runTool(m_ipTool, args, output);
}

bool LiveNet::waitRunning(const char* device) {
    const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return false;
    bool running = false;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (!running && std::chrono::steady_clock::now() < end) {
        ifreq req{};
        std::strncpy(req.ifr_name, device, IFNAMSIZ - 1);
        running = ::ioctl(s, SIOCGIFFLAGS, &req) == 0 && (req.ifr_flags & IFF_RUNNING);
        if (!running)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ::close(s);
    return running;
}

bool LiveNet::removeCaptureEnd() {
    return ip(QStringList{QStringLiteral("-n"), m_name} + words({"link", "del", kCaptureEnd}));
}

void LiveNet::removeStale() {
    const QString tool = findIpTool();
    QString out;
    if (::geteuid() != 0 || tool.isEmpty() ||
        !runTool(tool, {QStringLiteral("netns"), QStringLiteral("list")}, &out))
        return;
    static const QRegularExpression name(QStringLiteral("^(qarsilo-test-(\\d+)-\\d+)"),
                                         QRegularExpression::MultilineOption);
    for (auto it = name.globalMatch(out); it.hasNext();) {
        const auto m = it.next();
        const pid_t pid = static_cast<pid_t>(m.captured(2).toLongLong());
        if (pid != ::getpid() && ::kill(pid, 0) != 0 && errno == ESRCH)
            runTool(tool, {QStringLiteral("netns"), QStringLiteral("del"), m.captured(1)}, nullptr);
    }
}

// ---------------------------------------------------------------------------

namespace {

void put16(QByteArray& f, int at, int value) {
    f[at] = static_cast<char>((value >> 8) & 0xff);
    f[at + 1] = static_cast<char>(value & 0xff);
}

void putBytes(QByteArray& f, int at, std::initializer_list<int> bytes) {
    for (int b : bytes)
        f[at++] = static_cast<char>(b);
}

} // namespace

QByteArray makeFrame(FrameKind kind) {
    QByteArray f(80, '\0');
    putBytes(f, 0, {0x02, 0x51, 0x51, 0xff, 0xff, 0x01});
    putBytes(f, 6, {0x02, 0x51, 0x51, 0x00, 0x00, static_cast<int>(kind)});
    switch (kind) {
    case FrameKind::Udp4Port5555:
    case FrameKind::Udp4Port6666:
    case FrameKind::Tcp4Port5555: {
        const bool tcp = kind == FrameKind::Tcp4Port5555;
        put16(f, 12, 0x0800);
        putBytes(f, 14, {0x45, 0x00});
        put16(f, 16, 80 - 14);
        putBytes(f, 22, {64, tcp ? 6 : 17});
        putBytes(f, 26, {10, 211, 0, 2, 10, 211, 0, 9});
        put16(f, 34, 40000);
        put16(f, 36, kind == FrameKind::Udp4Port6666 ? 6666 : 5555);
        if (tcp)
            putBytes(f, 46, {0x50, 0x02}); // header length 20, SYN
        else
            put16(f, 38, 80 - 34);
        break;
    }
    case FrameKind::Udp6Port5555:
        f.resize(90);
        put16(f, 12, 0x86dd);
        putBytes(f, 14, {0x60});
        put16(f, 18, 90 - 54);
        putBytes(f, 20, {17, 64});
        putBytes(f, 22, {0xfd, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2});
        putBytes(f, 38, {0xfd, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 9});
        put16(f, 54, 40000);
        put16(f, 56, 5555);
        put16(f, 58, 90 - 54);
        break;
    case FrameKind::Arp:
        f.resize(60);
        put16(f, 12, 0x0806);
        putBytes(f, 14, {0, 1, 0x08, 0x00, 6, 4, 0, 1});
        putBytes(f, 22, {0x02, 0x51, 0x51, 0x00, 0x00, 0x04, 10, 211, 0, 2});
        putBytes(f, 38, {10, 211, 0, 9});
        break;
    }
    return f;
}

int frameKind(const std::uint8_t* bytes, std::uint32_t caplen) {
    static constexpr std::uint8_t prefix[5] = {0x02, 0x51, 0x51, 0x00, 0x00};
    if (caplen < 12 || std::memcmp(bytes + 6, prefix, sizeof prefix) != 0)
        return 0;
    return bytes[11] >= 1 && bytes[11] <= kFrameKinds ? bytes[11] : 0;
}

FrameSender::FrameSender() {
    m_ifindex = static_cast<int>(::if_nametoindex(LiveNet::kSendEnd));
    // Protocol 0: the socket sends only and never queues received frames.
    m_socket = ::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 0);
    if (m_socket < 0 || m_ifindex == 0) {
        m_error = QString::fromLocal8Bit(std::strerror(errno));
        if (m_socket >= 0)
            ::close(m_socket);
        m_socket = -1;
    }
}

FrameSender::~FrameSender() {
    stopStream();
    if (m_socket >= 0)
        ::close(m_socket);
}

int FrameSender::send(const std::vector<QByteArray>& frames) {
    sockaddr_ll to{};
    to.sll_family = AF_PACKET;
    to.sll_ifindex = m_ifindex;
    to.sll_halen = ETH_ALEN;
    int sent = 0;
    for (const QByteArray& f : frames) {
        std::memcpy(to.sll_addr, f.constData(), ETH_ALEN);
        if (::sendto(m_socket, f.constData(), static_cast<std::size_t>(f.size()), 0,
                     reinterpret_cast<const sockaddr*>(&to), sizeof to) == f.size())
            ++sent;
    }
    return sent;
}

void FrameSender::startStream(std::vector<QByteArray> frames, int perSecond) {
    stopStream();
    m_streamed.store(0);
    m_streaming.store(true);
    m_thread = std::thread([this, frames = std::move(frames), perSecond] {
        constexpr int kBatch = 64;
        sockaddr_ll to{};
        to.sll_family = AF_PACKET;
        to.sll_ifindex = m_ifindex;
        to.sll_halen = ETH_ALEN;
        std::memcpy(to.sll_addr, frames.front().constData(), ETH_ALEN);
        mmsghdr msgs[kBatch]{};
        iovec iov[kBatch]{};
        const auto start = std::chrono::steady_clock::now();
        long long due = 0; // frames due so far
        std::size_t next = 0;
        for (long long tick = 1; m_streaming.load(std::memory_order_relaxed); ++tick) {
            // One round per millisecond; frames due are counted from the start,
            // so a late wake-up catches up instead of lowering the rate.
            due = tick * perSecond / 1000;
            long long sent = m_streamed.load(std::memory_order_relaxed);
            // A rate beyond what the machine sends is never caught up with:
            // stopping is looked at between batches too.
            while (sent < due && m_streaming.load(std::memory_order_relaxed)) {
                const int n = static_cast<int>(std::min<long long>(kBatch, due - sent));
                // A short send leaves frames for the next batch, in order.
                next = static_cast<std::size_t>(sent % static_cast<long long>(frames.size()));
                for (int i = 0; i < n; ++i) {
                    const QByteArray& f = frames[next];
                    next = (next + 1) % frames.size();
                    iov[i].iov_base = const_cast<char*>(f.constData());
                    iov[i].iov_len = static_cast<std::size_t>(f.size());
                    msgs[i].msg_hdr = {};
                    msgs[i].msg_hdr.msg_name = &to;
                    msgs[i].msg_hdr.msg_namelen = sizeof to;
                    msgs[i].msg_hdr.msg_iov = &iov[i];
                    msgs[i].msg_hdr.msg_iovlen = 1;
                }
                const int done = ::sendmmsg(m_socket, msgs, static_cast<unsigned>(n), 0);
                if (done <= 0)
                    break; // the queue is full: try again next round
                sent += done;
                m_streamed.store(sent, std::memory_order_relaxed);
            }
            std::this_thread::sleep_until(start + std::chrono::milliseconds(tick));
        }
    });
}

void FrameSender::stopStream() {
    m_streaming.store(false);
    if (m_thread.joinable())
        m_thread.join();
}

} // namespace qarsilo::test
