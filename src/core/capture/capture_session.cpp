#include "core/capture/capture_session.h"

#include "core/app/app_state.h"
#include "core/app/message_service.h"
#include "core/capture/adapter_list.h"
#include "core/capture/live_open.h"
#include "core/capture/native_path.h"
#include "core/capture/stream_source.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMetaObject>

#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <utility>

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

// How long a stream source may take to send its capture header (a remote
// command may first have to log in), and the capture helper its status.
constexpr auto kStreamHeaderWait = std::chrono::seconds(15);
constexpr auto kHelperStatusWait = std::chrono::seconds(10);

std::mutex g_helperLock;
bool g_helperSet = false;
QString g_helper;

QString defaultCaptureHelper() {
    if (qEnvironmentVariableIsSet("QARSILO_CAPTURE_HELPER")) {
        const QString path = qEnvironmentVariable("QARSILO_CAPTURE_HELPER");
        return path == QLatin1String("none") ? QString() : path;
    }
    // The program's own folder (installed, or the build's src/), then its
    // parent (the build's src/cli/ for qarsilo-cli).
    const QString self = QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
    if (self.isEmpty())
        return {};
    const QString dir = QFileInfo(self).absolutePath();
    for (const QString& candidate :
         {dir + QStringLiteral("/qarsilo-capture"), dir + QStringLiteral("/../qarsilo-capture")}) {
        const QFileInfo info(candidate);
        if (info.isFile() && info.isExecutable())
            return info.absoluteFilePath();
    }
    return {};
}

QString joinedLines(const QStringList& lines) {
    return lines.join(QLatin1Char('\n'));
}

// Set and called on the interface thread only.
CaptureSession::StreamWaitHandler g_streamWaitHandler;

void tellStreamWait(StreamWait state, const QString& adapter) {
    if (g_streamWaitHandler)
        g_streamWaitHandler(state, adapter);
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

} // namespace

bool isCommandAdapter(const QString& adapterName) {
    return adapterName.startsWith(QLatin1String(kCommandAdapterPrefix));
}

bool isStreamAdapter(const QString& adapterName) {
    return isCommandAdapter(adapterName) || adapterName == QLatin1String(kStandardInputAdapter);
}

QString CaptureSession::captureHelper() {
    std::lock_guard lock(g_helperLock);
    if (!g_helperSet) {
        g_helper = defaultCaptureHelper();
        g_helperSet = true;
    }
    return g_helper;
}

void CaptureSession::setCaptureHelper(const QString& path) {
    std::lock_guard lock(g_helperLock);
    g_helperSet = !path.isNull();
    g_helper = path;
}

void CaptureSession::setStreamWaitHandler(StreamWaitHandler handler) {
    g_streamWaitHandler = std::move(handler);
}

pid_t CaptureSession::processGroup() const {
    return m_stream ? m_stream->processGroup() : 0;
}

CaptureSession::CaptureSession(CaptureWindow window, int slot)
    : m_params(&captureWindowParams(window))
    , m_slot(std::clamp(slot, 0, m_params->sessions - 1))
    , m_headerInStart(window == CaptureWindow::CommandLine) {}

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
    return loopEnd() != LoopEnd::Running ? m_loopError : QString();
}

unsigned CaptureSession::droppedSoFar() const {
    // The counters come from the kernel by getsockopt; the capture thread does
    // not touch them.
    if (m_stream)
        return m_stream->drops();
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
    if (m_stream) {
        m_stream->finish(true);
        m_stream.reset();
    }
    if (m_haveProgram) {
        pcap_freecode(&m_program);
        m_haveProgram = false;
    }
    m_linkType = -1;
    m_active = false;
    m_waiting.store(false, std::memory_order_release);
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
    m_viaHelper = false;
    m_loopEnd.store(LoopEnd::Running);
    m_loopError.clear();
    m_threadDone = false;
    m_dropped = 0;
    m_net = 0;
    m_mask = PCAP_NETMASK_UNKNOWN;

    char errbuf[PCAP_ERRBUF_SIZE] = {};
    if (adapterName.isEmpty() || (m_isFile && captureFilePath(adapterName).isEmpty()) ||
        adapterName == QLatin1String(kCommandAdapterPrefix))
        return fail(CaptureStatus::OpenFailed, QStringLiteral("no adapter selected"), p.openFailure,
                    nullptr);

    // Sources read in this process compile their filter here; the capture
    // helper sets it on the device itself.
    bool filterHere = true;
    // A window does not wait for a stream's header: the capture thread does,
    // and the window stays responsive (and can Stop) meanwhile.
    const bool background =
        isStreamAdapter(adapterName) && !m_headerInStart && QCoreApplication::instance() != nullptr;
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
    } else if (isStreamAdapter(adapterName)) {
        const CaptureStartResult r =
            background ? spawnStream(adapterName) : openStream(adapterName);
        if (!r.ok())
            return r;
    } else if (const QString helper = captureHelper(); !helper.isEmpty()) {
        const CaptureStartResult r = openWithHelper(helper, adapterName);
        if (!r.ok())
            return r;
        filterHere = false;
    } else {
        LiveOpenRequest request;
        request.device = adapterName.toLocal8Bit().toStdString();
        request.snapLen = p.snapLen;
        // In immediate mode each ring slot holds a whole snapshot length, so
        // libpcap's default 2 MiB ring buffers only a few milliseconds of a
        // busy link; a window descheduled for longer would lose frames.
        request.bufferBytes = ringBytes(p.snapLen);
        request.readTimeoutMs = kLiveReadTimeoutMs;
        request.filter = filterText().toUtf8().toStdString();
        request.optimize = p.optimize;
        request.fixedNetmask = p.netmaskSource == NetmaskSource::Fixed;
        request.netmask = p.netmask;
        request.netmaskRequired = p.netmaskFailure != FailureReport::Ignore;
        const LiveOpenResult opened = openLive(request);
        if (opened.status != LiveOpenStatus::Ok)
            return failLive(static_cast<int>(opened.status),
                            QString::fromLocal8Bit(opened.error.c_str()), opened.linkType);
        m_handle = opened.handle;
        filterHere = false;
    }
    if (!background) {
        m_linkType = pcap_datalink(m_handle);
        // Every window decodes Ethernet frames; other framing (raw IP, cooked
        // captures of "any", 802.11) would be read at the wrong offsets.
        if (m_linkType != DLT_EN10MB)
            return failLive(static_cast<int>(LiveOpenStatus::NotEthernet), {}, m_linkType);
    }

    const QByteArray filter = filterText().toUtf8();
    if (filterHere && !filter.isEmpty()) {
        // A capture file or a stream has no network of its own to look up. A
        // stream still awaited is compiled for Ethernet, the only framing
        // it may turn out to have, so a bad filter is told at once.
        const bpf_u_int32 netmask = p.netmaskSource == NetmaskSource::Fixed ? p.netmask : m_mask;
        pcap_t* compiler = background ? pcap_open_dead(DLT_EN10MB, p.snapLen) : m_handle;
        if (!compiler)
            return fail(CaptureStatus::CompileFailed, QStringLiteral("out of memory"),
                        p.filterFailure, kCompileErrorText);
        const bool compiled =
            pcap_compile(compiler, &m_program, filter.constData(), p.optimize, netmask) != -1;
        const QString compileError = compiled ? QString() : pcapText(compiler);
        if (background)
            pcap_close(compiler);
        if (!compiled)
            return fail(CaptureStatus::CompileFailed, compileError, p.filterFailure,
                        kCompileErrorText);
        m_haveProgram = true;
        if (!background) {
            const int rc = pcap_setfilter(m_handle, &m_program);
            // libpcap keeps its own copy of the program.
            pcap_freecode(&m_program);
            m_haveProgram = false;
            if (rc == -1)
                return fail(CaptureStatus::SetFilterFailed, pcapText(m_handle), p.filterFailure,
                            kSetFilterErrorText);
        }
    }

    m_openCancelled = std::make_shared<bool>(false);
    m_waiting.store(background, std::memory_order_release);
    m_stopped.store(false, std::memory_order_release);
    try {
        m_thread = std::thread([this] { run(); });
    } catch (const std::system_error& e) {
        m_stopped.store(true, std::memory_order_release);
        return fail(CaptureStatus::ThreadFailed, QString::fromLocal8Bit(e.what()),
                    FailureReport::Caller, nullptr);
    }
    m_active = true;
    if (background) {
        m_toldWaiting = true;
        tellStreamWait(StreamWait::Waiting, adapterName);
    }
    return {};
}

// The failures of a live open, whether in this process or in the helper, as
// the window's row says to report them.
CaptureStartResult CaptureSession::failLive(int status, const QString& error, int linkType) {
    const CaptureWindowParams& p = *m_params;
    switch (static_cast<LiveOpenStatus>(status)) {
    case LiveOpenStatus::NotEthernet: {
        const QString why = QStringLiteral("its frames are not Ethernet (link type %1)")
                                .arg(linkTypeText(linkType));
        const QString source = m_isFile ? displayFileName(captureFilePath(m_adapter)) : m_adapter;
        return fail(CaptureStatus::NotEthernet, why, p.openFailure, nullptr,
                    source + QStringLiteral(": ") + why);
    }
    case LiveOpenStatus::NetmaskFailed:
        return fail(CaptureStatus::NetmaskFailed, error, p.netmaskFailure, kNetmaskErrorText);
    case LiveOpenStatus::CompileFailed:
        return fail(CaptureStatus::CompileFailed, error, p.filterFailure, kCompileErrorText);
    case LiveOpenStatus::SetFilterFailed:
        return fail(CaptureStatus::SetFilterFailed, error, p.filterFailure, kSetFilterErrorText);
    case LiveOpenStatus::Ok:
    case LiveOpenStatus::OpenFailed:
        break;
    }
    return fail(CaptureStatus::OpenFailed, error, p.openFailure, nullptr);
}

CaptureStartResult CaptureSession::spawnStream(const QString& adapterName) {
    const CaptureWindowParams& p = *m_params;
    m_stream = std::make_unique<StreamSource>();
    QString error;
    const bool command = isCommandAdapter(adapterName);
    if (command) {
        const QByteArray text =
            adapterName.mid(int(std::strlen(kCommandAdapterPrefix))).toLocal8Bit();
        if (!m_stream->spawn({QByteArrayLiteral("/bin/sh"), QByteArrayLiteral("-c"), text}, &error))
            return fail(CaptureStatus::OpenFailed,
                        QStringLiteral("cannot run the command: ") + error, p.openFailure, nullptr);
    } else if (!m_stream->openStandardInput(&error)) {
        return fail(CaptureStatus::OpenFailed,
                    QStringLiteral("cannot read the standard input: ") + error, p.openFailure,
                    nullptr);
    }
    return {};
}

CaptureStartResult CaptureSession::openStream(const QString& adapterName) {
    if (const CaptureStartResult r = spawnStream(adapterName); !r.ok())
        return r;
    // The header comes first; a command that fails writes none.
    char errbuf[PCAP_ERRBUF_SIZE] = {};
    m_handle = openStreamHeader(*m_stream, kStreamHeaderWait, errbuf);
    if (m_handle)
        return {};
    return fail(CaptureStatus::OpenFailed, streamHeaderFailure(errbuf), m_params->openFailure,
                nullptr);
}

// Why no capture header came; a command is ended (at once if it outstayed the wait).
QString CaptureSession::streamHeaderFailure(const char* errbuf) {
    QString why = m_stream->timedOut() ? QStringLiteral("no capture arrived within %1 s")
                                             .arg(std::chrono::seconds(kStreamHeaderWait).count())
                                       : QString::fromLocal8Bit(errbuf);
    if (isCommandAdapter(m_adapter)) {
        // A failed command's own words say more than libpcap's "truncated
        // dump file"; one that succeeded wrote something that is no capture.
        const bool timedOut = m_stream->timedOut();
        m_stream->finish(timedOut);
        why = timedOut || m_stream->exitedCleanly() ? why + QStringLiteral("\n") + streamEndText()
                                                    : streamEndText();
    }
    return why;
}

// On the capture thread: waits for the header as openStream does, and hands
// the outcome to the interface thread.
bool CaptureSession::openStreamInBackground() {
    char errbuf[PCAP_ERRBUF_SIZE] = {};
    pcap_t* handle = openStreamHeader(*m_stream, kStreamHeaderWait, errbuf);
    if (stopped()) {
        // Stop's wake-up: nothing to report.
        if (handle)
            pcap_close(handle);
        return false;
    }
    if (!handle) {
        m_openStatus = CaptureStatus::OpenFailed;
        m_openError = streamHeaderFailure(errbuf);
        m_openDetail.clear();
        postOpenOutcome(true);
        return false;
    }
    const int linkType = pcap_datalink(handle);
    if (linkType != DLT_EN10MB) {
        pcap_close(handle);
        m_openStatus = CaptureStatus::NotEthernet;
        m_openError = QStringLiteral("its frames are not Ethernet (link type %1)")
                          .arg(linkTypeText(linkType));
        m_openDetail = m_adapter + QStringLiteral(": ") + m_openError;
        postOpenOutcome(true);
        return false;
    }
    if (m_haveProgram && pcap_setfilter(handle, &m_program) == -1) {
        m_openStatus = CaptureStatus::SetFilterFailed;
        m_openError = pcapText(handle);
        m_openDetail.clear();
        pcap_close(handle);
        postOpenOutcome(true);
        return false;
    }
    m_handle = handle;
    m_linkType = linkType;
    m_waiting.store(false, std::memory_order_release);
    postOpenOutcome(false);
    return true;
}

void CaptureSession::postOpenOutcome(bool failed) {
    // The token is set by Stop (also from the destructor) on the interface
    // thread, where it is read: a stopped or gone session is not touched.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [this, token = m_openCancelled, failed] {
            if (!*token)
                settleOpen(failed);
        },
        Qt::QueuedConnection);
}

void CaptureSession::settleOpen(bool failed) {
    m_toldWaiting = false;
    if (!failed) {
        tellStreamWait(StreamWait::Arrived, m_adapter);
        return;
    }
    // The thread posted this as its last act.
    {
        std::unique_lock lock(m_lock);
        m_wake.wait(lock, [this] { return m_threadDone; });
    }
    m_thread.join();
    m_stopped.store(true, std::memory_order_release);
    *m_openCancelled = true;
    const CaptureWindowParams& p = *m_params;
    const bool filter = m_openStatus == CaptureStatus::SetFilterFailed;
    fail(m_openStatus, m_openError, filter ? p.filterFailure : p.openFailure,
         filter ? kSetFilterErrorText : nullptr, m_openDetail);
    tellStreamWait(StreamWait::Failed, m_adapter);
}

CaptureStartResult CaptureSession::openWithHelper(const QString& helper, const QString& device) {
    const CaptureWindowParams& p = *m_params;
    std::vector<QByteArray> args{nativeFileName(helper),
                                 QByteArrayLiteral("--device"),
                                 device.toLocal8Bit(),
                                 QByteArrayLiteral("--snaplen"),
                                 QByteArray::number(p.snapLen),
                                 QByteArrayLiteral("--buffer"),
                                 QByteArray::number(ringBytes(p.snapLen)),
                                 QByteArrayLiteral("--timeout"),
                                 QByteArray::number(kLiveReadTimeoutMs),
                                 QByteArrayLiteral("--optimize"),
                                 QByteArray::number(p.optimize)};
    const QByteArray filter = filterText().toUtf8();
    if (!filter.isEmpty()) {
        args.insert(args.end(), {QByteArrayLiteral("--filter"), filter});
        if (p.netmaskSource == NetmaskSource::Fixed)
            args.insert(args.end(),
                        {QByteArrayLiteral("--netmask"), QByteArray::number(p.netmask)});
        if (p.netmaskFailure != FailureReport::Ignore)
            args.push_back(QByteArrayLiteral("--netmask-required"));
    }
    m_stream = std::make_unique<StreamSource>();
    QString error;
    if (!m_stream->spawn(args, &error))
        return fail(CaptureStatus::OpenFailed,
                    QStringLiteral("cannot start the capture helper %1: %2").arg(helper, error),
                    p.openFailure, nullptr);
    m_viaHelper = true;

    std::string line;
    const bool answered =
        m_stream->waitFirstLine(std::chrono::steady_clock::now() + kHelperStatusWait, &line);
    if (answered && line.rfind("fail ", 0) == 0) {
        const std::size_t space = line.find(' ', 5);
        const std::string name = line.substr(5, space == std::string::npos ? space : space - 5);
        const std::string text =
            unescapeStatusText(space == std::string::npos ? std::string() : line.substr(space + 1));
        const LiveOpenStatus status = liveOpenStatusFromName(name);
        const int linkType = status == LiveOpenStatus::NotEthernet ? std::atoi(text.c_str()) : -1;
        return failLive(static_cast<int>(status), QString::fromLocal8Bit(text.c_str()), linkType);
    }
    if (!answered || line != "ok") {
        m_stream->finish(true);
        return fail(CaptureStatus::OpenFailed,
                    QStringLiteral("the capture helper %1 did not start (%2)\n%3")
                        .arg(helper, m_stream->exitText(), joinedLines(m_stream->lastLines())),
                    p.openFailure, nullptr);
    }
    char errbuf[PCAP_ERRBUF_SIZE] = {};
    m_handle = openStreamHeader(*m_stream, kHelperStatusWait, errbuf);
    if (m_handle)
        return {};
    return fail(CaptureStatus::OpenFailed,
                QStringLiteral("the capture helper's stream: ") + QString::fromLocal8Bit(errbuf),
                p.openFailure, nullptr);
}

// How a stream's source ended: a command's exit and its last words.
QString CaptureSession::streamEndText() {
    if (!m_stream)
        return {};
    if (!isCommandAdapter(m_adapter) && !m_viaHelper)
        return QStringLiteral("end of the standard input");
    if (m_viaHelper) {
        const QString error = m_stream->helperError();
        if (!error.isEmpty())
            return QString::fromStdString(unescapeStatusText(error.toStdString()));
        return QStringLiteral("the capture helper ended (%1)\n%2")
            .arg(m_stream->exitText(), joinedLines(m_stream->lastLines()))
            .trimmed();
    }
    QString text = QStringLiteral("the command ended (%1)").arg(m_stream->exitText());
    const QStringList lines = m_stream->lastLines();
    if (!lines.isEmpty())
        text += QStringLiteral("\n") + joinedLines(lines);
    return text;
}

void CaptureSession::stop() {
    {
        // Under the lock, so a paced wait cannot miss it.
        std::lock_guard lock(m_lock);
        m_stopped.store(true, std::memory_order_release);
    }
    m_wake.notify_all();
    if (m_openCancelled)
        *m_openCancelled = true;
    m_active = false;
    m_waiting.store(false, std::memory_order_release);
    const bool waited = std::exchange(m_toldWaiting, false);
    if (!m_thread.joinable())
        return; // never started, or a failed start: nothing of libpcap to touch

    // Live reads sleep in poll(); libpcap's break wakes them, and the stream's
    // own wake-up a stream read. File reads see the flag before every frame
    // and in the paced wait.
    if (m_stream)
        m_stream->wake();
    else if (!m_isFile)
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
    if (!m_isFile && !m_stream && pcap_stats(m_handle, &stats) == 0)
        m_dropped = stats.ps_drop;
    if (m_handle) // none when a stream was stopped before its header
        pcap_close(m_handle);
    m_handle = nullptr;
    if (m_haveProgram) {
        pcap_freecode(&m_program);
        m_haveProgram = false;
    }
    m_linkType = -1;
    if (waited)
        tellStreamWait(StreamWait::Stopped, m_adapter);
    if (m_stream) {
        // The helper's last line is its final drop count.
        m_stream->finish(true);
        m_dropped = m_stream->drops();
        m_stream.reset();
    }
}

void CaptureSession::run() {
    pthread_setname_np(pthread_self(), "qarsilo-capture");
    if (m_waiting.load(std::memory_order_acquire) && !openStreamInBackground()) {
        // Either Stop, or the interface thread reports why and joins.
    } else if (m_isFile)
        runFile();
    else if (m_stream)
        runStream();
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

void CaptureSession::runStream() {
    const auto snapLen = static_cast<bpf_u_int32>(m_params->snapLen);
    while (!stopped()) {
        pcap_pkthdr* header = nullptr;
        const u_char* bytes = nullptr;
        const int rc = pcap_next_ex(m_handle, &header, &bytes);
        if (rc == 1) {
            // Frames look as the window would have captured them itself.
            if (header->caplen > snapLen) {
                pcap_pkthdr cut = *header;
                cut.caplen = snapLen;
                deliver(&cut, bytes);
            } else {
                deliver(header, bytes);
            }
            continue;
        }
        if (rc == 0)
            continue;
        if (stopped())
            return; // Stop's wake-up, not an end
        // The source ended by itself: a cut stream is told with libpcap's text.
        const QString cut = rc == PCAP_ERROR_BREAK ? QString() : pcapText(m_handle);
        m_stream->finish(false);
        QString text = streamEndText();
        if (!cut.isEmpty() && !m_viaHelper)
            text = cut + QStringLiteral("\n") + text;
        const bool clean = cut.isEmpty() && !m_viaHelper &&
                           (!isCommandAdapter(m_adapter) || m_stream->exitedCleanly());
        finishLoop(clean ? LoopEnd::EndOfFile : LoopEnd::Error, text);
        return;
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
