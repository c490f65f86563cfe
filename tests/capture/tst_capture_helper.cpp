// The capture helper's defences, each checked on the built qarsilo-capture in
// a network namespace with a veth pair. Needs root; skipped elsewhere.

#include "core/capture/capture_session.h"
#include "support/live_net.h"
#include "support/scripted_message_service.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

using namespace qarsilo;
using namespace qarsilo::test;
using Clock = std::chrono::steady_clock;

namespace {

enum class Check {
    Refused,        ///< the first status line matches `expected`; nothing was activated
    EndsWithParent, ///< gone soon after its parent was killed
    NoRights,       ///< no capability left once "ok" is sent
    NoEnvironment,  ///< the environment it was given is gone
    FilterWarning,  ///< libpcap's warning on a large filter fails no capture
};

const QString kHelper = QStringLiteral(QARSILO_CAPTURE_HELPER_PATH);
const QString kDevice = QString::fromLatin1(LiveNet::kCaptureEnd);
const QByteArray kBusVariable = "DBUS_SESSION_BUS_ADDRESS";

// `count` host terms, none of them the test's addresses: unoptimised, far
// more instructions than the kernel takes for a socket filter.
QString hostTerms(int count) {
    QStringList terms;
    for (int i = 0; i < count; ++i)
        terms << QStringLiteral("host 10.99.%1.%2").arg(i / 250).arg(i % 250 + 1);
    return terms.join(QStringLiteral(" or "));
}

// A line from `fd` (without its end) within `timeout`; empty at an end or timeout.
QByteArray readLine(int fd, std::chrono::milliseconds timeout) {
    QByteArray line;
    const auto due = Clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(due - Clock::now());
        pollfd p{fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0)
            return {};
        char c = 0;
        if (::read(fd, &c, 1) != 1)
            return {};
        if (c == '\n')
            return line;
        line += c;
    }
}

// A child started by fork and exec with an environment of ours added; its
// standard output goes to /dev/null unless `outPipe`.
struct Child {
    pid_t pid = -1;
    int out = -1; // its standard output, when asked for
    int err = -1; // its standard error stream

    Child(const QStringList& argv, const QList<QByteArray>& extraEnv, bool outPipe) {
        std::vector<QByteArray> args;
        for (const QString& a : argv)
            args.push_back(QFile::encodeName(a));
        std::vector<char*> argp;
        for (QByteArray& a : args)
            argp.push_back(a.data());
        argp.push_back(nullptr);
        QList<QByteArray> env = extraEnv;
        for (char** e = environ; *e; ++e)
            env << QByteArray(*e);
        std::vector<char*> envp;
        for (QByteArray& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);

        int o[2] = {-1, -1};
        int e[2];
        if (::pipe2(e, O_CLOEXEC) != 0 || (outPipe && ::pipe2(o, O_CLOEXEC) != 0))
            return;
        pid = ::fork();
        if (pid == 0) {
            const int devNull = ::open("/dev/null", O_RDWR);
            ::dup2(devNull, 0);
            ::dup2(outPipe ? o[1] : devNull, 1);
            ::dup2(e[1], 2);
            ::execve(argp[0], argp.data(), envp.data());
            ::_exit(127);
        }
        ::close(e[1]);
        err = e[0];
        if (outPipe) {
            ::close(o[1]);
            out = o[0];
        }
    }
    ~Child() {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        for (int fd : {out, err})
            if (fd >= 0)
                ::close(fd);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
};

// Waits up to `timeout` for `pid` (a child of this process) to end.
bool ended(pid_t pid, std::chrono::milliseconds timeout) {
    const auto due = Clock::now() + timeout;
    while (Clock::now() < due) {
        if (::waitpid(pid, nullptr, WNOHANG) == pid)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

QByteArray procFile(pid_t pid, const char* name) {
    QFile f(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(name)));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A listening socket that stands for a message bus: nobody may connect to it.
struct FakeBus {
    int fd = -1;
    QByteArray address;

    explicit FakeBus(const QString& dir) {
        const QByteArray path = QFile::encodeName(dir + QStringLiteral("/bus"));
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        if (static_cast<std::size_t>(path.size()) >= sizeof addr.sun_path)
            return;
        std::memcpy(addr.sun_path, path.constData(), static_cast<std::size_t>(path.size()));
        fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::listen(fd, 4) != 0)
            return;
        address = "unix:path=" + path;
    }
    ~FakeBus() {
        if (fd >= 0)
            ::close(fd);
    }
    bool called() const {
        const int c = ::accept(fd, nullptr, nullptr);
        if (c >= 0)
            ::close(c);
        return c >= 0;
    }
};

} // namespace

Q_DECLARE_METATYPE(Check)

class TestCaptureHelper : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void helperDefences_data();
    void helperDefences();
};

void TestCaptureHelper::initTestCase() {
    LiveNet::removeStale();
}

void TestCaptureHelper::helperDefences_data() {
    QTest::addColumn<Check>("check");
    QTest::addColumn<QString>("device");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("expected"); // the first status line, a pattern

    const QString qv0 = kDevice;
    const auto refused = [qv0](const char* tag, const char* device, QStringList args,
                               const char* pattern) {
        QTest::newRow(tag) << Check::Refused << (device ? QString::fromLatin1(device) : qv0) << args
                           << QString::fromLatin1(pattern);
    };
    const QString ms = QStringLiteral("--timeout");
    refused("ring over 256 MiB", nullptr,
            {QStringLiteral("--buffer"), QStringLiteral("2000000000")},
            "^fail OpenFailed --buffer: 2000000000 .*268435456 bytes \\(256 MiB\\)$");
    refused("ring size not a number", nullptr, {QStringLiteral("--buffer"), QStringLiteral("4M")},
            "^fail OpenFailed --buffer: \"4M\" is not a whole number$");
    refused("negative snapshot length", nullptr,
            {QStringLiteral("--snaplen"), QStringLiteral("-1")},
            "^fail OpenFailed --snaplen: \"-1\" is not a whole number$");
    refused("timeout overflows", nullptr, {ms, QStringLiteral("4294967296050")},
            "^fail OpenFailed --timeout: 4294967296050 is out of range");
    refused("optimise not a number", nullptr, {QStringLiteral("--optimize"), QStringLiteral("yes")},
            "^fail OpenFailed --optimize: \"yes\" is not a whole number$");
    refused("filter over the bound", nullptr, {QStringLiteral("--filter"), hostTerms(500)},
            "^fail CompileFailed the filter is \\d+ bytes long; .* at most 8192$");
    // Refused by name: activating them would already join a log group or
    // connect to a bus (that of the environment, which the fake bus stands for).
    refused("nflog", "nflog", {}, "^fail NotEthernet 239$");
    refused("session bus monitor", "dbus-session", {}, "^fail NotEthernet 231$");
    refused("USB monitor", "usbmon1", {}, "^fail NotEthernet 220$");
    refused("Bluetooth monitor", "bluetooth-monitor", {}, "^fail NotEthernet 254$");

    QTest::newRow("ends with its killed parent")
        << Check::EndsWithParent << qv0 << QStringList() << QStringLiteral("^ok$");
    QTest::newRow("no capability once open")
        << Check::NoRights << qv0 << QStringList() << QStringLiteral("^ok$");
    QTest::newRow("environment dropped")
        << Check::NoEnvironment << qv0 << QStringList() << QStringLiteral("^ok$");
    QTest::newRow("kernel filter warning is no failure")
        << Check::FilterWarning << qv0 << QStringList{QStringLiteral("--filter"), hostTerms(300)}
        << QString();
}

void TestCaptureHelper::helperDefences() {
    QFETCH(Check, check);
    QFETCH(QString, device);
    QFETCH(QStringList, args);
    QFETCH(QString, expected);
    LiveNet net;
    if (!net.skipReason().isEmpty())
        QSKIP(qPrintable(net.skipReason()));
    QVERIFY2(net.ok(), qPrintable(net.error()));
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    FakeBus bus(dir.path());
    QVERIFY2(!bus.address.isEmpty(), "cannot make the fake bus socket");
    const QList<QByteArray> env{kBusVariable + "=" + bus.address};
    const QStringList helperArgs = QStringList{kHelper, QStringLiteral("--device"), device} + args;
    const QRegularExpression pattern(expected);

    switch (check) {
    case Check::Refused: {
        Child helper(helperArgs, env, false);
        QVERIFY(helper.pid > 0);
        const QByteArray line = readLine(helper.err, std::chrono::seconds(5));
        QVERIFY2(pattern.match(QString::fromLocal8Bit(line)).hasMatch(), line.constData());
        QVERIFY(ended(helper.pid, std::chrono::seconds(2)));
        helper.pid = -1;
        QVERIFY(!bus.called());
        break;
    }
    case Check::EndsWithParent: {
        // Orphans come to this process, which can then wait for the helper.
        QCOMPARE(::prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0), 0);
        struct Unreap {
            ~Unreap() { ::prctl(PR_SET_CHILD_SUBREAPER, 0, 0, 0, 0); }
        } unreap;
        Child shell(QStringList{QStringLiteral("/bin/sh"), QStringLiteral("-c"),
                                QStringLiteral("\"$0\" \"$@\" >/dev/null & echo $!; wait")} +
                        helperArgs,
                    env, true);
        QVERIFY(shell.pid > 0);
        const pid_t helper = readLine(shell.out, std::chrono::seconds(5)).toInt();
        QVERIFY(helper > 0);
        const QByteArray line = readLine(shell.err, std::chrono::seconds(5));
        QVERIFY2(pattern.match(QString::fromLocal8Bit(line)).hasMatch(), line.constData());
        QCOMPARE(::kill(shell.pid, SIGKILL), 0);
        QVERIFY(ended(shell.pid, std::chrono::seconds(2)));
        shell.pid = -1;
        const bool gone = ended(helper, std::chrono::milliseconds(1500));
        if (!gone) {
            ::kill(helper, SIGKILL);
            ::waitpid(helper, nullptr, 0);
        }
        QVERIFY2(gone, "the helper outlived its parent by 1.5 s");
        break;
    }
    case Check::NoRights:
    case Check::NoEnvironment: {
        Child helper(helperArgs, env, false);
        QVERIFY(helper.pid > 0);
        const QByteArray line = readLine(helper.err, std::chrono::seconds(5));
        QVERIFY2(pattern.match(QString::fromLocal8Bit(line)).hasMatch(), line.constData());
        if (check == Check::NoRights) {
            // Started by root it had every capability; after the open it holds none.
            const QByteArray status = procFile(helper.pid, "status");
            for (const char* set : {"CapInh", "CapPrm", "CapEff", "CapAmb"}) {
                const QRegularExpression zero(QStringLiteral("^%1:\\s+0+$").arg(QLatin1String(set)),
                                              QRegularExpression::MultilineOption);
                QVERIFY2(zero.match(QString::fromLatin1(status)).hasMatch(), set);
            }
        } else {
            const QByteArray environment = procFile(helper.pid, "environ");
            QVERIFY(!environment.contains(kBusVariable));
            QVERIFY(!environment.contains(bus.address));
        }
        break;
    }
    case Check::FilterWarning: {
        // A window's start: libpcap warns that the kernel refused the filter
        // (it then filters in the helper), and the capture goes on.
        CaptureSession::setCaptureHelper(kHelper);
        struct Unset {
            ~Unset() { CaptureSession::setCaptureHelper({}); }
        } unset;
        ScriptedMessageService messages;
        std::atomic<int> admitted{0};
        std::atomic<int> others{0};
        CaptureSession session(CaptureWindow::CaptureDecodeView);
        session.setHandler([&](const pcap_pkthdr& h, const std::uint8_t* bytes) {
            (frameKind(bytes, h.caplen) == static_cast<int>(FrameKind::Udp4Port5555) ? admitted
                                                                                     : others)
                .fetch_add(1);
        });
        session.setFilter(QStringLiteral("udp port 5555 and ip and not (") + args.last() +
                          QStringLiteral(")"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("filter failed")));
        const CaptureStartResult r = session.start(kDevice);
        QVERIFY2(r.ok(), qPrintable(r.error));
        FrameSender sender;
        QVERIFY2(sender.ok(), qPrintable(sender.error()));
        QCOMPARE(sender.send({makeFrame(FrameKind::Udp4Port5555), makeFrame(FrameKind::Arp),
                              makeFrame(FrameKind::Udp4Port5555)}),
                 3);
        QTRY_COMPARE_WITH_TIMEOUT(admitted.load(), 2, 5000);
        session.stop();
        QCOMPARE(others.load(), 0);
        QVERIFY(messages.shown().isEmpty());
        break;
    }
    }
}

QTEST_GUILESS_MAIN(TestCaptureHelper)
#include "tst_capture_helper.moc"
