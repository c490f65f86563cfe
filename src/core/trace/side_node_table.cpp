#include "core/trace/side_node_table.h"

#include <algorithm>

namespace qarsilo {

std::optional<MacAddress> parseMacAddress(QStringView text) {
    const auto hexValue = [](QChar c) -> int {
        const char16_t u = c.unicode();
        if (u >= u'0' && u <= u'9')
            return u - u'0';
        if (u >= u'a' && u <= u'f')
            return u - u'a' + 10;
        if (u >= u'A' && u <= u'F')
            return u - u'A' + 10;
        return -1;
    };
    MacAddress mac = 0;
    int digits = 0;
    int separators = 0;
    QChar separator;
    for (const QChar c : text) {
        const int value = hexValue(c);
        if (value >= 0) {
            if (++digits > 12)
                return std::nullopt;
            mac = (mac << 4) | static_cast<MacAddress>(value);
            continue;
        }
        // One kind of separator, and only after each pair.
        if ((c != u':' && c != u'-') || (!separator.isNull() && c != separator) ||
            digits != 2 * (separators + 1))
            return std::nullopt;
        separator = c;
        ++separators;
    }
    if (digits != 12 || (separators != 0 && separators != 5))
        return std::nullopt;
    return mac;
}

QString macAddressText(MacAddress mac) {
    QString out;
    out.reserve(17);
    for (int i = 5; i >= 0; --i) {
        const unsigned byte = static_cast<unsigned>((mac >> (8 * i)) & 0xFF);
        out += QLatin1Char("0123456789abcdef"[byte >> 4]);
        out += QLatin1Char("0123456789abcdef"[byte & 0xF]);
        if (i > 0)
            out += QLatin1Char(':');
    }
    return out;
}

MacAddress macAddressAt(const std::uint8_t* bytes) {
    MacAddress mac = 0;
    for (int i = 0; i < 6; ++i)
        mac = (mac << 8) | bytes[i];
    return mac;
}

void AddressNames::add(const QString& macText, const QString& name) {
    const std::optional<MacAddress> mac = parseMacAddress(macText.trimmed());
    const QString trimmed = name.trimmed();
    if (!mac || trimmed.isEmpty() || trimmed == QLatin1String("-"))
        return;
    if (!m_names.contains(*mac))
        m_names.insert(*mac, name);
}

QString AddressNames::label(MacAddress mac) const {
    const auto it = m_names.constFind(mac);
    return it == m_names.constEnd() ? macAddressText(mac) : *it;
}

SideNodeTable::CheckIn SideNodeTable::checkIn(MacAddress peer, std::uint32_t rgb, int nodeLife) {
    std::unique_lock lock(m_lock, std::try_to_lock);
    if (!lock.owns_lock())
        return {Outcome::Busy, -1, {}};
    for (SideNode& node : m_entries) {
        if (node.mac == peer) {
            node.life = nodeLife;
            node.rgb = rgb;
            return {Outcome::Found, node.slot, node.label};
        }
    }
    if (static_cast<int>(m_entries.size()) < kCapacity) {
        const auto used = [this](int slot) {
            return std::any_of(m_entries.begin(), m_entries.end(),
                               [slot](const SideNode& n) { return n.slot == slot; });
        };
        do {
            const auto at = std::find(kSlotCycle.begin(), kSlotCycle.end(), m_nextSlot);
            m_nextSlot = (at + 1 == kSlotCycle.end()) ? kSlotCycle.front() : *(at + 1);
        } while (used(m_nextSlot));
        m_entries.push_back({peer, nodeLife, m_nextSlot, m_names.label(peer), rgb});
        return {Outcome::Added, m_nextSlot, m_entries.back().label};
    }
    for (int k = 1; k <= nodeLife; ++k) {
        for (SideNode& node : m_entries) {
            if (node.life < k) {
                node.mac = peer;
                node.label = m_names.label(peer);
                node.life = nodeLife;
                node.rgb = rgb;
                return {Outcome::Replaced, node.slot, node.label};
            }
        }
    }
    return {Outcome::NoSlot, -1, {}};
}

std::optional<std::vector<int>> SideNodeTable::age() {
    std::unique_lock lock(m_lock, std::try_to_lock);
    if (!lock.owns_lock())
        return std::nullopt;
    std::vector<int> removed;
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        if (--it->life < 0) {
            removed.push_back(it->slot);
            it = m_entries.erase(it);
        } else {
            ++it;
        }
    }
    return removed;
}

void SideNodeTable::setNames(AddressNames names) {
    std::lock_guard lock(m_lock);
    m_names = std::move(names);
    for (SideNode& node : m_entries)
        node.label = m_names.label(node.mac);
}

QString SideNodeTable::label(MacAddress mac) const {
    std::lock_guard lock(m_lock);
    return m_names.label(mac);
}

void SideNodeTable::clear() {
    std::lock_guard lock(m_lock);
    m_entries.clear();
}

std::vector<SideNode> SideNodeTable::entries() const {
    std::lock_guard lock(m_lock);
    return m_entries;
}

std::vector<SideNode> SideNodeTable::bySlot() const {
    std::vector<SideNode> out = entries();
    std::sort(out.begin(), out.end(),
              [](const SideNode& a, const SideNode& b) { return a.slot < b.slot; });
    return out;
}

} // namespace qarsilo
