#pragma once

#include "core/discovery/discovery_frame.h"

#include <QList>
#include <QSet>
#include <QStringList>

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace qarsilo {

/// One NetBIOS datagram as the capture thread left it.
struct NetbiosRecord {
    NetbiosSighting sighting;
    std::int64_t time = 0; ///< the frame's time stamp, seconds
};

/// One end (source or destination) of an IPv4 frame: 16 bytes, no texts.
struct IpEnd {
    MacBytes mac{};
    std::uint32_t ip = 0;
    std::uint32_t time = 0; ///< the frame's time stamp, seconds
};

/// Buffered ends. Grown in blocks: a long capture never needs a second copy
/// of everything while the buffer grows.
using IpEnds = std::deque<IpEnd>;

/// What IP listening buffered since the last take.
struct IpBuffer {
    IpEnds ends;               ///< in frame order, source end before destination end
    long long frames = 0;      ///< IPv4 frames handled (not ends kept)
    long long droppedEnds = 0; ///< ends lost to the bound
};

/// The buffer between the autodiscovery capture thread and the interface
/// thread, and the workgroups and subnets seen since the program started. One
/// instance for the whole process: the seen lists outlive every dialog.
///
/// Every append and every take is one step under one lock. In IP listening an
/// end whose MAC was last buffered with the same address is not buffered again:
/// the duplicate pass after Stop would delete that row whatever the local
/// ranges are, so the rows after Stop stay the same while memory grows only
/// when a station changes address. Broadcast and multicast MACs are never
/// buffered (in either mode): they name no station.
class DiscoveryStore {
public:
    static DiscoveryStore& instance();

    DiscoveryStore() = default;
    DiscoveryStore(const DiscoveryStore&) = delete;
    DiscoveryStore& operator=(const DiscoveryStore&) = delete;

    /// Written while no capture runs; read by the handler.
    void setMode(DiscoveryMode mode) { m_mode.store(mode, std::memory_order_release); }
    DiscoveryMode mode() const { return m_mode.load(std::memory_order_acquire); }

    /// The packet handler (capture thread): one Ethernet frame of `length`
    /// captured bytes with its time stamp.
    void handleFrame(const std::uint8_t* bytes, std::size_t length, std::int64_t seconds);

    /// NetBIOS listening: whether a datagram that repeats the one last buffered
    /// for its MAC (same address, name and workgroup) is left out. The
    /// duplicate pass after Stop would delete its row, so the rows after the
    /// pass stay the same while the buffer grows only when a station changes;
    /// without it every datagram is buffered (the window shows each one as it
    /// comes). Set while no capture runs.
    void setSkipRepeats(bool skip);

    /// Empties the buffer of both modes (Start, while no capture runs: the
    /// last datagrams by MAC of setSkipRepeats are read without the lock); the
    /// seen lists stay.
    void clearBuffer();
    /// The buffered datagrams, in arrival order; the buffer is emptied.
    std::vector<NetbiosRecord> takeNetbios();
    /// IPv4 frames handled since the buffer was last emptied.
    long long ipFrames() const;
    /// The buffered ends; the buffer is emptied.
    IpBuffer takeIp();

    QStringList seenWorkgroups() const;
    QStringList seenSubnets() const;

    /// The local ranges IP listening watches ("%d.%d.%d.0" texts, as the
    /// local-range selection compares them): ends in other subnets are not
    /// buffered, as the selection after Stop would drop them. Empty: every end
    /// is buffered. Set before the capture starts.
    void setWatchedRanges(const QStringList& ranges);
    /// Ranges in `ranges` that were not watched (empty when every end was kept).
    QStringList unwatched(const QStringList& ranges) const;

    /// The most ends IP listening keeps (default: 4 million, 64 MB); later
    /// ends are counted as dropped.
    void setEndLimit(std::size_t limit);
    static constexpr std::size_t kDefaultEndLimit = std::size_t{4} << 20;
    /// Forgets the seen lists too (tests).
    void resetForTests();

private:
    /// The decoded names of a datagram: made when a station's names change,
    /// shared by the datagrams that repeat them.
    struct Names {
        QString name;
        QString workgroup;
    };
    /// A buffered datagram, its names by number (m_names).
    struct BufferedDatagram {
        MacBytes mac{};
        std::uint32_t ip = 0;
        std::uint32_t names = 0;
        std::int64_t time = 0;
    };

    /// The datagram last seen from each MAC: its address and encoded names
    /// as they came, and the number of its decoded names (equal names may be
    /// encoded differently). Open addressing over the MAC's number; what a
    /// repeat reads lies in two cache lines. The capture thread's own while a
    /// capture runs.
    class LastDatagrams {
    public:
        struct Slot {
            std::uint64_t key = 0; ///< the MAC's number + 1; 0: a free slot
            std::uint32_t ip = 0;
            std::uint32_t entry = 0; ///< in encoded() and names()
        };
        using Encoded = std::array<std::uint8_t, 64>; ///< both names

        /// The slot of `key`; `isNew`: made now, its entry's contents unset.
        Slot& find(std::uint64_t key, bool& isNew);
        Encoded& encoded(std::uint32_t entry) { return m_encoded[entry].bytes; }
        std::uint32_t& names(std::uint32_t entry) { return m_names[entry]; }
        void clear();

    private:
        struct alignas(64) Line {
            Encoded bytes;
        };
        Slot& insert(std::uint64_t key);
        void grow();
        std::vector<Slot> m_slots;
        std::vector<Line> m_encoded;        // by entry
        std::vector<std::uint32_t> m_names; // by entry
    };

    void handleNetbios(const std::uint8_t* bytes, std::size_t length, std::int64_t seconds);
    /// Adds the datagram's subnet and workgroup to the seen lists when new
    /// (under the lock).
    void noteSeen(std::uint32_t ip, const QString& workgroup);
    void addEnd(const MacBytes& mac, std::uint32_t ip, std::uint32_t time);

    std::atomic<DiscoveryMode> m_mode{DiscoveryMode::NetBios};
    mutable std::mutex m_lock;
    std::vector<BufferedDatagram> m_netbios;
    std::vector<Names> m_names; ///< appended only, under m_lock
    bool m_skipRepeats = false;
    LastDatagrams m_lastNetbios;
    /// takeNetbios's copy of m_names, so that it makes the records outside
    /// m_lock.
    std::mutex m_takeLock;
    std::vector<Names> m_takenNames;
    IpBuffer m_ip;
    std::unordered_map<std::uint64_t, std::uint32_t> m_lastIp; // by MAC
    QSet<std::uint32_t> m_watched;                             // /24 networks; empty: all
    QStringList m_watchedTexts;
    std::size_t m_endLimit = kDefaultEndLimit;
    QStringList m_workgroups;
    QSet<QString> m_workgroupSet;
    QStringList m_subnets;
    QSet<std::uint32_t> m_subnetSet; ///< network part of the IPv4 address
};

} // namespace qarsilo
