#pragma once

#include <QString>
#include <QtGlobal>
#include <pcap/pcap.h>

#include <array>
#include <compare>
#include <cstdint>
#include <memory>
#include <vector>

namespace qarsilo {

/// The five tables kept for conversations and endpoints, by the layer whose
/// addresses key them.
enum class TalkType : std::uint8_t { Ethernet, IPv4, IPv6, Tcp, Udp };
inline constexpr int kTalkTypeCount = 5;

/// One side of a conversation, or one endpoint: a MAC (6 bytes), an IPv4 (4)
/// or IPv6 (16) address, with a port for TCP and UDP. Unused bytes are 0, so
/// the default comparison is the byte order the tables sort by (address,
/// then port; IPv4 before IPv6 in the TCP and UDP tables).
struct TalkAddress {
    std::uint8_t family = 0; ///< 0 MAC, 4 IPv4, 6 IPv6
    std::array<std::uint8_t, 16> bytes{};
    std::uint16_t port = 0;
    auto operator<=>(const TalkAddress&) const = default;
};

/// "00:1a:2b:3c:4d:5e", "10.0.0.1", "2001:db8::1" (RFC 5952), and for TCP
/// and UDP "10.0.0.1:80" or "[2001:db8::1]:80".
QString talkAddressText(const TalkAddress& address, TalkType type);
/// The same text written to `out` (kMaxTalkAddressText bytes at least, no
/// terminating zero); returns its length. IPv4-mapped IPv6 addresses stay in
/// hex groups ("::ffff:a00:1"), as every other IPv6 address.
inline constexpr int kMaxTalkAddressText = 48;
int writeTalkAddress(char* out, const TalkAddress& address, TalkType type);

/// Bits per second over the last 2, 10 and 40 seconds.
inline constexpr std::array<int, 3> kRateSeconds{2, 10, 40};

/// One conversation: A is the lower address (TalkAddress order), B the other.
struct ConversationRow {
    TalkAddress a;
    TalkAddress b;
    std::uint64_t framesAB = 0;
    std::uint64_t bytesAB = 0; ///< frame lengths on the wire
    std::uint64_t framesBA = 0;
    std::uint64_t bytesBA = 0;
    qint64 firstUsec = 0; ///< time stamps, microseconds since the epoch
    qint64 lastUsec = 0;
    std::array<std::uint64_t, 3> bitsPerSecond{}; ///< by kRateSeconds, as of the last advance
    /// The row that holds the folded conversations (a and b unset); 0 otherwise.
    std::uint64_t foldedRows = 0;
    bool isOther() const { return foldedRows != 0; }
};

/// One endpoint: what its address sent (it was the source) and received.
struct EndpointRow {
    TalkAddress address;
    std::uint64_t framesSent = 0;
    std::uint64_t bytesSent = 0;
    std::uint64_t framesReceived = 0;
    std::uint64_t bytesReceived = 0;
    qint64 firstUsec = 0;
    qint64 lastUsec = 0;
    std::array<std::uint64_t, 3> bitsPerSecond{};
    std::uint64_t foldedRows = 0;
    bool isOther() const { return foldedRows != 0; }
};

/// What a window's model picks up on its timer: the rows that are new or
/// changed since the last pick-up (by id: an id names one row for as long as
/// it lives), and the ids of rows folded into the table's "other" row since.
/// The "other" row has its own fixed id, kOtherRowId.
template <class Row> struct TalkChanges {
    std::vector<std::uint32_t> ids;
    std::vector<Row> rows; ///< rows[i] is the row ids[i], copied
    std::vector<std::uint32_t> folded;
    bool cleared = false; ///< the table was cleared first: forget every id
};
inline constexpr std::uint32_t kOtherRowId = 0xffffffffu;

/// Conversations and endpoints of every TalkType, added up frame by frame
/// from one or more capture threads, read by the interface thread (or by the
/// command line after the source ends). Each table holds at most rowLimit
/// rows besides its "other" row: past it, the least recently active rows are
/// folded into "other" (their counts kept, their number counted).
///
/// Which frames count: Ethernet, every frame with a whole Ethernet header;
/// IPv4/IPv6 the first IP header after at most two VLAN tags, read whole;
/// TCP/UDP that header's protocol 6 or 17 (IPv6 extension headers followed),
/// first fragment only, ports captured. Bytes are wire lengths.
///
/// Rates cost no per-second array per row: each table keeps a ring of the
/// last 40 seconds, each second a list of (row id, bytes) with one entry per
/// row active in that second (a row remembers where its entry of its newest
/// second is), and a map of the byte sums of the 2, 10 and 40 s windows for
/// the rows active within the last 40 s only (every other row's rates are 0).
/// advanceTo adds the second that ended to the sums and takes off the
/// seconds that left each window, so it works through a few seconds' lists,
/// not 40. The memory is bounded by the rows active in each of the last 40
/// seconds, whatever the table's size.
class TalkTables {
public:
    /// Which tables to keep (a bit per TalkType, both kinds); the command
    /// line keeps one, windows keep all.
    struct Options {
        unsigned types = (1u << kTalkTypeCount) - 1;
        bool conversations = true;
        bool endpoints = true;
        std::size_t rowLimit = 1'000'000; ///< per table; 0: no limit
        bool threadSafe = true;           ///< false: one thread adds and reads (command line)
        bool rates = true;   ///< false: no per-second history, rates stay 0 (command line)
        bool changes = true; ///< false: no record of changed rows for the changes() calls
    };
    explicit TalkTables(Options options);
    TalkTables();
    ~TalkTables();
    TalkTables(const TalkTables&) = delete;
    TalkTables& operator=(const TalkTables&) = delete;

    const Options& options() const;

    /// A frame (capture threads). Frames may come from several captures.
    void add(const pcap_pkthdr& header, const std::uint8_t* bytes) noexcept;

    /// Rates: every second before `second` (seconds since the epoch) has
    /// ended. Windows call it once a second with the clock live, or with the
    /// newest frame's second on a file; the command line never needs it.
    void advanceTo(qint64 second);

    /// Forgets every row (Clear); the next changes() says cleared.
    void clear();

    /// Rows in a table now, the "other" row included when there is one.
    std::size_t rowCount(TalkType type, bool conversations) const;

    /// New and changed rows since the last call for that table (interface
    /// thread). Apply `folded` before `ids`: a folded row's id may already
    /// name a new row, and a folded id may be one never reported (a row
    /// folded before it was picked up).
    TalkChanges<ConversationRow> conversationChanges(TalkType type);
    TalkChanges<EndpointRow> endpointChanges(TalkType type);

    /// Every row, in the command line's order: total bytes, largest first,
    /// then by A and B (or by address); the "other" row, when there is one, last.
    std::vector<ConversationRow> conversations(TalkType type) const;
    std::vector<EndpointRow> endpoints(TalkType type) const;

    /// The same order as ids only, for a reader that goes through many rows
    /// one at a time (the command line) without holding them all copied.
    std::vector<std::uint32_t> sortedIds(TalkType type, bool conversations) const;
    /// One row by id (kOtherRowId for "other"); an empty row for an id not in use.
    ConversationRow conversation(TalkType type, std::uint32_t id) const;
    EndpointRow endpoint(TalkType type, std::uint32_t id) const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace qarsilo
