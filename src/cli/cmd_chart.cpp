#include "cli/cli_commands.h"
#include "cli/session_wait.h"

#include "core/capture/adapter_name.h"
#include "core/capture/capture_session.h"
#include "core/capture/native_path.h"
#include "core/stats/chart_file_reader.h"
#include "core/stats/distribution_chart.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>

#include <pcap/pcap.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <array>
#include <cstdio>
#include <string>

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

    const ChartKindInfo& info = chartKindInfo(*kind);
    DistributionChart chart(*kind);
    chart.setActiveType(pie ? CChartWnd::kPieChart : CChartWnd::kBarChart);
    const QDir out(pngDir);
    QString drawError;
    // The rows' names, in the encoding the labels are written in, once.
    std::array<std::string, kMaxChartCategories> rowNames;
    for (int i = 0; i < chart.categoryCount(); ++i)
        rowNames[static_cast<std::size_t>(i)] = chart.rowName(i).toLocal8Bit().toStdString();
    std::string text;
    const auto draw = [&](long long second, const DistributionChart::Bytes& bytes) {
        if (pngDir.isEmpty())
            chart.showLabels(bytes, cumulative);
        else
            chart.show(bytes, cumulative);
        // The labels are ASCII: Latin-1 is the local encoding's text too.
        text.clear();
        text += std::to_string(second);
        text += '\n';
        for (int i = 0; i < chart.categoryCount(); ++i) {
            text += rowNames[static_cast<std::size_t>(i)];
            text += '\t';
            chart.appendRowLabel(text, i);
            text += '\n';
        }
        text += '\n';
        std::fwrite(text.data(), 1, text.size(), stdout);
        if (!pngDir.isEmpty()) {
            const QString file = out.filePath(
                QStringLiteral("%1-%2.png").arg(QLatin1String(info.cliName)).arg(second));
            if (!chart.render(kChartViewSize).save(file, "PNG")) {
                drawError = QStringLiteral("cannot write '%1'").arg(file);
                return false;
            }
        }
        return true;
    };
    ChartFileReader reader(*kind);
    LoopEnd how = LoopEnd::Running;
    QString error;
    const CaptureStartResult started = reader.run(adapter, how, error, draw);
    if (!started.ok())
        return fail(1, QStringLiteral("cannot read '%1': %2").arg(name, started.error));
    if (!drawError.isEmpty())
        return fail(1, drawError);
    if (how == LoopEnd::Error && readError.isEmpty())
        readError = QStringLiteral("reading '%1' failed: %2").arg(name, error);
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
    const int code = finishOutput("chart", runChart(commandArguments(argc, argv, 2)));
    // Everything is written and every capture thread has ended. Tearing the
    // application object down would only load the whole font configuration
    // (the font database's teardown asks for it), which takes longer than
    // reading a small file: the process ends here.
    std::fflush(nullptr);
    std::_Exit(code);
}
