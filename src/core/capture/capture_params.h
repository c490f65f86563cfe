#pragma once

// Every capturing window's parameters, and what a start and a capture loop
// come to.

#include <QString>
#include <pcap/pcap.h>

#include <array>
#include <cstddef>
#include <cstdint>

namespace qarsilo {

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
    /// The conversations and endpoints windows: every frame, enough of it for
    /// two VLAN tags, IPv6 extension headers and the ports.
    TalkView,
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

/// How a live adapter hands its frames to the capture thread.
enum class LiveWake : std::uint8_t {
    /// Each frame as it arrives (libpcap's immediate mode): for the trace,
    /// which picks frames up every 10 ms to animate them one by one, and for
    /// the command line's output.
    PerFrame,
    /// Whole blocks of the kernel's ring, handed over when full or after the
    /// read timeout (kLiveReadTimeoutMs): one wake-up for many frames, and a
    /// ring that holds frames by their length, not by the snapshot length.
    /// For windows that draw what they counted once a second, and the
    /// analyzer, whose list takes new frames every 100 ms.
    Buffered,
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
    LiveWake wake;                          ///< live adapters only
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
using LW = LiveWake;
inline constexpr std::array<const char*, 2> kNone{nullptr, nullptr};
} // namespace detail

/// The capture parameters of every window, indexed by CaptureWindow.
///
/// Opening fails alike everywhere. A filter that does not compile abandons the
/// start in every window: capturing unfiltered would show the operator traffic
/// the window claims to have filtered out. The netmask is looked up only for a
/// filter; its failure stops only the chart views, the others compile without it.
// clang-format off
inline constexpr std::array<CaptureWindowParams, 13> kCaptureWindows = [] {
    using namespace detail;
    return std::array<CaptureWindowParams, 13>{{
    //  window                 n  snap  filter     filters         opt netmask     mask           open            netmask           filter            thread names      wake
        {W::CaptureDecodeView,  1, 1514, FS::Owner, kNone,           0, NS::Lookup, 0,             FR::MessageBox, FR::Ignore,        FR::Caller,        kNone, LW::Buffered},
        {W::GeneralInfoView,    1, 64,   FS::None,  kNone,           0, NS::None,   0,             FR::MessageBox, FR::Ignore,        FR::Caller,        kNone, LW::Buffered},
        {W::PacketSizeView,     1, 64,   FS::None,  kNone,           0, NS::None,   0,             FR::MessageBox, FR::StandardError, FR::StandardError, kNone, LW::Buffered},
        {W::PDL2View,           1, 64,   FS::None,  kNone,           0, NS::None,   0,             FR::MessageBox, FR::StandardError, FR::StandardError, kNone, LW::Buffered},
        {W::PDL3View,           1, 64,   FS::Table, {"ip", nullptr}, 1, NS::Fixed,  kChartNetmask, FR::MessageBox, FR::StandardError, FR::StandardError, kNone, LW::Buffered},
        {W::PDv6L3View,         1, 64,   FS::Table, {"ip6", nullptr},1, NS::Fixed,  kChartNetmask, FR::MessageBox, FR::StandardError, FR::StandardError, kNone, LW::Buffered},
        {W::PDv4v6L3View,       2, 64,   FS::Table, {"ip", "ip6"},   1, NS::Fixed,  kChartNetmask, FR::MessageBox, FR::StandardError, FR::StandardError, {"IPv4", "IPv6"}, LW::Buffered},
        {W::PDAppView,          2, 64,   FS::Table, {"tcp", "udp"},  1, NS::Fixed,  kChartNetmask, FR::MessageBox, FR::StandardError, FR::StandardError, kNone, LW::Buffered},
        {W::SingleNodeView,     2, 64,   FS::Owner, kNone,           0, NS::Lookup, 0,             FR::MessageBox, FR::Ignore,        FR::Caller,        {"To", "From"}, LW::Buffered},
        {W::TrafficTraceSingle, 1, 10000,FS::Owner, kNone,           0, NS::Lookup, 0,             FR::MessageBox, FR::Ignore,        FR::Caller,        kNone, LW::PerFrame},
        {W::AutoDiscovery,      1, 10000,FS::Owner, kNone,           0, NS::Lookup, 0,             FR::MessageBox, FR::Ignore,        FR::Caller,        kNone, LW::Buffered},
        {W::CommandLine,        1, 1514, FS::Owner, kNone,           1, NS::Lookup, 0,             FR::Caller,     FR::Ignore,        FR::Caller,        kNone, LW::PerFrame},
        {W::TalkView,           1, 256,  FS::None,  kNone,           0, NS::None,   0,             FR::MessageBox, FR::Ignore,        FR::Caller,        kNone, LW::Buffered},
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

/// The outcome of opening a source. A failure's status says how the window's
/// row reports it; `boxDetail`, when set, is the message box's second line.
struct SourceResult {
    CaptureStatus status = CaptureStatus::Started;
    QString error;
    QString boxDetail;
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

} // namespace qarsilo
