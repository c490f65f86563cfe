#include "core/capture/capture_session.h"
#include "core/capture/vector_state.h"

#include "core/app/app_state.h"
#include "core/app/message_service.h"
#include "core/capture/adapter_name.h"
#include "core/capture/capture_source.h"
#include "core/capture/native_path.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMetaObject>

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <system_error>
#include <utility>

namespace qarsilo {

namespace {

[[noreturn]] void defaultFatalExit(int code) {
    // The capture thread is stuck: static destructors could wait on it.
    std::fflush(nullptr);
    std::_Exit(code);
}

std::atomic<long long> g_joinTimeoutMs{5000};
std::atomic<void (*)(int)> g_fatalExit{nullptr};

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

// Set and called on the interface thread only.
CaptureSession::StreamWaitHandler g_streamWaitHandler;

void tellStreamWait(StreamWait state, const QString& adapter) {
    if (g_streamWaitHandler)
        g_streamWaitHandler(state, adapter);
}

} // namespace

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
    return m_source ? m_source->processGroup() : 0;
}

bool FrameSink::stopped() const {
    return m_session.stopped();
}

void FrameSink::deliver(const pcap_pkthdr& header, const u_char* bytes) {
    m_session.deliver(header, bytes);
}

bool FrameSink::waitUntil(std::chrono::steady_clock::time_point due) {
    return m_session.waitUntil(due);
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
    return m_source ? m_source->droppedSoFar() : m_dropped;
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

CaptureStartResult CaptureSession::fail(CaptureStatus status, QString error,
                                        const QString& boxDetail) {
    const CaptureWindowParams& p = *m_params;
    FailureReport report = p.openFailure;
    const char* standardErrorText = nullptr;
    switch (status) {
    case CaptureStatus::NetmaskFailed:
        report = p.netmaskFailure;
        standardErrorText = kNetmaskErrorText;
        break;
    case CaptureStatus::CompileFailed:
        report = p.filterFailure;
        standardErrorText = kCompileErrorText;
        break;
    case CaptureStatus::SetFilterFailed:
        report = p.filterFailure;
        standardErrorText = kSetFilterErrorText;
        break;
    case CaptureStatus::ThreadFailed:
        report = FailureReport::Caller;
        break;
    case CaptureStatus::Started:
    case CaptureStatus::AlreadyRunning:
    case CaptureStatus::OpenFailed:
    case CaptureStatus::NotEthernet:
        break;
    }
    m_source.reset();
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

CaptureStartResult CaptureSession::fail(const SourceResult& failure) {
    return fail(failure.status, failure.error, failure.boxDetail);
}

CaptureStartResult CaptureSession::start(const QString& adapterName) {
    if (isRunning())
        return {CaptureStatus::AlreadyRunning, {}};

    const AdapterName name = parseAdapterName(adapterName);
    m_adapter = adapterName;
    m_isFile = name.kind == AdapterKind::CaptureFile;
    m_loopEnd.store(LoopEnd::Running);
    m_loopError.clear();
    m_threadDone = false;
    m_dropped = 0;
    if (!name.selectsSource())
        return fail(CaptureStatus::OpenFailed, QStringLiteral("no adapter selected"));

    // A window does not wait for a stream's header: the capture thread does,
    // and the window stays responsive (and can Stop) meanwhile.
    const bool background =
        name.isStream() && !m_headerInStart && QCoreApplication::instance() != nullptr;
    SourceConfig config{m_params, adapterName, name, filterText(), m_replay, m_speed};
    if (m_isFile)
        m_source = makeFileSource(std::move(config));
    else if (name.isStream())
        m_source = makeStreamSource(std::move(config), background);
    else if (QString helper = captureHelper(); !helper.isEmpty())
        m_source = makeHelperSource(std::move(config), std::move(helper));
    else
        m_source = makeLiveSource(std::move(config));
    if (const SourceResult opened = m_source->open(); !opened.ok())
        return fail(opened);

    if (!background) {
        m_linkType = pcap_datalink(m_source->handle());
        // Every window decodes Ethernet frames; other framing (raw IP, cooked
        // captures of "any", 802.11) would be read at the wrong offsets.
        if (m_linkType != DLT_EN10MB)
            return fail(liveOpenFailure(LiveOpenStatus::NotEthernet, {}, m_linkType,
                                        m_isFile ? displayFileName(name.argument) : m_adapter));
    }
    if (m_source->filteredBySession())
        if (const CaptureStartResult compiled = compileFilter(background); !compiled.ok())
            return compiled;

    m_openCancelled = std::make_shared<bool>(false);
    m_waiting.store(background, std::memory_order_release);
    m_stopped.store(false, std::memory_order_release);
    try {
        m_thread = std::thread([this] { run(); });
    } catch (const std::system_error& e) {
        m_stopped.store(true, std::memory_order_release);
        return fail(CaptureStatus::ThreadFailed, QString::fromLocal8Bit(e.what()));
    }
    m_active = true;
    if (background) {
        m_toldWaiting = true;
        tellStreamWait(StreamWait::Waiting, adapterName);
    }
    return {};
}

// For sources read in this process. A capture file or a stream has no network
// of its own to look up. A stream still awaited is compiled for Ethernet, the
// only framing it may turn out to have, so a bad filter is told at once.
CaptureStartResult CaptureSession::compileFilter(bool background) {
    const CaptureWindowParams& p = *m_params;
    const QByteArray filter = filterText().toUtf8();
    if (filter.isEmpty())
        return {};
    const bpf_u_int32 netmask =
        p.netmaskSource == NetmaskSource::Fixed ? p.netmask : PCAP_NETMASK_UNKNOWN;
    pcap_t* compiler = background ? pcap_open_dead(DLT_EN10MB, p.snapLen) : m_source->handle();
    if (!compiler)
        return fail(CaptureStatus::CompileFailed, QStringLiteral("out of memory"));
    const bool compiled =
        pcap_compile(compiler, &m_program, filter.constData(), p.optimize, netmask) != -1;
    const QString compileError = compiled ? QString() : pcapText(compiler);
    if (background)
        pcap_close(compiler);
    if (!compiled)
        return fail(CaptureStatus::CompileFailed, compileError);
    m_haveProgram = true;
    if (background)
        return {}; // set on the handle when the header comes
    const int rc = pcap_setfilter(m_source->handle(), &m_program);
    // libpcap keeps its own copy of the program.
    pcap_freecode(&m_program);
    m_haveProgram = false;
    if (rc == -1)
        return fail(CaptureStatus::SetFilterFailed, pcapText(m_source->handle()));
    return {};
}

// On the capture thread: waits for a window's stream header and hands the
// outcome to the interface thread.
bool CaptureSession::openStreamInBackground(FrameSink& sink) {
    const std::optional<SourceResult> opened =
        m_source->openInBackground(sink, m_haveProgram ? &m_program : nullptr);
    if (!opened)
        return false; // Stop's wake-up: nothing to report
    if (!opened->ok()) {
        m_openFailure = *opened;
        postOpenOutcome(true);
        return false;
    }
    m_linkType = pcap_datalink(m_source->handle());
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
    fail(m_openFailure);
    tellStreamWait(StreamWait::Failed, m_adapter);
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
    m_source->wake();

    std::unique_lock lock(m_lock);
    const auto timeout = std::chrono::milliseconds(g_joinTimeoutMs.load());
    if (!m_wake.wait_for(lock, timeout, [this] { return m_threadDone; })) {
        lock.unlock();
        // The process ends with the thread stuck: a command or helper it
        // started must not outlive it.
        if (const pid_t group = processGroup(); group > 0)
            ::kill(-group, SIGKILL);
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

    m_source->closeHandle();
    if (m_haveProgram) {
        pcap_freecode(&m_program);
        m_haveProgram = false;
    }
    m_linkType = -1;
    if (waited)
        tellStreamWait(StreamWait::Stopped, m_adapter);
    m_dropped = m_source->finish();
    m_source.reset();
}

void CaptureSession::run() {
    pthread_setname_np(pthread_self(), "qarsilo-capture");
    clearUpperVectorState();
    FrameSink sink(*this);
    if (m_waiting.load(std::memory_order_acquire) && !openStreamInBackground(sink)) {
        // Either Stop, or the interface thread reports why and joins.
    } else {
        runLoop(sink);
    }
    {
        std::lock_guard lock(m_lock);
        m_threadDone = true;
    }
    m_wake.notify_all();
}

// The one loop of every source: it reads until Stop or the source's own end.
void CaptureSession::runLoop(FrameSink& sink) {
    QString why;             // set only by the read that ends the loop
    clearUpperVectorState(); // opening the source may have run AVX code
    while (!stopped()) {
        switch (m_source->read(sink, &why)) {
        case ReadStep::More:
            break;
        case ReadStep::Stopped:
            return;
        case ReadStep::EndOfFile:
            finishLoop(LoopEnd::EndOfFile, why);
            return;
        case ReadStep::Error:
            finishLoop(LoopEnd::Error, why);
            return;
        }
    }
}

int CaptureSession::ringBytes(int snapLen) {
    // Room for 16384 frames of the snapshot length, between 4 and 64 MiB.
    constexpr long long kFrames = 16384;
    constexpr long long kMin = 4ll << 20;
    constexpr long long kMax = 64ll << 20;
    const long long slot = (static_cast<long long>(snapLen) + 96 + 15) / 16 * 16;
    return static_cast<int>(std::clamp(slot * kFrames, kMin, kMax));
}

void CaptureSession::deliver(const pcap_pkthdr& header, const std::uint8_t* bytes) {
    // Frames already read when Stop began are dropped, not handed over.
    if (stopped() || !m_handler)
        return;
    // Whatever the source, a frame looks as the window would have captured it
    // live: a file's or a stream's frames are cut to the snapshot length.
    const auto snapLen = static_cast<bpf_u_int32>(m_params->snapLen);
    if (header.caplen <= snapLen) {
        m_handler(header, bytes);
    } else {
        pcap_pkthdr cut = header;
        cut.caplen = snapLen;
        m_handler(cut, bytes);
    }
    // A handler that ran Qt's wide vector code (hashing a QString, say)
    // leaves the upper register halves in use for the reading's SSE copies.
    clearUpperVectorState();
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
