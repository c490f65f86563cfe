#pragma once

#include "core/capture/adapter_name.h"
#include "core/capture/capture_params.h"
#include "core/capture/live_open.h"

#include <QString>
#include <pcap/pcap.h>

#include <chrono>
#include <memory>
#include <optional>

#include <sys/types.h>

namespace qarsilo {

/// A poll wake-up now and then for live reads of frames one by one, so a Stop
/// that libpcap's own wake-up missed is still seen within this time. Windows
/// that read the ring by blocks get a block at the latest this long after its
/// first frame; there libpcap waits without a timeout of its own, and only
/// its break (wake()) ends the wait.
inline constexpr int kLiveReadTimeoutMs = 50;

class CaptureSession;

/// How `params`'s window reads a live adapter: its row's choice, unless
/// overridden.
LiveWake liveWakeFor(const CaptureWindowParams& params);
/// For comparisons of the two ways: every live session started from now on
/// reads as `wake` says, whatever its row; nullopt restores the rows.
void overrideLiveWake(std::optional<LiveWake> wake);

/// What a source's reads hand frames to: the session, on the capture thread.
/// Calls straight into the session (there is no other receiver), so a frame
/// costs no virtual call on its way to the handler.
class FrameSink {
public:
    explicit FrameSink(CaptureSession& session)
        : m_session(session) {}
    /// The session's stopped flag.
    bool stopped() const;
    /// One frame, cut to the window's snapshot length; dropped once Stop began.
    void deliver(const pcap_pkthdr& header, const u_char* bytes);
    /// Waits until `due`; false when Stop came first.
    bool waitUntil(std::chrono::steady_clock::time_point due);

private:
    CaptureSession& m_session;
};

/// How one read of a source went.
enum class ReadStep : std::uint8_t {
    More,      ///< frames (or none yet): read again unless stopped
    Stopped,   ///< Stop's wake-up ended the read
    EndOfFile, ///< the source ended by itself
    Error,     ///< the source failed
};

/// What a source is opened with.
struct SourceConfig {
    const CaptureWindowParams* params = nullptr;
    QString adapter; ///< the adapter name as given
    AdapterName name;
    QString filter; ///< for sources that filter themselves (live devices)
    FileReplay replay = FileReplay::Paced;
    double speed = 1.0;
};

/// Where a session's frames come from: a capture file, a pcap stream (a
/// command or the standard input), the capture helper, or a device opened in
/// this process. Opened on the interface thread, read on the capture thread,
/// woken by Stop from the interface thread and ended there after the join.
class CaptureSource {
public:
    explicit CaptureSource(SourceConfig config)
        : m_config(std::move(config)) {}
    /// Closes the handle; a child process is ended.
    virtual ~CaptureSource();
    CaptureSource(const CaptureSource&) = delete;
    CaptureSource& operator=(const CaptureSource&) = delete;

    /// Opens the source; a stream that waits in the background only starts here.
    virtual SourceResult open() = 0;
    /// Whether the session compiles the filter and sets it on handle(). Live
    /// devices are filtered where they are opened.
    virtual bool filteredBySession() const { return true; }
    /// On the capture thread, for a stream whose header is awaited there:
    /// waits for it and sets `program` (when given) on the new handle.
    /// Nothing when Stop came first.
    virtual std::optional<SourceResult> openInBackground(const FrameSink& sink,
                                                         bpf_program* program);
    /// On the capture thread: reads and hands over what came. `why` is set for
    /// an end or an error.
    virtual ReadStep read(FrameSink& sink, QString* why) = 0;
    /// Stop: makes a blocked read return. Safe from the interface thread.
    virtual void wake() {}
    /// After the join: closes the handle (a live one's counters are read first).
    virtual void closeHandle();
    /// After closeHandle: ends what feeds the handle; the frames the system
    /// dropped during the run.
    virtual unsigned finish() { return 0; }
    /// Frames dropped so far in the run.
    virtual unsigned droppedSoFar() const { return 0; }
    /// The process group of a child feeding the stream; 0 otherwise.
    virtual pid_t processGroup() const { return 0; }

    pcap_t* handle() const { return m_handle; }

protected:
    const CaptureWindowParams& params() const { return *m_config.params; }

    SourceConfig m_config;
    pcap_t* m_handle = nullptr;
};

std::unique_ptr<CaptureSource> makeFileSource(SourceConfig config);
/// `background`: the header is awaited on the capture thread.
std::unique_ptr<CaptureSource> makeStreamSource(SourceConfig config, bool background);
std::unique_ptr<CaptureSource> makeHelperSource(SourceConfig config, QString helper);
std::unique_ptr<CaptureSource> makeLiveSource(SourceConfig config);

/// libpcap's text for the handle's last failure.
QString pcapText(pcap_t* handle);
/// "its frames are not Ethernet (link type NAME)".
QString notEthernetText(int linkType);
/// A failed open as a live open tells it (in this process or in the
/// helper); `source` names the adapter in the box for NotEthernet.
SourceResult liveOpenFailure(LiveOpenStatus status, const QString& error, int linkType,
                             const QString& source);

} // namespace qarsilo
