#include "cli/cli_commands.h"
#include "cli/session_wait.h"

#include "core/capture/adapter_name.h"
#include "core/capture/capture_session.h"
#include "core/capture/native_path.h"
#include "core/stats/distribution_chart.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>

#include <pcap/pcap.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <cstdio>
#include <map>

using namespace qarsilo;

namespace {

constexpr const char* kUsage =
    "usage: qarsilo-cli chart VIEW SOURCE [--cumulative] [--pie] [--png DIR]\n"
    "  VIEW    size, network, ipv4, ipv6, app or v4v6\n"
    "  SOURCE  a capture file (pcap or pcapng); '-' reads a pcap stream from the standard\n"
    "          input, 'pipe:COMMAND' from a command (Ctrl+C ends a stream)\n"
    "  --cumulative  add up from the first second on, as with Cummulative Statistic\n"
    "  --pie         draw the pie chart instead of the bar chart (with --png)\n"
    "  --png DIR     also write each second's chart as DIR/VIEW-SECOND.png\n";

int fail(int code, const QString& message) {
    std::fprintf(stderr, "qarsilo-cli chart: %s\n", qPrintable(message));
    return code;
}

using Seconds = std::map<long long, DistributionChart::Bytes>;

// Reads the file through one of the window's captures (its filter, its
// snapshot length) as fast as possible, adding each frame's share to the
// second of its time stamp.
class SecondCounter {
public:
    SecondCounter(ChartKind kind, Seconds& seconds)
        : m_kind(kind)
        , m_seconds(seconds) {}

    CaptureStartResult run(const QString& adapter, int slot, LoopEnd& how, QString& error) {
        CaptureSession session(chartKindInfo(m_kind).window, slot);
        session.setFileReplay(FileReplay::AsFastAsPossible);
        session.setHandler([this, slot](const pcap_pkthdr& h, const std::uint8_t* bytes) {
            frame(slot, h, bytes);
        });
        SessionEndWait end(session, false);
        m_current = nullptr;
        const CaptureStartResult started = session.start(adapter);
        if (!started.ok())
            return started;
        end.wait();
        session.stop();
        how = session.loopEnd();
        error = session.loopError();
        return started;
    }

private:
    // Capture thread; the map is read only after the session has stopped. A
    // frame stamped earlier than the second its capture is in counts in that
    // second, as in the window (see FileSeconds).
    void frame(int slot, const pcap_pkthdr& h, const std::uint8_t* bytes) {
        const long long second = h.ts.tv_sec;
        if (!m_current || second > m_currentSecond) {
            m_current = &m_seconds[second];
            m_currentSecond = second;
        }
        const FrameShare share = chartFrameShare(m_kind, slot, h, bytes);
        for (int i = 0; i < share.count; ++i)
            (*m_current)[share.category[static_cast<std::size_t>(i)]] += share.bytes;
    }

    ChartKind m_kind;
    Seconds& m_seconds;
    DistributionChart::Bytes* m_current = nullptr;
    long long m_currentSecond = 0;
};

// A stream can be read once only, and each of the window's captures reads
// the frames in turn: the stream is first kept in a capture file. The file
// has no name in the temporary folder (or loses it at once), so nothing is
// left behind however the command ends; it is read back through its
// descriptor.
class StreamCopy {
public:
    StreamCopy() = default;
    ~StreamCopy() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    StreamCopy(const StreamCopy&) = delete;
    StreamCopy& operator=(const StreamCopy&) = delete;

    bool open(QString& error) {
        // As named: Qt gives no path for a folder that does not exist.
        m_folder = qEnvironmentVariable("TMPDIR");
        if (m_folder.isEmpty())
            m_folder = QDir::tempPath();
        const QByteArray folder = nativeFileName(m_folder);
        m_fd = ::open(folder.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        if (m_fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR)) {
            // A file system without nameless files: a name for a moment.
            QByteArray name = folder + "/qarsilo-chart-XXXXXX";
            m_fd = ::mkostemp(name.data(), O_CLOEXEC);
            if (m_fd >= 0)
                ::unlink(name.constData());
        }
        if (m_fd < 0) {
            error = failure(errno);
            return false;
        }
        return true;
    }
    /// A new stream to write the copy with (the caller closes it).
    FILE* writer() const {
        const int fd = ::fcntl(m_fd, F_DUPFD_CLOEXEC, 3);
        FILE* file = fd >= 0 ? ::fdopen(fd, "wb") : nullptr;
        if (!file && fd >= 0)
            ::close(fd);
        return file;
    }
    /// A name that opens the copy afresh, from its start.
    QString path() const { return QStringLiteral("/proc/self/fd/%1").arg(m_fd); }
    QString failure(int error) const {
        return QStringLiteral("cannot write the temporary copy of the stream in '%1': %2")
            .arg(m_folder, QString::fromLocal8Bit(std::strerror(error)));
    }

private:
    QString m_folder;
    int m_fd = -1;
};

// Reads until the stream ends or the command is interrupted. False when
// there is no copy to read (`error` says why); a stream cut short keeps what
// came before the cut, and `readError` says how it ended.
bool keepStream(const QString& stream, const StreamCopy& copy, QString& error, QString& readError) {
    CaptureSession session(CaptureWindow::CommandLine);
    session.setFileReplay(FileReplay::AsFastAsPossible);
    session.setStreamHeaderInStart(true);
    pcap_t* dead = nullptr;
    pcap_dumper_t* dumper = nullptr;
    int copyError = 0;
    const auto open = [&] {
        if (dead || copyError)
            return;
        // Frames come as long as the capture's snapshot length lets them:
        // the file takes any length.
        dead = pcap_open_dead(session.linkType(), 262144);
        FILE* file = dead ? copy.writer() : nullptr;
        dumper = file ? pcap_dump_fopen(dead, file) : nullptr;
        if (!dumper) {
            copyError = errno ? errno : ENOMEM;
            if (file)
                std::fclose(file);
        }
    };
    // Capture thread; the dumper is used by this thread only until the end.
    session.setHandler([&](const pcap_pkthdr& h, const std::uint8_t* bytes) {
        errno = 0;
        open();
        if (!dumper || copyError)
            return;
        pcap_dump(reinterpret_cast<u_char*>(dumper), &h, bytes);
        if (std::ferror(pcap_dump_file(dumper)))
            copyError = errno ? errno : EIO;
    });
    SessionEndWait end(session, true);
    const CaptureStartResult started = session.start(stream);
    if (!started.ok()) {
        error = QStringLiteral("cannot read '%1': %2").arg(stream, started.error);
        return false;
    }
    end.wait();
    session.stop();
    end.release();
    errno = 0;
    open(); // a stream of no frames is an empty file
    if (dumper && !copyError && pcap_dump_flush(dumper) != 0)
        copyError = errno ? errno : EIO;
    if (dumper)
        pcap_dump_close(dumper);
    if (dead)
        pcap_close(dead);
    if (copyError) {
        error = copy.failure(copyError);
        return false;
    }
    if (session.loopEnd() == LoopEnd::Error)
        readError = QStringLiteral("reading '%1' failed: %2").arg(stream, session.loopError());
    return true;
}

} // namespace

// The chart window's picture for every second of a capture file's time stamps:
// the second, then per category the bar chart's row name and label, tab
// separated, and an empty line. A second whose frames add nothing shows the
// picture before it, as the window does.
int runChart(const QStringList& args) {
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return fail(1, QStringLiteral("drawing needs a GUI application object"));
    QString viewName;
    QString source;
    QString pngDir;
    bool cumulative = false;
    bool pie = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--cumulative")) {
            cumulative = true;
        } else if (a == QLatin1String("--pie")) {
            pie = true;
        } else if (a == QLatin1String("--png")) {
            if (i + 1 >= args.size()) {
                std::fprintf(stderr, "qarsilo-cli chart: --png needs a folder\n%s", kUsage);
                return 2;
            }
            pngDir = args[++i];
        } else if (a.startsWith(QLatin1String("--png="))) {
            pngDir = a.mid(6);
        } else if (a.startsWith(QLatin1String("--")) || !source.isEmpty()) {
            std::fprintf(stderr, "qarsilo-cli chart: unexpected argument '%s'\n%s", qPrintable(a),
                         kUsage);
            return 2;
        } else if (viewName.isEmpty()) {
            viewName = a;
        } else {
            source = a;
        }
    }
    if (source.isEmpty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const std::optional<ChartKind> kind = chartKindFromName(viewName);
    if (!kind) {
        std::fprintf(stderr, "qarsilo-cli chart: unknown view '%s'\n%s", qPrintable(viewName),
                     kUsage);
        return 2;
    }
    if (!pngDir.isEmpty() && !QDir().mkpath(pngDir))
        return fail(1, QStringLiteral("cannot make the folder '%1'").arg(pngDir));
    const AdapterName picked = fileOrStreamSource(source);
    const bool stream = picked.isStream();
    QString adapter = adapterNameText(picked);
    // A file is named by its path, a stream as given.
    const QString name = stream ? source : captureFilePath(adapter);
    StreamCopy copy;
    // A source cut short: its seconds so far are written, then why.
    QString readError;
    if (stream) {
        QString error;
        if (!copy.open(error) || !keepStream(source, copy, error, readError))
            return fail(1, error);
        adapter = captureFileAdapterName(copy.path());
    }

    // Each capture of the window reads the file in turn: the seconds come out
    // the same however the threads would have interleaved.
    const ChartKindInfo& info = chartKindInfo(*kind);
    Seconds seconds;
    SecondCounter counter(*kind, seconds);
    for (int slot = 0; slot < captureWindowParams(info.window).sessions; ++slot) {
        LoopEnd how = LoopEnd::Running;
        QString error;
        const CaptureStartResult started = counter.run(adapter, slot, how, error);
        if (!started.ok())
            return fail(1, QStringLiteral("cannot read '%1': %2").arg(name, started.error));
        if (how == LoopEnd::Error && readError.isEmpty())
            readError = QStringLiteral("reading '%1' failed: %2").arg(name, error);
    }
    DistributionChart chart(*kind);
    chart.setActiveType(pie ? CChartWnd::kPieChart : CChartWnd::kBarChart);
    const QDir out(pngDir);
    for (const auto& [second, bytes] : seconds) {
        chart.show(bytes, cumulative);
        std::printf("%lld\n", second);
        for (int i = 0; i < chart.categoryCount(); ++i)
            std::printf("%s\t%s\n", qPrintable(chart.rowName(i)), qPrintable(chart.rowLabel(i)));
        std::printf("\n");
        if (!pngDir.isEmpty()) {
            const QString file = out.filePath(
                QStringLiteral("%1-%2.png").arg(QLatin1String(info.cliName)).arg(second));
            if (!chart.render(kChartViewSize).save(file, "PNG"))
                return fail(1, QStringLiteral("cannot write '%1'").arg(file));
        }
    }
    if (std::fflush(stdout) != 0) {
        rememberOutputError();
        return 1; // finishOutput says why
    }
    return readError.isEmpty() ? 0 : fail(1, readError);
}

// The chart command draws: it runs under a GUI application object (on the
// offscreen platform unless another is asked for), which must exist before
// anything else of Qt.
int chartMain(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("qarsilo"));
    QCoreApplication::setApplicationName(QStringLiteral("qarsilo"));
    // The application object took its own options out of argv.
    return runChart(commandArguments(argc, argv, 2));
}
