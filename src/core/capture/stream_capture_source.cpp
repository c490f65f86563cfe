#include "core/capture/capture_session.h"
#include "core/capture/capture_source.h"
#include "core/capture/native_path.h"
#include "core/capture/stream_source.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace qarsilo {

namespace {

// How long a stream source may take to send its capture header (a remote
// command may first have to log in), and the capture helper its status.
constexpr auto kStreamHeaderWait = std::chrono::seconds(15);
constexpr auto kHelperStatusWait = std::chrono::seconds(10);

QString joinedLines(const QStringList& lines) {
    return lines.join(QLatin1Char('\n'));
}

// Reads the pcap header from `stream`, waiting at most `wait`; the stream's
// file then belongs to the handle, or is closed when there is none.
pcap_t* openStreamHeader(StreamSource& stream, std::chrono::steady_clock::duration wait,
                         char* errbuf) {
    stream.setDeadline(std::chrono::steady_clock::now() + wait);
    FILE* file = stream.takeFile();
    pcap_t* handle = file ? pcap_fopen_offline(file, errbuf) : nullptr;
    stream.clearDeadline();
    if (!handle && file)
        std::fclose(file);
    return handle;
}

/// A pcap stream read through a StreamSource: a child's standard output or
/// the standard input.
class PipedCaptureSource : public CaptureSource {
public:
    using CaptureSource::CaptureSource;
    // The handle reads through the stream: it goes first.
    ~PipedCaptureSource() override { CaptureSource::closeHandle(); }

    ReadStep read(FrameSink& sink, QString* why) override {
        pcap_pkthdr* header = nullptr;
        const u_char* bytes = nullptr;
        const int rc = pcap_next_ex(m_handle, &header, &bytes);
        if (rc == 1) {
            sink.deliver(*header, bytes);
            return ReadStep::More;
        }
        if (rc == 0)
            return ReadStep::More;
        if (sink.stopped())
            return ReadStep::Stopped; // Stop's wake-up, not an end
        // The source ended by itself: a cut stream is told with libpcap's text.
        const QString cut = rc == PCAP_ERROR_BREAK ? QString() : pcapText(m_handle);
        m_stream.finish(false);
        return ended(cut, why);
    }

    // A stream read waits in poll(); the stream's own wake-up ends it.
    void wake() override { m_stream.wake(); }
    unsigned finish() override {
        // The helper's last line is its final drop count.
        m_stream.finish(true);
        return m_stream.drops();
    }
    unsigned droppedSoFar() const override { return m_stream.drops(); }
    pid_t processGroup() const override { return m_stream.processGroup(); }

protected:
    /// After the stream ended by itself (`cut`: libpcap's text for a cut one).
    virtual ReadStep ended(const QString& cut, QString* why) = 0;

    StreamSource m_stream;
};

/// A "pipe:" command's standard output, or the standard input.
class StreamCaptureSource final : public PipedCaptureSource {
public:
    StreamCaptureSource(SourceConfig config, bool background)
        : PipedCaptureSource(std::move(config))
        , m_command(m_config.name.kind == AdapterKind::Command)
        , m_background(background) {}

    SourceResult open() override {
        QString error;
        if (m_command) {
            const QByteArray text = m_config.name.argument.toLocal8Bit();
            if (!m_stream.spawn({QByteArrayLiteral("/bin/sh"), QByteArrayLiteral("-c"), text},
                                &error))
                return {CaptureStatus::OpenFailed,
                        QStringLiteral("cannot run the command: ") + error,
                        {}};
        } else if (!m_stream.openStandardInput(&error)) {
            return {CaptureStatus::OpenFailed,
                    QStringLiteral("cannot read the standard input: ") + error,
                    {}};
        }
        if (m_background)
            return {};
        // The header comes first; a command that fails writes none.
        char errbuf[PCAP_ERRBUF_SIZE] = {};
        m_handle = openStreamHeader(m_stream, kStreamHeaderWait, errbuf);
        if (m_handle)
            return {};
        return {CaptureStatus::OpenFailed, headerFailure(errbuf), {}};
    }

    std::optional<SourceResult> openInBackground(const FrameSink& sink,
                                                 bpf_program* program) override {
        char errbuf[PCAP_ERRBUF_SIZE] = {};
        pcap_t* handle = openStreamHeader(m_stream, kStreamHeaderWait, errbuf);
        if (sink.stopped()) {
            // Stop's wake-up: nothing to report.
            if (handle)
                pcap_close(handle);
            return std::nullopt;
        }
        if (!handle)
            return SourceResult{CaptureStatus::OpenFailed, headerFailure(errbuf), {}};
        const int linkType = pcap_datalink(handle);
        if (linkType != DLT_EN10MB) {
            pcap_close(handle);
            const QString why = notEthernetText(linkType);
            return SourceResult{CaptureStatus::NotEthernet, why,
                                m_config.adapter + QStringLiteral(": ") + why};
        }
        if (program && pcap_setfilter(handle, program) == -1) {
            SourceResult failure{CaptureStatus::SetFilterFailed, pcapText(handle), {}};
            pcap_close(handle);
            return failure;
        }
        m_handle = handle;
        return SourceResult{};
    }

protected:
    ReadStep ended(const QString& cut, QString* why) override {
        QString text = endText();
        if (!cut.isEmpty())
            text = cut + QStringLiteral("\n") + text;
        *why = text;
        const bool clean = cut.isEmpty() && (!m_command || m_stream.exitedCleanly());
        return clean ? ReadStep::EndOfFile : ReadStep::Error;
    }

private:
    // Why no capture header came; a command is ended (at once if it outstayed the wait).
    QString headerFailure(const char* errbuf) {
        QString why = m_stream.timedOut()
                          ? QStringLiteral("no capture arrived within %1 s")
                                .arg(std::chrono::seconds(kStreamHeaderWait).count())
                          : QString::fromLocal8Bit(errbuf);
        if (m_command) {
            // A failed command's own words say more than libpcap's "truncated
            // dump file"; one that succeeded wrote something that is no capture.
            const bool timedOut = m_stream.timedOut();
            m_stream.finish(timedOut);
            why = timedOut || m_stream.exitedCleanly() ? why + QStringLiteral("\n") + endText()
                                                       : endText();
        }
        return why;
    }

    // How the source ended: a command's exit and its last words.
    QString endText() const {
        if (!m_command)
            return QStringLiteral("end of the standard input");
        QString text = QStringLiteral("the command ended (%1)").arg(m_stream.exitText());
        const QStringList lines = m_stream.lastLines();
        if (!lines.isEmpty())
            text += QStringLiteral("\n") + joinedLines(lines);
        return text;
    }

    const bool m_command;
    const bool m_background;
};

/// A live device opened by the capture helper program, which sends its status
/// on a pipe of its own and the frames as a pcap stream.
class HelperCaptureSource final : public PipedCaptureSource {
public:
    HelperCaptureSource(SourceConfig config, QString helper)
        : PipedCaptureSource(std::move(config))
        , m_helper(std::move(helper)) {}

    SourceResult open() override {
        const CaptureWindowParams& p = params();
        // The status gets a pipe of its own: libpcap writes warnings on the
        // helper's standard error stream.
        std::vector<QByteArray> args{nativeFileName(m_helper),
                                     QByteArrayLiteral("--status-fd"),
                                     QByteArray::number(StreamSource::kStatusFd),
                                     QByteArrayLiteral("--device"),
                                     m_config.adapter.toLocal8Bit(),
                                     QByteArrayLiteral("--snaplen"),
                                     QByteArray::number(p.snapLen),
                                     QByteArrayLiteral("--buffer"),
                                     QByteArray::number(CaptureSession::ringBytes(p.snapLen)),
                                     QByteArrayLiteral("--timeout"),
                                     QByteArray::number(kLiveReadTimeoutMs),
                                     QByteArrayLiteral("--optimize"),
                                     QByteArray::number(p.optimize),
                                     QByteArrayLiteral("--immediate"),
                                     QByteArray(liveWakeFor(p) == LiveWake::PerFrame ? "1" : "0")};
        const QByteArray filter = m_config.filter.toUtf8();
        if (!filter.isEmpty()) {
            args.insert(args.end(), {QByteArrayLiteral("--filter"), filter});
            if (p.netmaskSource == NetmaskSource::Fixed)
                args.insert(args.end(),
                            {QByteArrayLiteral("--netmask"), QByteArray::number(p.netmask)});
            if (p.netmaskFailure != FailureReport::Ignore)
                args.push_back(QByteArrayLiteral("--netmask-required"));
        }
        QString error;
        // The helper ends when the thread that starts it ends (PR_SET_PDEATHSIG):
        // sessions start on threads that outlive their captures.
        if (!m_stream.spawn(args, &error, true))
            return {CaptureStatus::OpenFailed,
                    QStringLiteral("cannot start the capture helper %1: %2").arg(m_helper, error),
                    {}};

        std::string line;
        const bool answered =
            m_stream.waitFirstLine(std::chrono::steady_clock::now() + kHelperStatusWait, &line);
        if (answered && line.rfind("fail ", 0) == 0) {
            const std::size_t space = line.find(' ', 5);
            const std::string name = line.substr(5, space == std::string::npos ? space : space - 5);
            const std::string text = unescapeStatusText(
                space == std::string::npos ? std::string() : line.substr(space + 1));
            const LiveOpenStatus status = liveOpenStatusFromName(name);
            const int linkType =
                status == LiveOpenStatus::NotEthernet ? std::atoi(text.c_str()) : -1;
            return liveOpenFailure(status, QString::fromLocal8Bit(text.c_str()), linkType,
                                   m_config.adapter);
        }
        if (!answered || line != "ok") {
            m_stream.finish(true);
            return {CaptureStatus::OpenFailed,
                    QStringLiteral("the capture helper %1 did not start (%2)\n%3")
                        .arg(m_helper, m_stream.exitText(), joinedLines(m_stream.lastLines())),
                    {}};
        }
        char errbuf[PCAP_ERRBUF_SIZE] = {};
        m_handle = openStreamHeader(m_stream, kHelperStatusWait, errbuf);
        if (m_handle)
            return {};
        return {CaptureStatus::OpenFailed,
                QStringLiteral("the capture helper's stream: ") + QString::fromLocal8Bit(errbuf),
                {}};
    }

    // The helper sets the filter on the device itself.
    bool filteredBySession() const override { return false; }

protected:
    ReadStep ended(const QString&, QString* why) override {
        // The helper never ends by itself: its end is a failure, told in its words.
        const QString error = m_stream.helperError();
        *why = !error.isEmpty() ? QString::fromStdString(unescapeStatusText(error.toStdString()))
                                : QStringLiteral("the capture helper ended (%1)\n%2")
                                      .arg(m_stream.exitText(), joinedLines(m_stream.lastLines()))
                                      .trimmed();
        return ReadStep::Error;
    }

private:
    QString m_helper;
};

} // namespace

std::unique_ptr<CaptureSource> makeStreamSource(SourceConfig config, bool background) {
    return std::make_unique<StreamCaptureSource>(std::move(config), background);
}

std::unique_ptr<CaptureSource> makeHelperSource(SourceConfig config, QString helper) {
    return std::make_unique<HelperCaptureSource>(std::move(config), std::move(helper));
}

} // namespace qarsilo
