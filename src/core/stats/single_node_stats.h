#pragma once

#include "core/stats/rolling_graph_canvas.h"

#include <QString>
#include <pcap/pcap.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

namespace qarsilo {

using MacBytes = std::array<std::uint8_t, 6>;

/// A MAC address text of six hexadecimal pairs joined by ':' or '-' (either
/// letter case), as 48 bits; nothing for any other text.
std::optional<MacBytes> parseMac(const QString& text);
/// "%.2X:%.2X:%.2X:%.2X:%.2X:%.2X".
QString macText(const MacBytes& mac);

/// One row of the address list: the address book's MAC, NAME and IP texts.
struct AddressEntry {
    QString mac;
    QString name;
    QString ip;
};

/// The station's name and IP address as the address list knows them.
struct NodeLookup {
    QString name; ///< the first NAME other than "-", else the MAC itself
    QString ip;   ///< the first IP, else "Undiscover"
};
/// Rows match when their MACs are the same 48-bit address, whatever the
/// letter case or separator (texts that are no MAC must match exactly).
NodeLookup lookupNode(const std::vector<AddressEntry>& list, const QString& nodeMac);

/// The core of the single node statistics view: the handlers of its "To" and
/// "From" captures (capture threads), their counters and last partners, and
/// the once-a-second tick with its utilizations, minute-cycled averages, peaks
/// and graphs. Counters are atomic and taken with an exchange; a partner is
/// written and read under a lock of its direction. Everything else belongs to
/// the thread that ticks.
class SingleNodeStats {
public:
    enum Direction : int { Total, Receive, Send, DirectionCount };

    /// `startTime` starts the minute over which the averages run.
    SingleNodeStats(qint64 linkSpeedBps, qint64 startTime);

    /// "To" capture: a frame the station receives.
    void countReceived(const pcap_pkthdr& header, const std::uint8_t* bytes) noexcept;
    /// "From" capture: a frame the station sends.
    void countSent(const pcap_pkthdr& header, const std::uint8_t* bytes) noexcept;

    /// One second ends at `now` (seconds since the epoch).
    void tick(qint64 now);

    qint64 linkSpeed() const { return m_linkSpeed; }
    void setLinkSpeed(qint64 bps) { m_linkSpeed = bps > 0 ? bps : 1; }
    qint64 startTime() const { return m_startTime; }

    // Figures of the last tick, by Direction.
    std::uint64_t bytes(int d) const { return m_figures[index(d)].bytes; }
    std::uint64_t bitsPerSecond(int d) const { return bytes(d) * 8; }
    double current(int d) const { return m_figures[index(d)].current; }
    double average(int d) const { return m_figures[index(d)].average; }
    double peak(int d) const { return m_figures[index(d)].peak; }
    qint64 peakTime(int d) const { return m_figures[index(d)].peakTime; } ///< 0: none yet
    const GraphTrack& graph(int d) const { return m_graphs[index(d)]; }
    /// Empties the three graphs' histories (Stop).
    void clearGraphs();
    /// Another station is watched: the last partners, the peaks and what the
    /// old captures counted since the last tick go; the averages keep their
    /// minute cycle. Called while no capture runs.
    void forgetNode();

    /// Last partners as of the last tick: MAC "%.2X:..." and IPv4 address or
    /// "-" for frames that are not IPv4; empty before the first frame.
    const QString& lastSentToMac() const { return m_sentToMac; }
    const QString& lastSentToIp() const { return m_sentToIp; }
    const QString& lastReceivedFromMac() const { return m_receivedFromMac; }
    const QString& lastReceivedFromIp() const { return m_receivedFromIp; }

    /// Frames of both captures whose wire length could not be theirs
    /// (counted capped), since the start.
    std::uint64_t malformedFrames() const {
        return m_received.malformed.load(std::memory_order_relaxed) +
               m_sent.malformed.load(std::memory_order_relaxed);
    }

private:
    struct Partner {
        MacBytes mac{};
        std::uint32_t ip = 0;
        bool ipv4 = false;
        bool seen = false;
    };
    struct alignas(64) Side {
        std::atomic<std::uint64_t> bytes{0};
        std::atomic<std::uint64_t> malformed{0};
        std::mutex lock;
        Partner partner; // guarded by lock
    };
    struct Figures {
        std::uint64_t bytes = 0;
        double current = 0;
        double average = 0;
        double peak = 0;
        qint64 peakTime = 0;
    };
    static std::size_t index(int d) { return static_cast<std::size_t>(d < 0 || d > 2 ? 0 : d); }
    static void count(Side& side, const pcap_pkthdr& header, const std::uint8_t* bytes,
                      std::size_t macOffset, std::size_t ipOffset) noexcept;
    static void partnerTexts(Side& side, QString& mac, QString& ip);

    qint64 m_linkSpeed = 1;
    qint64 m_startTime;
    Side m_received;
    Side m_sent;
    std::array<Figures, DirectionCount> m_figures{};
    std::array<GraphTrack, DirectionCount> m_graphs{
        GraphTrack{GraphScaleRule::Utilization, QColor(255, 0, 0)},
        GraphTrack{GraphScaleRule::Utilization, QColor(255, 0, 0)},
        GraphTrack{GraphScaleRule::Utilization, QColor(255, 0, 0)}};
    QString m_sentToMac, m_sentToIp, m_receivedFromMac, m_receivedFromIp;
};

/// "%3.6f".
QString nodeUtilizationText(double percent);

} // namespace qarsilo
