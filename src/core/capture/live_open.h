#pragma once

// Opening a live adapter, shared by the window process (capture in process)
// and the capture helper program, which links libpcap only: no Qt here.

#include <pcap/pcap.h>

#include <string>

namespace qarsilo {

/// The steps of a live open that can fail, in the order they run.
enum class LiveOpenStatus : int {
    Ok,
    OpenFailed,
    NotEthernet,
    NetmaskFailed,
    CompileFailed,
    SetFilterFailed,
};

struct LiveOpenRequest {
    std::string device;
    int snapLen = 65535;
    int bufferBytes = 0; ///< the kernel ring; 0 leaves libpcap's default
    int readTimeoutMs = 50;
    /// Each frame as it comes (libpcap's immediate mode, a ring of fixed
    /// slots), or whole blocks of the ring once full or after readTimeoutMs.
    bool immediate = true;
    std::string filter; ///< empty: every frame
    int optimize = 0;
    bool fixedNetmask = false; ///< use `netmask` instead of the adapter's
    bpf_u_int32 netmask = 0;
    bool netmaskRequired = false; ///< a failed lookup abandons the open
};

struct LiveOpenResult {
    pcap_t* handle = nullptr; ///< set for Ok only
    LiveOpenStatus status = LiveOpenStatus::Ok;
    std::string error; ///< libpcap's (or the system's) text
    int linkType = -1;
};

/// Creates, activates and filters a handle for `request`; on failure nothing
/// stays open. A non-Ethernet link fails before the filter is compiled.
LiveOpenResult openLive(const LiveOpenRequest& request);

/// openLive in two steps, for a caller that gives up rights in between: the
/// device (created, activated, its link checked), then the filter on that
/// handle. Either closes the handle when it fails.
LiveOpenResult openLiveDevice(const LiveOpenRequest& request);
LiveOpenResult setLiveFilter(pcap_t* handle, const LiveOpenRequest& request);

/// The link type of libpcap's pseudo-devices that are no network adapter
/// (nflog, nfqueue, the D-Bus, USB and Bluetooth monitors), known from the
/// name alone; -1 for any other name.
int pseudoDeviceLinkType(const std::string& device);

/// The status's name on the helper's status channel, and back (OpenFailed for
/// an unknown name).
const char* liveOpenStatusName(LiveOpenStatus status);
LiveOpenStatus liveOpenStatusFromName(const std::string& name);

/// A text on one line of the status channel: backslashes and line breaks escaped.
std::string escapeStatusText(const std::string& text);
std::string unescapeStatusText(const std::string& text);

} // namespace qarsilo
