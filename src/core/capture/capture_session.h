#pragma once

#include <QString>
#include <pcap/pcap.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include <sys/types.h>

namespace qarsilo {

class StreamSource;

/// The windows that capture traffic. Each has one row in kCaptureWindows.
enum class CaptureWindow : std::uint8_t {
    CaptureDecodeView,
    GeneralInfoView,
    PacketSizeView,
    PDL2View,
    PDL3View,
    PDv6L3View,
    PDv4v6L3View,
    PDAppView,
    SingleNodeView,
    TrafficTraceSingle,
    AutoDiscovery,
    /// qarsilo-cli: the analyzer's snapshot length (a whole standard frame;
    /// larger ones make libpcap's ring hold few frames and drop under load),
    /// every failure told to the caller only.
    CommandLine,
};

/// Where a session's filter text comes from.
enum class FilterSource : std::uint8_t {
    None,  ///< every frame is captured
    Table, ///< the row's fixed text for the session's slot
    Owner, ///< the window sets it with CaptureSession::setFilter (empty: no filter)
};

/// The netmask handed to pcap_compile.
enum class NetmaskSource : std::uint8_t {
    None,   ///< no filter, nothing to compile
    Lookup, ///< pcap_lookupnet on the adapter (unknown for capture files)
    Fixed,  ///< the row's fixed value; the adapter is still looked up
};

/// How the failure of one start step reaches the operator. Every failure
/// except Ignore abandons the start and is also told by the start result.
enum class FailureReport : std::uint8_t {
    MessageBox,    ///< "Error opening selected adapter" and the reason on a second line,
                   ///< caption "Error", error icon; also on the standard error stream
    StandardError, ///< the step's text on the standard error stream
    Caller,        ///< only the start result tells it
    Ignore,        ///< carry on (netmask lookup only: the netmask counts as unknown)
};

/// One window's capture parameters.
struct CaptureWindowParams {
    CaptureWindow window;
    int sessions; ///< 1 or 2; a session's slot is 0 or 1
    int snapLen;
    FilterSource filterSource;
    std::array<const char*, 2> filters; ///< per slot, for FilterSource::Table
    int optimize;
    NetmaskSource netmaskSource;
    bpf_u_int32 netmask; ///< for NetmaskSource::Fixed, as pcap_lookupnet would return it
    FailureReport openFailure;
    FailureReport netmaskFailure;
    FailureReport filterFailure;            ///< pcap_compile and pcap_setfilter
    std::array<const char*, 2> threadNames; ///< per slot, named in the fatal message; may be null
};

namespace detail {
// 255.255.255.0 as the chart windows have always passed it (network byte order
// read on a little-endian host). Their filters ("ip", "ip6", "tcp", "udp") never
// test broadcast addresses, so the value does not change what they capture.
inline constexpr bpf_u_int32 kChartNetmask = 0x00FFFFFF;

using FR = FailureReport;
using FS = FilterSource;
using NS = NetmaskSource;
using W = CaptureWindow;
inline constexpr std::array<const char*, 2> kNone{nullptr, nullptr};
} // namespace detail

/// The capture parameters of every window, indexed by CaptureWindow.
///
/// Opening fails alike everywhere. A filter that does not compile abandons the
/// start in every window: capturing unfiltered would show the operator traffic
/// the window claims to have filtered out. The netmask is looked up only for a
/// filter; its failure stops only the chart views, the others compile without it.
// clang-format off
inline constexpr std::array<CaptureWindowParams, 12> kCaptureWindows = [] {
    using namespace detail;
    return std::array<CaptureWindowParams, 12>{{
    //  window                 n  snap  filter     filters         opt netmask     mask           open            netmask           filter            thread names
        {W::CaptureDecodeView,  1, 1514, FS::Owner, kNone,           0, NS::Lookup, 0,             FR::MessageBox, FR::Ignore,        FR::Caller,        kNone},
        {W::GeneralInfoView,    1, 64,   FS::None,  kNone,           0, NS::None,   0,             FR::MessageBox, FR::Ignore,        FR::Caller,        kNone},
        {W::PacketSizeView,     1, 64,   FS::None,  kNone,           0, NS::None,   0,             FR::MessageBox, FR::StandardError, FR::StandardError, kNone},
        {W::PDL2View,           1, 64,   FS::None,  kNone,           0, NS::None,   0,             FR::MessageBox, FR::StandardError, FR::StandardError, kNone},
        {W::PDL3View,           1, 64,   FS::Table, {"ip", nullptr}, 1, NS::Fixed,  kChartNetmask, FR::MessageBox, FR::StandardError, FR::StandardError, kNone},
        {W::PDv6L3View,         1, 64,   FS::Table, {"ip6", nullptr},1, NS::Fixed,  kChartNetmask, FR::MessageBox, FR::StandardError, FR::StandardError, kNone},
        {W::PDv4v6L3View,       2, 64,   FS::Table, {"ip", "ip6"},   1, NS::Fixed,  kChartNetmask, FR::MessageBox, FR::StandardError, FR::StandardError, {"IPv4", "IPv6"}},
        {W::PDAppView,          2, 64,   FS::Table, {"tcp", "udp"},  1, NS::Fixed,  kChartNetmask, FR::MessageBox, FR::StandardError, FR::StandardError, kNone},
        {W::SingleNodeView,     2, 64,   FS::Owner, kNone,           0, NS::Lookup, 0,             FR::MessageBox, FR::Ignore,        FR::Caller,        {"To", "From"}},
        {W::TrafficTraceSingle, 1, 10000,FS::Owner, kNone,           0, NS::Lookup, 0,             FR::MessageBox, FR::Ignore,        FR::Caller,        kNone},
        {W::AutoDiscovery,      1, 10000,FS::Owner, kNone,           0, NS::Lookup, 0,             FR::MessageBox, FR::Ignore,        FR::Caller,        kNone},
        {W::CommandLine,        1, 1514, FS::Owner, kNone,           1, NS::Lookup, 0,             FR::Caller,     FR::Ignore,        FR::Caller,        kNone},
    }};
}();
// clang-format on

/// The row of `window`.
constexpr const CaptureWindowParams& captureWindowParams(CaptureWindow window) {
    return kCaptureWindows[static_cast<std::size_t>(window)];
}

namespace detail {
constexpr bool tableInWindowOrder() {
    for (std::size_t i = 0; i < kCaptureWindows.size(); ++i)
        if (static_cast<std::size_t>(kCaptureWindows[i].window) != i)
            return false;
    return true;
}
static_assert(tableInWindowOrder(), "kCaptureWindows is indexed by CaptureWindow");
} // namespace detail

/// Texts written to the standard error stream by windows whose row says StandardError.
inline constexpr const char* kNetmaskErrorText = "\nUnable to obtain the netmask.\n";
inline constexpr const char* kCompileErrorText = "\nError compiling filter: wrong syntax.\n";
inline constexpr const char* kSetFilterErrorText = "\nError setting the filter\n";

/// The outcome of CaptureSession::start.
enum class CaptureStatus : std::uint8_t {
    Started,
    AlreadyRunning, ///< start on a running session changes nothing
    OpenFailed,     ///< no handle (no adapter selected, device or file not opened)
    NotEthernet,    ///< opened, but its frames are not Ethernet (the error names the link type)
    NetmaskFailed,
    CompileFailed,
    SetFilterFailed,
    ThreadFailed, ///< the capture thread could not be created
};

struct CaptureStartResult {
    CaptureStatus status = CaptureStatus::Started;
    QString error; ///< libpcap's (or the system's) text for a failure
    bool ok() const { return status == CaptureStatus::Started; }
};

/// How a capture file is read.
enum class FileReplay : std::uint8_t {
    Paced,            ///< frames follow the file's time stamps (real time at speed 1)
    AsFastAsPossible, ///< for windows without a clock, such as the analyzer
};

/// Why the capture loop ended by itself (Stop is not counted).
enum class LoopEnd : std::uint8_t {
    Running,   ///< the loop runs, or Stop ended it
    EndOfFile, ///< the capture file (or stream) is read to its end
    Error,     ///< the adapter or the file failed; loopError() tells why
};

/// Adapter names of the form "pipe:COMMAND" read the pcap stream COMMAND
/// writes on its standard output (run by /bin/sh in a process group of its own).
inline constexpr const char* kCommandAdapterPrefix = "pipe:";
/// The adapter name that reads a pcap stream from the standard input.
inline constexpr const char* kStandardInputAdapter = "-";
bool isCommandAdapter(const QString& adapterName);
/// A stream source: a "pipe:" command or the standard input.
bool isStreamAdapter(const QString& adapterName);

/// Where the wait for a stream's capture header stands (windows only: the
/// command line still waits in start).
enum class StreamWait : std::uint8_t {
    Waiting, ///< start returned; the capture thread waits for the header
    Arrived, ///< the header came; frames follow
    Failed,  ///< the source failed before its header; the failure was reported and
             ///< the session is stopped
    Stopped, ///< Stop came before the header
};

/// One libpcap handle, at most one compiled filter and one capture thread that
/// feeds one packet handler. Started and stopped by the owning window on its
/// interface thread. The adapter name may be a live device, "file:PATH",
/// "pipe:COMMAND" or "-" (the standard input). Live devices are opened by the
/// capture helper program when there is one (see captureHelper()), else here.
class CaptureSession {
public:
    /// Called on the capture thread for every frame that passes the filter.
    /// The bytes are valid only during the call. It must not throw nor call
    /// stop(); frames still buffered when Stop begins are not handed over.
    using Handler = std::function<void(const pcap_pkthdr& header, const std::uint8_t* bytes)>;
    /// Called on the capture thread, once, when the loop ends by itself (end of
    /// a capture file, adapter error). It must not call stop().
    using EndHandler = std::function<void(LoopEnd how)>;

    /// `slot` selects the session of a two-session window (0 or 1).
    explicit CaptureSession(CaptureWindow window, int slot = 0);
    /// Stops the session.
    ~CaptureSession();
    CaptureSession(const CaptureSession&) = delete;
    CaptureSession& operator=(const CaptureSession&) = delete;

    const CaptureWindowParams& params() const { return *m_params; }
    int slot() const { return m_slot; }

    /// Set while stopped.
    void setHandler(Handler handler) { m_handler = std::move(handler); }
    void setEndHandler(EndHandler handler) { m_endHandler = std::move(handler); }
    /// The filter of windows whose row says FilterSource::Owner; empty for none.
    /// Takes effect at the next start.
    void setFilter(const QString& text) { m_ownerFilter = text; }
    /// The filter text the next start compiles (empty: none).
    QString filterText() const;
    /// Whether start waits for a stream's capture header itself (the command
    /// line, which has nothing else to do meanwhile) or leaves it to the capture
    /// thread (windows: see waitingForStream and setStreamWaitHandler). By
    /// default only the CommandLine row waits in start.
    void setStreamHeaderInStart(bool inStart) { m_headerInStart = inStart; }
    /// How capture files are read; `speed` scales paced replay (2 = twice as fast).
    void setFileReplay(FileReplay mode, double speed = 1.0);

    /// Opens the process-wide selected adapter.
    CaptureStartResult start();
    /// Opens `adapterName` (a device, "file:PATH", "pipe:COMMAND" or "-"), compiles and sets the
    /// filter and starts the capture thread. Failures are reported as the
    /// window's row says and leave the session stopped.
    CaptureStartResult start(const QString& adapterName);
    /// Sets the stopped flag, ends the loop, joins the thread and closes the
    /// handle. After it returns no handler of this session runs. A thread that
    /// does not end within the join timeout is fatal: the message box of
    /// fatalMessage() and the exit function with code 0.
    void stop();

    /// Running: a handle is open (even when a file was read to its end), or a
    /// stream's header is awaited. Read on the interface thread.
    bool isRunning() const { return m_active; }
    /// A window's stream source was started and its capture header has not
    /// come yet. Safe from any thread.
    bool waitingForStream() const { return m_waiting.load(std::memory_order_acquire); }
    /// The stopped flag: true before the first start and from the beginning of
    /// stop. Safe to read from any thread, handlers included.
    bool stopped() const { return m_stopped.load(std::memory_order_acquire); }
    /// Safe from any thread.
    LoopEnd loopEnd() const { return m_loopEnd.load(std::memory_order_acquire); }
    /// The failure behind LoopEnd::Error; for a stream that ended by itself,
    /// how it ended (a command's exit and its last standard error lines).
    QString loopError() const;
    /// The adapter opened by the last start.
    QString adapter() const { return m_adapter; }
    bool readsFile() const { return m_isFile; }
    /// The process group of a "pipe:" command or of the capture helper while
    /// running; 0 otherwise.
    pid_t processGroup() const;
    /// Frames the system dropped during the last live run for want of room
    /// (libpcap's counters, read at stop); 0 for capture files.
    unsigned droppedFrames() const { return m_dropped; }
    /// Frames the system dropped so far in a live run (0 for files and while stopped).
    unsigned droppedSoFar() const;
    /// The link type (DLT_*) of the open handle; -1 while stopped. Set before
    /// the capture thread starts, so handlers may read it.
    int linkType() const;

    /// "Fatal Error: cannot terminate the capture thread", or the variant that
    /// names the window's thread.
    static QString fatalMessage(CaptureWindow window, int slot);
    /// How long stop waits for the thread before the fatal message (default 5 s).
    static void setJoinTimeout(std::chrono::milliseconds timeout);
    /// The function that ends the process after the fatal message (default:
    /// flush the standard streams and _Exit). nullptr restores the default.
    /// Should a replacement return, stop goes on waiting for the thread.
    static void setFatalExit(void (*exitFunction)(int));
    /// The kernel ring buffer a live handle gets for `snapLen`.
    static int ringBytes(int snapLen);
    /// The capture helper program that opens live devices; empty: they are
    /// opened in this process. By default the environment variable
    /// QARSILO_CAPTURE_HELPER (a path; empty or "none" for in process), else
    /// qarsilo-capture beside the running program or in its parent folder.
    static QString captureHelper();
    /// Overrides the default for the sessions started from now on; a null
    /// string restores it, an empty one captures in process.
    static void setCaptureHelper(const QString& path);
    /// Told on the interface thread how the wait for a window's stream goes
    /// (the main frame shows it in the status bar). Empty: nobody is told.
    using StreamWaitHandler = std::function<void(StreamWait state, const QString& adapter)>;
    static void setStreamWaitHandler(StreamWaitHandler handler);

private:
    /// `boxDetail`, when given, is the message box's second line instead of `error`.
    CaptureStartResult fail(CaptureStatus status, QString error, FailureReport report,
                            const char* standardErrorText, const QString& boxDetail = {});
    void run();
    void runLive();
    void runFile();
    void runStream();
    CaptureStartResult openStream(const QString& adapterName);
    CaptureStartResult spawnStream(const QString& adapterName);
    QString streamHeaderFailure(const char* errbuf);
    bool openStreamInBackground();
    void postOpenOutcome(bool failed);
    void settleOpen(bool failed);
    CaptureStartResult openWithHelper(const QString& helper, const QString& device);
    CaptureStartResult failLive(int status, const QString& error, int linkType);
    QString streamEndText();
    void deliver(const pcap_pkthdr* header, const std::uint8_t* bytes);
    void finishLoop(LoopEnd how, const QString& error);
    bool waitUntil(std::chrono::steady_clock::time_point due);
    static void pcapCallback(u_char* user, const pcap_pkthdr* header, const u_char* bytes);

    const CaptureWindowParams* m_params;
    int m_slot;
    Handler m_handler;
    EndHandler m_endHandler;
    QString m_ownerFilter;
    FileReplay m_replay = FileReplay::Paced;
    double m_speed = 1.0;

    QString m_adapter;
    bool m_isFile = false;
    bool m_viaHelper = false;
    pcap_t* m_handle = nullptr;
    std::unique_ptr<StreamSource> m_stream; // pipe:, standard input, capture helper
    std::atomic<int> m_linkType{-1};
    bool m_active = false;
    bool m_headerInStart;
    // A window's stream waits for its header on the capture thread, with the
    // filter compiled beforehand; the outcome comes back to the interface
    // thread unless Stop (which sets the token) came first.
    std::atomic<bool> m_waiting{false};
    bpf_program m_program{};
    bool m_haveProgram = false;
    std::shared_ptr<bool> m_openCancelled;
    bool m_toldWaiting = false; // the wait handler heard Waiting and nothing after it
    CaptureStatus m_openStatus = CaptureStatus::Started;
    QString m_openError;
    QString m_openDetail;
    unsigned m_dropped = 0;
    bpf_u_int32 m_net = 0;
    bpf_u_int32 m_mask = 0;
    std::thread m_thread;

    std::atomic<bool> m_stopped{true};
    std::atomic<LoopEnd> m_loopEnd{LoopEnd::Running};
    QString m_loopError; // written before m_loopEnd is released

    // The paced wait and the thread's end are signalled through one condition.
    mutable std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_threadDone = false;
};

} // namespace qarsilo
