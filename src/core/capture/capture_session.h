#pragma once

#include "core/capture/capture_params.h"

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

class CaptureSource;
class FrameSink;

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
    friend class FrameSink;
    /// Reports as the window's row says for `status` and leaves the session
    /// stopped. `boxDetail`, when given, is the message box's second line
    /// instead of `error`.
    CaptureStartResult fail(CaptureStatus status, QString error, const QString& boxDetail = {});
    CaptureStartResult fail(const SourceResult& failure);
    CaptureStartResult compileFilter(bool background);
    void run();
    void runLoop(FrameSink& sink);
    bool openStreamInBackground(FrameSink& sink);
    void postOpenOutcome(bool failed);
    void settleOpen(bool failed);
    void deliver(const pcap_pkthdr& header, const std::uint8_t* bytes);
    void finishLoop(LoopEnd how, const QString& error);
    bool waitUntil(std::chrono::steady_clock::time_point due);

    const CaptureWindowParams* m_params;
    int m_slot;
    Handler m_handler;
    EndHandler m_endHandler;
    QString m_ownerFilter;
    FileReplay m_replay = FileReplay::Paced;
    double m_speed = 1.0;

    QString m_adapter;
    bool m_isFile = false;
    // The open source: its handle and whatever feeds it. Made by start, read
    // by the capture thread, ended by Stop after the join.
    std::unique_ptr<CaptureSource> m_source;
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
    SourceResult m_openFailure; // a background open's failure, for the interface thread
    unsigned m_dropped = 0;
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
