#include "core/capture/live_open.h"

#include <algorithm>
#include <array>
#include <string_view>

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
    const LiveOpenResult opened = openLiveDevice(request);
    if (opened.status != LiveOpenStatus::Ok)
        return opened;
    return setLiveFilter(opened.handle, request);
}

LiveOpenResult openLiveDevice(const LiveOpenRequest& request) {
    // Activating a pseudo-device already does its work (joins a netfilter log
    // group, connects to a message bus); refuse those before that.
    if (const int pseudo = pseudoDeviceLinkType(request.device); pseudo >= 0) {
        LiveOpenResult r = failed(nullptr, LiveOpenStatus::NotEthernet, {});
        r.linkType = pseudo;
        return r;
    }
    char errbuf[PCAP_ERRBUF_SIZE] = {};
    pcap_t* handle = pcap_create(request.device.c_str(), errbuf);
    if (!handle)
        return failed(nullptr, LiveOpenStatus::OpenFailed, errbuf);
    pcap_set_snaplen(handle, request.snapLen);
    pcap_set_promisc(handle, 1);
    // Immediate: frames reach the reader one by one as they arrive. Otherwise
    // libpcap uses the kernel's block ring (TPACKET_V3): frames are packed by
    // their own length and the reader wakes once per block or read timeout.
    pcap_set_immediate_mode(handle, request.immediate ? 1 : 0);
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
    LiveOpenResult r;
    r.handle = handle;
    r.linkType = linkType;
    return r;
}

LiveOpenResult setLiveFilter(pcap_t* handle, const LiveOpenRequest& request) {
    if (!request.filter.empty()) {
        char errbuf[PCAP_ERRBUF_SIZE] = {};
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
    r.linkType = pcap_datalink(handle);
    return r;
}

int pseudoDeviceLinkType(const std::string& device) {
    const auto named = [&device](std::string_view prefix, bool (*rest)(std::string_view)) {
        const std::string_view name(device);
        return name.substr(0, prefix.size()) == prefix && rest(name.substr(prefix.size()));
    };
    // The name forms libpcap hands to these modules instead of a packet socket.
    const auto endOrGroup = [](std::string_view rest) { return rest.empty() || rest[0] == ':'; };
    const auto number = [](std::string_view rest) {
        return !rest.empty() &&
               std::all_of(rest.begin(), rest.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    const auto end = [](std::string_view rest) { return rest.empty(); };
    const auto any = [](std::string_view) { return true; };
    if (named("nflog", endOrGroup))
        return DLT_NFLOG;
    if (named("nfqueue", endOrGroup))
        return DLT_IPV4;
    if (named("dbus-system", end) || named("dbus-session", end) || named("dbus://", any))
        return DLT_DBUS;
    if (named("usbmon", number))
        return DLT_USB_LINUX_MMAPPED;
    if (named("bluetooth-monitor", end))
        return DLT_BLUETOOTH_LINUX_MONITOR;
    if (named("bluetooth", number))
        return DLT_BLUETOOTH_HCI_H4_WITH_PHDR;
    return -1;
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
