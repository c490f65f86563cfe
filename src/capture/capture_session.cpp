#include "capture/capture_session.h"

#include "capture/native_path.h"
#include "settings/adapter_list.h"
#include "shell/app_state.h"
#include "ui/message_service.h"

#include <pthread.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <system_error>

namespace qarsilo {

namespace {

// A poll wake-up now and then, so a Stop that libpcap's own wake-up missed is
// still seen within this time. pcap_breakloop normally wakes the thread at once.
constexpr int kLiveReadTimeoutMs = 50;

// Waits beyond this are cut, and a gap between two frames longer than this is
// taken as a jump of the file's clock: nobody waits a year for the next frame.
constexpr double kLongestPacedWaitSeconds = 365.0 * 24 * 3600;

[[noreturn]] void defaultFatalExit(int code) {
    // The capture thread is stuck: static destructors could wait on it.
    std::fflush(nullptr);
    std::_Exit(code);
}

std::atomic<long long> g_joinTimeoutMs{5000};
std::atomic<void (*)(int)> g_fatalExit{nullptr};

QString pcapText(pcap_t* handle) {
    return QString::fromLocal8Bit(pcap_geterr(handle));
}

QString linkTypeText(int linkType) {
    const char* name = pcap_datalink_val_to_name(linkType);
    return name ? QString::fromLatin1(name) : QString::number(linkType);
}

// What the operator can do about a refused capture right.
QString permissionHint(int status) {
    if (status == PCAP_ERROR_PERM_DENIED)
        return QStringLiteral("capturing needs the cap_net_raw capability; scripts/run.sh grants "
                              "it to the program");
    if (status == PCAP_ERROR_PROMISC_PERM_DENIED)
        return QStringLiteral("promiscuous mode needs the cap_net_admin capability; "
                              "scripts/run.sh grants it to the program");
    return {};
}

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

} // namespace

CaptureSession::CaptureSession(CaptureWindow window, int slot)
    : m_params(&captureWindowParams(window))
    , m_slot(std::clamp(slot, 0, m_params->sessions - 1)) {}

CaptureSession::~CaptureSession() {
    stop();
}

QString CaptureSession::filterText() const {
    switch (m_params->filterSource) {
    case FilterSource::None:
        return {};
    case FilterSource::Table: {
        const char* text = m_params->filters[static_cast<std::size_t>(m_slot)];
        return text ? QString::fromLatin1(text) : QString();
    }
    case FilterSource::Owner:
        return m_ownerFilter;
    }
    return {};
}

void CaptureSession::setFileReplay(FileReplay mode, double speed) {
    m_replay = mode;
    m_speed = speed;
}

QString CaptureSession::loopError() const {
    return loopEnd() == LoopEnd::Error ? m_loopError : QString();
}

unsigned CaptureSession::droppedSoFar() const {
    // The counters come from the kernel by getsockopt; the capture thread does
    // not touch them.
    pcap_stat stats{};
    if (!m_handle || m_isFile || pcap_stats(m_handle, &stats) != 0)
        return m_handle ? 0 : m_dropped;
    return stats.ps_drop;
}

int CaptureSession::linkType() const {
    return m_linkType;
}

QString CaptureSession::fatalMessage(CaptureWindow window, int slot) {
    const auto& params = captureWindowParams(window);
    const char* name = params.threadNames[static_cast<std::size_t>(std::clamp(slot, 0, 1))];
    if (!name)
        return QStringLiteral("Fatal Error: cannot terminate the capture thread");
    return QStringLiteral("Fatal Error: cannot terminate the %1 capture thread")
        .arg(QLatin1String(name));
}

void CaptureSession::setJoinTimeout(std::chrono::milliseconds timeout) {
    g_joinTimeoutMs.store(timeout.count());
}

void CaptureSession::setFatalExit(void (*exitFunction)(int)) {
    g_fatalExit.store(exitFunction);
}

CaptureStartResult CaptureSession::start() {
    return start(app::selectedAdapter());
}

CaptureStartResult CaptureSession::fail(CaptureStatus status, QString error, FailureReport report,
                                        const char* standardErrorText, const QString& boxDetail) {
    if (m_handle) {
        pcap_close(m_handle);
        m_handle = nullptr;
    }
    m_linkType = -1;
    switch (report) {
    case FailureReport::MessageBox: {
        // The operator (and whoever reads the terminal) learns why, not only that.
        QString text = QStringLiteral("Error opening selected adapter");
        const QString& detail = boxDetail.isEmpty() ? error : boxDetail;
        if (!detail.isEmpty())
            text += QLatin1Char('\n') + detail;
        if (!MessageService::writesToStandardError()) {
            const QString line = QString(text).replace(QLatin1Char('\n'), QLatin1String(": "));
            std::fprintf(stderr, "qarsilo: %s\n", line.toLocal8Bit().constData());
            std::fflush(stderr);
        }
        MessageService::message(text, QStringLiteral("Error"), MessageService::Icon::Error);
        break;
    }
    case FailureReport::StandardError:
        if (standardErrorText) {
            std::fputs(standardErrorText, stderr);
            std::fflush(stderr);
        }
        break;
    case FailureReport::Caller:
    case FailureReport::Ignore:
        break;
    }
    return {status, std::move(error)};
}

CaptureStartResult CaptureSession::start(const QString& adapterName) {
    if (isRunning())
        return {CaptureStatus::AlreadyRunning, {}};

    const CaptureWindowParams& p = *m_params;
    m_adapter = adapterName;
    m_isFile = isCaptureFileAdapter(adapterName);
    m_loopEnd.store(LoopEnd::Running);
    m_loopError.clear();
    m_threadDone = false;
    m_dropped = 0;
    m_net = 0;
    m_mask = PCAP_NETMASK_UNKNOWN;

    char errbuf[PCAP_ERRBUF_SIZE] = {};
    const QByteArray device = adapterName.toLocal8Bit();
    if (adapterName.isEmpty() || (m_isFile && captureFilePath(adapterName).isEmpty()))
        return fail(CaptureStatus::OpenFailed, QStringLiteral("no adapter selected"), p.openFailure,
                    nullptr);

    if (m_isFile) {
        const QString path = captureFilePath(adapterName);
        QString notRegular;
        if (p.window != CaptureWindow::CommandLine && !isRegularFile(path, &notRegular))
            return fail(CaptureStatus::OpenFailed, notRegular, p.openFailure, nullptr);
        m_handle = pcap_open_offline(nativeFileName(path).constData(), errbuf);
        if (!m_handle)
            return fail(CaptureStatus::OpenFailed,
                        captureFileOpenError(path, QString::fromLocal8Bit(errbuf)), p.openFailure,
                        nullptr);
    } else {
        m_handle = pcap_create(device.constData(), errbuf);
        if (!m_handle)
            return fail(CaptureStatus::OpenFailed, QString::fromLocal8Bit(errbuf), p.openFailure,
                        nullptr);
        pcap_set_snaplen(m_handle, p.snapLen);
        pcap_set_promisc(m_handle, 1);
        // Frames reach the handler one by one as they arrive, not in batches.
        pcap_set_immediate_mode(m_handle, 1);
        pcap_set_timeout(m_handle, kLiveReadTimeoutMs);
        // In immediate mode each ring slot holds a whole snapshot length, so
        // libpcap's default 2 MiB ring buffers only a few milliseconds of a
        // busy link; a window descheduled for longer would lose frames.
        pcap_set_buffer_size(m_handle, ringBytes(p.snapLen));
        const int rc = pcap_activate(m_handle);
        if (rc < 0) {
            QString error = QString::fromLocal8Bit(pcap_statustostr(rc));
            const QString detail = pcapText(m_handle);
            if (!detail.isEmpty() && detail != error)
                error += QStringLiteral(": ") + detail;
            const QString hint = permissionHint(rc);
            if (!hint.isEmpty())
                error += QStringLiteral("\n") + hint;
            return fail(CaptureStatus::OpenFailed, error, p.openFailure, nullptr);
        }
    }
    m_linkType = pcap_datalink(m_handle);
    // Every window decodes Ethernet frames; other framing (raw IP, cooked
    // captures of "any", 802.11) would be read at the wrong offsets.
    if (m_linkType != DLT_EN10MB) {
        const QString why = QStringLiteral("its frames are not Ethernet (link type %1)")
                                .arg(linkTypeText(m_linkType));
        const QString source =
            m_isFile ? displayFileName(captureFilePath(adapterName)) : adapterName;
        return fail(CaptureStatus::NotEthernet, why, p.openFailure, nullptr,
                    source + QStringLiteral(": ") + why);
    }

    const QByteArray filter = filterText().toUtf8();
    if (!filter.isEmpty()) {
        // A capture file has no network of its own to look up.
        if (!m_isFile && pcap_lookupnet(device.constData(), &m_net, &m_mask, errbuf) == -1) {
            if (p.netmaskFailure != FailureReport::Ignore)
                return fail(CaptureStatus::NetmaskFailed, QString::fromLocal8Bit(errbuf),
                            p.netmaskFailure, kNetmaskErrorText);
            // Only tests for IPv4 broadcast addresses need it; they fail to compile.
            m_net = 0;
            m_mask = PCAP_NETMASK_UNKNOWN;
        }
        const bpf_u_int32 netmask = p.netmaskSource == NetmaskSource::Fixed ? p.netmask : m_mask;
        bpf_program program{};
        if (pcap_compile(m_handle, &program, filter.constData(), p.optimize, netmask) == -1)
            return fail(CaptureStatus::CompileFailed, pcapText(m_handle), p.filterFailure,
                        kCompileErrorText);
        const int rc = pcap_setfilter(m_handle, &program);
        // libpcap keeps its own copy of the program (and the kernel another).
        pcap_freecode(&program);
        if (rc == -1)
            return fail(CaptureStatus::SetFilterFailed, pcapText(m_handle), p.filterFailure,
                        kSetFilterErrorText);
    }

    m_stopped.store(false, std::memory_order_release);
    try {
        m_thread = std::thread([this] { run(); });
    } catch (const std::system_error& e) {
        m_stopped.store(true, std::memory_order_release);
        return fail(CaptureStatus::ThreadFailed, QString::fromLocal8Bit(e.what()),
                    FailureReport::Caller, nullptr);
    }
    return {};
}

void CaptureSession::stop() {
    {
        // Under the lock, so a paced wait cannot miss it.
        std::lock_guard lock(m_lock);
        m_stopped.store(true, std::memory_order_release);
    }
    m_wake.notify_all();
    if (!m_thread.joinable())
        return; // never started, or a failed start: nothing of libpcap to touch

    // Live reads sleep in poll(); libpcap's break wakes them. File reads see
    // the flag before every frame and in the paced wait.
    if (!m_isFile)
        pcap_breakloop(m_handle);

    std::unique_lock lock(m_lock);
    const auto timeout = std::chrono::milliseconds(g_joinTimeoutMs.load());
    if (!m_wake.wait_for(lock, timeout, [this] { return m_threadDone; })) {
        lock.unlock();
        MessageService::message(fatalMessage(m_params->window, m_slot), {},
                                MessageService::Icon::Error);
        if (auto exitFunction = g_fatalExit.load())
            exitFunction(0);
        else
            defaultFatalExit(0);
        lock.lock();
        m_wake.wait(lock, [this] { return m_threadDone; });
    }
    lock.unlock();
    m_thread.join();

    // The counters live in the handle; read them while it is still open.
    pcap_stat stats{};
    if (!m_isFile && pcap_stats(m_handle, &stats) == 0)
        m_dropped = stats.ps_drop;
    pcap_close(m_handle);
    m_handle = nullptr;
    m_linkType = -1;
}

void CaptureSession::run() {
    pthread_setname_np(pthread_self(), "qarsilo-capture");
    if (m_isFile)
        runFile();
    else
        runLive();
    {
        std::lock_guard lock(m_lock);
        m_threadDone = true;
    }
    m_wake.notify_all();
}

void CaptureSession::pcapCallback(u_char* user, const pcap_pkthdr* header, const u_char* bytes) {
    reinterpret_cast<CaptureSession*>(user)->deliver(header, bytes);
}

int CaptureSession::ringBytes(int snapLen) {
    // Room for 16384 frames of the snapshot length, between 4 and 64 MiB.
    constexpr long long kFrames = 16384;
    constexpr long long kMin = 4ll << 20;
    constexpr long long kMax = 64ll << 20;
    const long long slot = (static_cast<long long>(snapLen) + 96 + 15) / 16 * 16;
    return static_cast<int>(std::clamp(slot * kFrames, kMin, kMax));
}

void CaptureSession::deliver(const pcap_pkthdr* header, const std::uint8_t* bytes) {
    // Frames already read when Stop began are dropped, not handed over.
    if (stopped() || !m_handler)
        return;
    m_handler(*header, bytes);
}

void CaptureSession::runLive() {
    while (!stopped()) {
        const int n = pcap_dispatch(m_handle, -1, &CaptureSession::pcapCallback,
                                    reinterpret_cast<u_char*>(this));
        if (n >= 0 || n == PCAP_ERROR_BREAK)
            continue; // the flag decides
        finishLoop(LoopEnd::Error, pcapText(m_handle));
        return;
    }
}

void CaptureSession::runFile() {
    const bool paced = m_replay == FileReplay::Paced && m_speed > 0;
    const auto snapLen = static_cast<bpf_u_int32>(m_params->snapLen);
    bool first = true;
    std::chrono::steady_clock::time_point wallStart;
    double firstStamp = 0;
    double lastStamp = 0;

    while (!stopped()) {
        pcap_pkthdr* header = nullptr;
        const u_char* bytes = nullptr;
        const int rc = pcap_next_ex(m_handle, &header, &bytes);
        if (rc == PCAP_ERROR_BREAK) {
            finishLoop(LoopEnd::EndOfFile, {});
            return;
        }
        if (rc < 0) {
            finishLoop(LoopEnd::Error, pcapText(m_handle));
            return;
        }
        if (rc == 0)
            continue;

        if (paced) {
            // Time stamps are whatever the file says (pcapng allows 2^64
            // microseconds): differences are taken in floating point, and a
            // frame more than the longest wait away from the one before is a
            // jump of the file's clock, replayed at once and counted from.
            const double stamp = static_cast<double>(header->ts.tv_sec) +
                                 static_cast<double>(header->ts.tv_usec) / 1e6;
            if (first || std::abs(stamp - lastStamp) > kLongestPacedWaitSeconds) {
                first = false;
                wallStart = std::chrono::steady_clock::now();
                firstStamp = stamp;
            } else if (stamp > firstStamp) {
                // Due times count from the first frame, so waits do not add up
                // their overshoots. Frames stamped earlier go out at once.
                const double seconds =
                    std::min((stamp - firstStamp) / m_speed, kLongestPacedWaitSeconds);
                const auto due =
                    wallStart + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                    std::chrono::duration<double>(seconds));
                if (!waitUntil(due))
                    return;
            }
            lastStamp = stamp;
        }

        // A file frame looks as the same window would have captured it live.
        if (header->caplen > snapLen) {
            pcap_pkthdr cut = *header;
            cut.caplen = snapLen;
            deliver(&cut, bytes);
        } else {
            deliver(header, bytes);
        }
    }
}

bool CaptureSession::waitUntil(std::chrono::steady_clock::time_point due) {
    std::unique_lock lock(m_lock);
    return !m_wake.wait_until(lock, due, [this] { return stopped(); });
}

void CaptureSession::finishLoop(LoopEnd how, const QString& error) {
    if (stopped())
        return; // ended by Stop, not by itself
    m_loopError = error;
    m_loopEnd.store(how, std::memory_order_release);
    if (m_endHandler)
        m_endHandler(how);
}

} // namespace qarsilo
