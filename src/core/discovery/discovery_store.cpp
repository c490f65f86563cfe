#include "core/discovery/discovery_store.h"

#include <cstring>

namespace qarsilo {

DiscoveryStore& DiscoveryStore::instance() {
    static DiscoveryStore store;
    return store;
}

void DiscoveryStore::noteSeen(std::uint32_t ip, const QString& workgroup) {
    // The subnet's text is made once, when it is first seen.
    const std::uint32_t subnet = ip & 0xFFFFFF00u;
    if (!m_subnetSet.contains(subnet)) {
        m_subnetSet.insert(subnet);
        m_subnets.append(discoverySubnetText(subnet));
    }
    if (!m_workgroupSet.contains(workgroup)) {
        m_workgroupSet.insert(workgroup);
        m_workgroups.append(workgroup);
    }
}

void DiscoveryStore::handleFrame(const std::uint8_t* bytes, std::size_t length,
                                 std::int64_t seconds) {
    if (mode() == DiscoveryMode::NetBios) {
        handleNetbios(bytes, length, seconds);
        return;
    }
    const std::optional<IpSighting> s = parseIpFrame(bytes, length);
    if (!s)
        return;
    const auto time = static_cast<std::uint32_t>(seconds);
    std::lock_guard lock(m_lock);
    ++m_ip.frames;
    addEnd(s->srcMac, s->srcIp, time);
    addEnd(s->dstMac, s->dstIp, time);
}

namespace {

// Whether the 32 bytes at `a` and at `b` are equal: four word compares
// rather than a call.
inline bool equal32(const std::uint8_t* a, const std::uint8_t* b) {
    std::uint64_t x[4];
    std::uint64_t y[4];
    std::memcpy(x, a, 32);
    std::memcpy(y, b, 32);
    return ((x[0] ^ y[0]) | (x[1] ^ y[1]) | (x[2] ^ y[2]) | (x[3] ^ y[3])) == 0;
}

std::size_t slotOf(std::uint64_t key, std::size_t mask) {
    // The station's own part of the MAC (its low three bytes) with the
    // maker's part folded in: stations of one maker numbered in turn take
    // neighbouring slots, which a station-by-station sweep reads in order.
    return static_cast<std::size_t>(key ^ (key >> 24)) & mask;
}

} // namespace

inline DiscoveryStore::LastDatagrams::Slot& DiscoveryStore::LastDatagrams::find(std::uint64_t key,
                                                                                bool& isNew) {
    const std::uint64_t stored = key + 1;
    const std::size_t mask = m_slots.size() - 1;
    if (!m_slots.empty()) {
        for (std::size_t i = slotOf(key, mask);; i = (i + 1) & mask) {
            Slot& slot = m_slots[i];
            if (slot.key == stored) {
                isNew = false;
                return slot;
            }
            if (slot.key == 0)
                break;
        }
    }
    isNew = true;
    return insert(key);
}

DiscoveryStore::LastDatagrams::Slot& DiscoveryStore::LastDatagrams::insert(std::uint64_t key) {
    // At most half full: probes stay short.
    if ((m_names.size() + 1) * 2 > m_slots.size())
        grow();
    const std::size_t mask = m_slots.size() - 1;
    std::size_t i = slotOf(key, mask);
    while (m_slots[i].key != 0)
        i = (i + 1) & mask;
    Slot& slot = m_slots[i];
    slot.key = key + 1;
    slot.entry = static_cast<std::uint32_t>(m_names.size());
    m_names.push_back(0);
    m_encoded.emplace_back();
    return slot;
}

void DiscoveryStore::LastDatagrams::grow() {
    std::vector<Slot> slots(m_slots.empty() ? 1024 : m_slots.size() * 2);
    const std::size_t mask = slots.size() - 1;
    for (const Slot& s : m_slots) {
        if (s.key == 0)
            continue;
        std::size_t i = slotOf(s.key - 1, mask);
        while (slots[i].key != 0)
            i = (i + 1) & mask;
        slots[i] = s;
    }
    m_slots = std::move(slots);
}

void DiscoveryStore::LastDatagrams::clear() {
    m_slots = {};
    m_encoded = {};
    m_names = {};
}

void DiscoveryStore::handleNetbios(const std::uint8_t* bytes, std::size_t length,
                                   std::int64_t seconds) {
    if (!isNetbiosDatagram(bytes, length))
        return;
    MacBytes mac;
    std::memcpy(mac.data(), bytes + 6, mac.size());
    const std::uint32_t ip = (std::uint32_t{bytes[26]} << 24) | (std::uint32_t{bytes[27]} << 16) |
                             (std::uint32_t{bytes[28]} << 8) | bytes[29];
    const std::uint8_t* source = bytes + kNetbiosSourceName;
    const std::uint8_t* destination = bytes + kNetbiosDestinationName;
    // Most datagrams repeat their station's last one byte for byte: no names
    // are decoded for them, and the workgroup and subnet were seen with that
    // one. The last datagrams are the capture thread's own while a capture
    // runs (cleared only before one starts): finding one needs no lock.
    bool isNew = false;
    LastDatagrams::Slot& last = m_lastNetbios.find(macKey(mac), isNew);
    LastDatagrams::Encoded& encoded = m_lastNetbios.encoded(last.entry);
    std::uint32_t& names = m_lastNetbios.names(last.entry);
    if (!isNew && last.ip == ip && equal32(encoded.data(), source) &&
        equal32(encoded.data() + 32, destination)) {
        // A group address is no station's: the datagram names none.
        if (m_skipRepeats || isGroupMac(mac))
            return;
        // The names decode as the last one's did.
        std::lock_guard lock(m_lock);
        m_netbios.push_back({mac, ip, names, seconds});
        return;
    }
    QString name = QString::fromLatin1(decodeNetbiosName(source));
    QString workgroup = QString::fromLatin1(decodeNetbiosName(destination));
    std::memcpy(encoded.data(), source, 32);
    std::memcpy(encoded.data() + 32, destination, 32);
    // m_names grows only here, on this thread: reading it needs no lock.
    const bool sameNames =
        !isNew && m_names[names].name == name && m_names[names].workgroup == workgroup;
    const bool sameTexts = sameNames && last.ip == ip;
    last.ip = ip;
    std::lock_guard lock(m_lock);
    noteSeen(ip, workgroup);
    if (!sameNames) {
        names = static_cast<std::uint32_t>(m_names.size());
        m_names.push_back({std::move(name), std::move(workgroup)});
    }
    if ((m_skipRepeats && sameTexts) || isGroupMac(mac))
        return;
    m_netbios.push_back({mac, ip, names, seconds});
}

void DiscoveryStore::addEnd(const MacBytes& mac, std::uint32_t ip, std::uint32_t time) {
    // Broadcast and multicast ends never become nodes: they need no room.
    if (isGroupMac(mac))
        return;
    if (!m_watched.isEmpty() && !m_watched.contains(ip & 0xFFFFFF00u))
        return;
    const auto [it, isNew] = m_lastIp.try_emplace(macKey(mac), ip);
    if (!isNew) {
        if (it->second == ip)
            return;
        it->second = ip;
    }
    if (m_ip.ends.size() >= m_endLimit) {
        ++m_ip.droppedEnds;
        return;
    }
    m_ip.ends.push_back({mac, ip, time});
}

void DiscoveryStore::setWatchedRanges(const QStringList& ranges) {
    std::lock_guard lock(m_lock);
    m_watched.clear();
    m_watchedTexts = ranges;
    for (const QString& r : ranges) {
        const QStringList parts = r.split(QLatin1Char('.'));
        bool ok = parts.size() == 4;
        std::uint32_t net = 0;
        for (int i = 0; ok && i < 3; ++i)
            net = (net << 8) | parts[i].toUInt(&ok);
        net <<= 8;
        // Only the exact text of a /24 network matches anything after Stop.
        if (ok && discoverySubnetText(net) == r)
            m_watched.insert(net);
    }
    // Ranges that match nothing: keep an impossible network so nothing is buffered.
    if (m_watched.isEmpty() && !ranges.isEmpty())
        m_watched.insert(1);
}

QStringList DiscoveryStore::unwatched(const QStringList& ranges) const {
    std::lock_guard lock(m_lock);
    QStringList out;
    if (m_watchedTexts.isEmpty())
        return out;
    for (const QString& r : ranges)
        if (!m_watchedTexts.contains(r) && !out.contains(r))
            out << r;
    return out;
}

void DiscoveryStore::setSkipRepeats(bool skip) {
    std::lock_guard lock(m_lock);
    m_skipRepeats = skip;
}

void DiscoveryStore::clearBuffer() {
    std::scoped_lock lock(m_takeLock, m_lock);
    m_netbios = {};
    m_names = {};
    m_lastNetbios.clear();
    m_takenNames = {};
    m_ip = {};
    m_lastIp = {};
}

std::vector<NetbiosRecord> DiscoveryStore::takeNetbios() {
    std::lock_guard take(m_takeLock);
    std::vector<BufferedDatagram> buffered;
    {
        std::lock_guard lock(m_lock);
        buffered.swap(m_netbios);
        m_takenNames.insert(m_takenNames.end(),
                            m_names.begin() + static_cast<std::ptrdiff_t>(m_takenNames.size()),
                            m_names.end());
    }
    std::vector<NetbiosRecord> records;
    records.reserve(buffered.size());
    for (const BufferedDatagram& d : buffered) {
        const Names& n = m_takenNames[d.names];
        records.push_back({{d.mac, d.ip, n.name, n.workgroup}, d.time});
    }
    return records;
}

long long DiscoveryStore::ipFrames() const {
    std::lock_guard lock(m_lock);
    return m_ip.frames;
}

IpBuffer DiscoveryStore::takeIp() {
    std::lock_guard lock(m_lock);
    m_lastIp = {};
    return std::exchange(m_ip, {});
}

QStringList DiscoveryStore::seenWorkgroups() const {
    std::lock_guard lock(m_lock);
    return m_workgroups;
}

QStringList DiscoveryStore::seenSubnets() const {
    std::lock_guard lock(m_lock);
    return m_subnets;
}

void DiscoveryStore::setEndLimit(std::size_t limit) {
    std::lock_guard lock(m_lock);
    m_endLimit = limit;
}

void DiscoveryStore::resetForTests() {
    std::scoped_lock lock(m_takeLock, m_lock);
    m_netbios = {};
    m_names = {};
    m_lastNetbios.clear();
    m_takenNames = {};
    m_skipRepeats = false;
    m_ip = {};
    m_lastIp = {};
    m_workgroups.clear();
    m_workgroupSet.clear();
    m_subnets.clear();
    m_subnetSet.clear();
    m_watched.clear();
    m_watchedTexts.clear();
}

} // namespace qarsilo
