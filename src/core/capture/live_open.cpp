#include "core/capture/live_open.h"

#include <array>

namespace qarsilo {

namespace {

// What the operator can do about a refused capture right.
std::string permissionHint(int status) {
    if (status == PCAP_ERROR_PERM_DENIED)
        return "capturing needs the cap_net_raw capability; scripts/run.sh grants it to the "
               "capture helper qarsilo-capture";
    if (status == PCAP_ERROR_PROMISC_PERM_DENIED)
        return "promiscuous mode needs the cap_net_admin capability; scripts/run.sh grants it to "
               "the capture helper qarsilo-capture";
    return {};
}

LiveOpenResult failed(pcap_t* handle, LiveOpenStatus status, std::string error) {
    if (handle)
        pcap_close(handle);
    LiveOpenResult r;
    r.status = status;
    r.error = std::move(error);
    return r;
}

constexpr std::array<const char*, 6> kStatusNames{
    "Ok", "OpenFailed", "NotEthernet", "NetmaskFailed", "CompileFailed", "SetFilterFailed"};

} // namespace

LiveOpenResult openLive(const LiveOpenRequest& request) {
    char errbuf[PCAP_ERRBUF_SIZE] = {};
    pcap_t* handle = pcap_create(request.device.c_str(), errbuf);
    if (!handle)
        return failed(nullptr, LiveOpenStatus::OpenFailed, errbuf);
    pcap_set_snaplen(handle, request.snapLen);
    pcap_set_promisc(handle, 1);
    // Frames reach the reader one by one as they arrive, not in batches.
    pcap_set_immediate_mode(handle, 1);
    pcap_set_timeout(handle, request.readTimeoutMs);
    if (request.bufferBytes > 0)
        pcap_set_buffer_size(handle, request.bufferBytes);
    const int rc = pcap_activate(handle);
    if (rc < 0) {
        std::string error = pcap_statustostr(rc);
        const std::string detail = pcap_geterr(handle);
        if (!detail.empty() && detail != error)
            error += ": " + detail;
        const std::string hint = permissionHint(rc);
        if (!hint.empty())
            error += "\n" + hint;
        return failed(handle, LiveOpenStatus::OpenFailed, error);
    }
    const int linkType = pcap_datalink(handle);
    // Every window decodes Ethernet frames; other framing (raw IP, cooked
    // captures of "any", 802.11) would be read at the wrong offsets.
    if (linkType != DLT_EN10MB) {
        LiveOpenResult r = failed(handle, LiveOpenStatus::NotEthernet, {});
        r.linkType = linkType;
        return r;
    }

    if (!request.filter.empty()) {
        bpf_u_int32 net = 0;
        bpf_u_int32 mask = PCAP_NETMASK_UNKNOWN;
        if (pcap_lookupnet(request.device.c_str(), &net, &mask, errbuf) == -1) {
            if (request.netmaskRequired)
                return failed(handle, LiveOpenStatus::NetmaskFailed, errbuf);
            // Only tests for IPv4 broadcast addresses need it; they fail to compile.
            mask = PCAP_NETMASK_UNKNOWN;
        }
        bpf_program program{};
        if (pcap_compile(handle, &program, request.filter.c_str(), request.optimize,
                         request.fixedNetmask ? request.netmask : mask) == -1)
            return failed(handle, LiveOpenStatus::CompileFailed, pcap_geterr(handle));
        const int set = pcap_setfilter(handle, &program);
        // libpcap keeps its own copy of the program (and the kernel another).
        pcap_freecode(&program);
        if (set == -1)
            return failed(handle, LiveOpenStatus::SetFilterFailed, pcap_geterr(handle));
    }
    LiveOpenResult r;
    r.handle = handle;
    r.linkType = linkType;
    return r;
}

const char* liveOpenStatusName(LiveOpenStatus status) {
    return kStatusNames[static_cast<std::size_t>(status)];
}

LiveOpenStatus liveOpenStatusFromName(const std::string& name) {
    for (std::size_t i = 0; i < kStatusNames.size(); ++i)
        if (name == kStatusNames[i])
            return static_cast<LiveOpenStatus>(i);
    return LiveOpenStatus::OpenFailed;
}

std::string escapeStatusText(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

std::string unescapeStatusText(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            ++i;
            out += text[i] == 'n' ? '\n' : text[i];
        } else {
            out += text[i];
        }
    }
    return out;
}

} // namespace qarsilo
