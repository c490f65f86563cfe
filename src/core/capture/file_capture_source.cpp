#include "core/capture/capture_source.h"
#include "core/capture/native_path.h"

#include <stdio_ext.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace qarsilo {

namespace {

// Waits beyond this are cut, and a gap between two frames longer than this is
// taken as a jump of the file's clock: nobody waits a year for the next frame.
constexpr double kLongestPacedWaitSeconds = 365.0 * 24 * 3600;

// libpcap reads a record as two small freads; a larger buffer than the
// file system's block size saves most of the read calls behind them.
constexpr std::size_t kReadBufferBytes = 256 * 1024;

// Reading a named pipe, a device or a socket can wait for ever for a writer;
// windows open their sources on the interface thread, so only regular files
// are read there.
bool isRegularFile(const QString& path, QString* error) {
    struct stat st {};
    if (::stat(nativeFileName(path).constData(), &st) != 0)
        return true; // libpcap names the failure itself
    if (S_ISREG(st.st_mode))
        return true;
    if (error && S_ISDIR(st.st_mode))
        *error = QStringLiteral("%1: a folder, not a capture file").arg(displayFileName(path));
    else if (error)
        *error = QStringLiteral("%1: not a regular file (a named pipe, device or socket cannot be "
                                "read as a capture file here)")
                     .arg(displayFileName(path));
    return false;
}

/// A capture file, read as fast as possible or paced by its time stamps.
class FileCaptureSource final : public CaptureSource {
public:
    explicit FileCaptureSource(SourceConfig config)
        : CaptureSource(std::move(config))
        , m_paced(m_config.replay == FileReplay::Paced && m_config.speed > 0) {}
    // The handle's file uses m_buffer until it is closed.
    ~FileCaptureSource() override { closeHandle(); }

    SourceResult open() override {
        const QString& path = m_config.name.argument;
        QString notRegular;
        if (params().window != CaptureWindow::CommandLine && !isRegularFile(path, &notRegular))
            return {CaptureStatus::OpenFailed, notRegular, {}};
        char errbuf[PCAP_ERRBUF_SIZE] = {};
        const QByteArray native = nativeFileName(path);
        FILE* file = native == "-" ? nullptr : std::fopen(native.constData(), "rb");
        // libpcap's own open names a file that does not open in its words.
        m_handle =
            file ? openBuffered(file, errbuf) : pcap_open_offline(native.constData(), errbuf);
        if (!m_handle)
            return {CaptureStatus::OpenFailed,
                    captureFileOpenError(path, QString::fromLocal8Bit(errbuf)),
                    {}};
        return {};
    }

    ReadStep read(FrameSink& sink, QString* why) override {
        pcap_pkthdr* header = nullptr;
        const u_char* bytes = nullptr;
        const int rc = pcap_next_ex(m_handle, &header, &bytes);
        if (rc == PCAP_ERROR_BREAK)
            return ReadStep::EndOfFile;
        if (rc < 0) {
            *why = pcapText(m_handle);
            return ReadStep::Error;
        }
        if (rc == 0)
            return ReadStep::More;
        if (m_paced && !pace(sink, *header))
            return ReadStep::Stopped;
        sink.deliver(*header, bytes);
        return ReadStep::More;
    }

    // File reads see the stopped flag before every frame and in the paced
    // wait: nothing to wake.

private:
    // The file opened here rather than by libpcap, with a large buffer and
    // without stdio's lock: only the capture thread reads it, and the lock
    // costs two mutex calls a record once a second thread runs. As
    // pcap_open_offline after its fopen; null with errbuf set on failure.
    pcap_t* openBuffered(FILE* file, char* errbuf) {
        m_buffer = std::make_unique<char[]>(kReadBufferBytes);
        std::setvbuf(file, m_buffer.get(), _IOFBF, kReadBufferBytes);
        __fsetlocking(file, FSETLOCKING_BYCALLER);
        pcap_t* handle = pcap_fopen_offline(file, errbuf);
        if (!handle) {
            std::fclose(file);
            m_buffer.reset();
        }
        return handle;
    }

    // Waits for the frame's due time; false when Stop came first.
    bool pace(FrameSink& sink, const pcap_pkthdr& header) {
        // Time stamps are whatever the file says (pcapng allows 2^64
        // microseconds): differences are taken in floating point, and a
        // frame more than the longest wait away from the one before is a
        // jump of the file's clock, replayed at once and counted from.
        const double stamp =
            static_cast<double>(header.ts.tv_sec) + static_cast<double>(header.ts.tv_usec) / 1e6;
        if (m_first || std::abs(stamp - m_lastStamp) > kLongestPacedWaitSeconds) {
            m_first = false;
            m_wallStart = std::chrono::steady_clock::now();
            m_firstStamp = stamp;
        } else if (stamp > m_firstStamp) {
            // Due times count from the first frame, so waits do not add up
            // their overshoots. Frames stamped earlier go out at once.
            const double seconds =
                std::min((stamp - m_firstStamp) / m_config.speed, kLongestPacedWaitSeconds);
            const auto due =
                m_wallStart + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                  std::chrono::duration<double>(seconds));
            if (!sink.waitUntil(due))
                return false;
        }
        m_lastStamp = stamp;
        return true;
    }

    const bool m_paced;
    std::unique_ptr<char[]> m_buffer;
    bool m_first = true;
    std::chrono::steady_clock::time_point m_wallStart;
    double m_firstStamp = 0;
    double m_lastStamp = 0;
};

} // namespace

std::unique_ptr<CaptureSource> makeFileSource(SourceConfig config) {
    return std::make_unique<FileCaptureSource>(std::move(config));
}

} // namespace qarsilo
