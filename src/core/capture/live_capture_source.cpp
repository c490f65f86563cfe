#include "core/capture/capture_session.h"
#include "core/capture/capture_source.h"

#include <atomic>

namespace qarsilo {

namespace {

// 0: each row's choice; else the LiveWake value plus one.
std::atomic<int> g_wakeOverride{0};

/// A live device opened in this process (tests, or running as root without
/// the capture helper).
class LiveCaptureSource final : public CaptureSource {
public:
    using CaptureSource::CaptureSource;

    SourceResult open() override {
        const CaptureWindowParams& p = params();
        LiveOpenRequest request;
        request.device = m_config.adapter.toLocal8Bit().toStdString();
        request.snapLen = p.snapLen;
        // In immediate mode each ring slot holds a whole snapshot length, so
        // libpcap's default 2 MiB ring buffers only a few milliseconds of a
        // busy link; a window descheduled for longer would lose frames. (The
        // block ring packs frames by length and holds many more in as much.)
        request.bufferBytes = CaptureSession::ringBytes(p.snapLen);
        request.readTimeoutMs = kLiveReadTimeoutMs;
        request.immediate = liveWakeFor(p) == LiveWake::PerFrame;
        request.filter = m_config.filter.toUtf8().toStdString();
        request.optimize = p.optimize;
        request.fixedNetmask = p.netmaskSource == NetmaskSource::Fixed;
        request.netmask = p.netmask;
        request.netmaskRequired = p.netmaskFailure != FailureReport::Ignore;
        const LiveOpenResult opened = openLive(request);
        if (opened.status != LiveOpenStatus::Ok)
            return liveOpenFailure(opened.status, QString::fromLocal8Bit(opened.error.c_str()),
                                   opened.linkType, m_config.adapter);
        m_handle = opened.handle;
        return {};
    }

    bool filteredBySession() const override { return false; }

    ReadStep read(FrameSink& sink, QString* why) override {
        const int n = pcap_dispatch(m_handle, -1, &LiveCaptureSource::callback,
                                    reinterpret_cast<u_char*>(&sink));
        if (n >= 0 || n == PCAP_ERROR_BREAK)
            return ReadStep::More; // the stopped flag decides
        *why = pcapText(m_handle);
        return ReadStep::Error;
    }

    // Live reads sleep in poll(); libpcap's break wakes them.
    void wake() override { pcap_breakloop(m_handle); }

    void closeHandle() override {
        // The counters live in the handle; read them while it is still open.
        pcap_stat stats{};
        if (pcap_stats(m_handle, &stats) == 0)
            m_dropped = stats.ps_drop;
        CaptureSource::closeHandle();
    }

    unsigned finish() override { return m_dropped; }

    unsigned droppedSoFar() const override {
        // The counters come from the kernel by getsockopt; the capture thread
        // does not touch them.
        pcap_stat stats{};
        return pcap_stats(m_handle, &stats) == 0 ? stats.ps_drop : 0;
    }

private:
    static void callback(u_char* user, const pcap_pkthdr* header, const u_char* bytes) {
        reinterpret_cast<FrameSink*>(user)->deliver(*header, bytes);
    }

    unsigned m_dropped = 0; // read from the handle just before it closes
};

} // namespace

LiveWake liveWakeFor(const CaptureWindowParams& params) {
    const int wake = g_wakeOverride.load(std::memory_order_relaxed);
    return wake ? static_cast<LiveWake>(wake - 1) : params.wake;
}

void overrideLiveWake(std::optional<LiveWake> wake) {
    g_wakeOverride.store(wake ? static_cast<int>(*wake) + 1 : 0, std::memory_order_relaxed);
}

std::unique_ptr<CaptureSource> makeLiveSource(SourceConfig config) {
    return std::make_unique<LiveCaptureSource>(std::move(config));
}

} // namespace qarsilo
