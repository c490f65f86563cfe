#pragma once

#include <QHash>
#include <QString>
#include <QStringView>

#include <array>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

namespace qarsilo {

/// A 48-bit Ethernet address; MACs are compared as numbers, never as text.
using MacAddress = std::uint64_t;

/// Six hexadecimal pairs separated by ":" or "-" (or none), either letter
/// case; nullopt for anything else.
std::optional<MacAddress> parseMacAddress(QStringView text);
/// "%.2x:%.2x:%.2x:%.2x:%.2x:%.2x" (lower case).
QString macAddressText(MacAddress mac);
/// The address in bytes [0, 6) of `bytes`.
MacAddress macAddressAt(const std::uint8_t* bytes);

/// Names by address, as the address book gives them: the first usable name
/// of each MAC wins; "-" and empty names are not names.
class AddressNames {
public:
    /// Adds one address book row; rows whose MAC does not parse are skipped.
    void add(const QString& macText, const QString& name);
    bool isEmpty() const { return m_names.isEmpty(); }
    int size() const { return static_cast<int>(m_names.size()); }
    void clear() { m_names.clear(); }
    /// The name of `mac`, or its MAC text.
    QString label(MacAddress mac) const;

private:
    QHash<MacAddress, QString> m_names;
};

/// One peer of the monitored node.
struct SideNode {
    MacAddress mac = 0;
    int life = 0;          ///< seconds left before removal
    int slot = 0;          ///< place on the board, 0 to 15, unique in the table
    QString label;         ///< address book name or MAC text
    std::uint32_t rgb = 0; ///< colour of its last frame, 0xRRGGBB
};

/// The peers of the monitored node: at most 16, each on a slot of its own.
/// Shared by the capture thread (checkIn, which gives up when the table is
/// busy) and the interface thread (ageing, which skips a tick when busy, and
/// the commands, which wait).
class SideNodeTable {
public:
    static constexpr int kCapacity = 16;
    /// Each value is followed by the next, the last by the first.
    static constexpr std::array<int, kCapacity> kSlotCycle{11, 0, 8, 4,  12, 2,  10, 14,
                                                           6,  1, 5, 13, 9,  15, 7,  3};

    enum class Outcome { Found, Added, Replaced, Busy, NoSlot };
    struct CheckIn {
        Outcome outcome = Outcome::Busy;
        int slot = -1;
        QString label;
    };

    /// Finds or adds `peer` (capture thread). Found: life and colour renewed.
    /// Added: the next free slot of the cycle. Replaced: with 16 entries, the
    /// first entry in table order of the lowest life below `nodeLife` gives
    /// its place. Busy when another thread holds the table.
    CheckIn checkIn(MacAddress peer, std::uint32_t rgb, int nodeLife);
    /// One second passes: every life drops by one and entries whose life falls
    /// below 0 go; their slots are returned in table order. nullopt, nothing
    /// changed, when the table is busy.
    std::optional<std::vector<int>> age();

    /// Replaces the names and relabels every entry with them (empty names:
    /// every label becomes the MAC text). Waits for the table.
    void setNames(AddressNames names);
    /// The label of `mac` by the current names.
    QString label(MacAddress mac) const;

    /// Empties the table; the slot cycle goes on where it was.
    void clear();
    /// The entries in table order.
    std::vector<SideNode> entries() const;
    /// The entries ordered by slot.
    std::vector<SideNode> bySlot() const;

private:
    mutable std::mutex m_lock;
    std::vector<SideNode> m_entries;
    AddressNames m_names;
    int m_nextSlot = 11;
};

} // namespace qarsilo
