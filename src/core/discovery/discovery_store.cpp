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

} // namespace

namespace {

std::size_t slotOf(std::uint64_t key, std::size_t mask) {
    // A MAC's low bytes vary most: mixed so that neighbours spread.
    return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> 32) & mask;
}

} // namespace

inline DiscoveryStore::LastDatagram& DiscoveryStore::LastDatagrams::find(std::uint64_t key,
                                                                         bool& isNew) {
    const std::uint64_t stored = key + 1;
    const std::size_t mask = m_keys.size() - 1;
    if (!m_keys.empty()) {
        for (std::size_t i = slotOf(key, mask);; i = (i + 1) & mask) {
            const std::uint64_t k = m_keys[i];
            if (k == stored) {
                isNew = false;
                return m_entries[i];
            }
            if (k == 0)
                break;
        }
    }
    isNew = true;
    return insert(key);
}

DiscoveryStore::LastDatagram& DiscoveryStore::LastDatagrams::insert(std::uint64_t key) {
    // At most half full: probes stay short.
    if ((m_count + 1) * 2 > m_keys.size())
        grow();
    const std::size_t mask = m_keys.size() - 1;
    std::size_t i = slotOf(key, mask);
    while (m_keys[i] != 0)
        i = (i + 1) & mask;
    ++m_count;
    m_keys[i] = key + 1;
    return m_entries[i];
}

void DiscoveryStore::LastDatagrams::grow() {
    std::vector<std::uint64_t> keys(m_keys.empty() ? 1024 : m_keys.size() * 2, 0);
    std::vector<LastDatagram> entries(keys.size());
    const std::size_t mask = keys.size() - 1;
    for (std::size_t j = 0; j < m_keys.size(); ++j) {
        if (m_keys[j] == 0)
            continue;
        std::size_t i = slotOf(m_keys[j] - 1, mask);
        while (keys[i] != 0)
            i = (i + 1) & mask;
        keys[i] = m_keys[j];
        entries[i] = std::move(m_entries[j]);
    }
    m_keys = std::move(keys);
    m_entries = std::move(entries);
}

void DiscoveryStore::LastDatagrams::clear() {
    m_keys = {};
    m_entries = {};
    m_count = 0;
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
    LastDatagram& last = m_lastNetbios.find(macKey(mac), isNew);
    if (!isNew && last.ip == ip && equal32(last.encoded.data(), source) &&
        equal32(last.encoded.data() + 32, destination)) {
        // A group address is no station's: the datagram names none.
        if (m_skipRepeats || isGroupMac(mac))
            return;
        // The names decode as the last one's did.
        NetbiosRecord record{{mac, ip, last.nameText, last.workgroupText}, seconds};
        std::lock_guard lock(m_lock);
        m_netbios.push_back(std::move(record));
        return;
    }
    QString name = QString::fromLatin1(decodeNetbiosName(source));
    QString workgroup = QString::fromLatin1(decodeNetbiosName(destination));
    std::memcpy(last.encoded.data(), source, 32);
    std::memcpy(last.encoded.data() + 32, destination, 32);
    const bool sameTexts =
        !isNew && last.ip == ip && last.nameText == name && last.workgroupText == workgroup;
    if (!sameTexts) {
        last.ip = ip;
        last.nameText = name;
        last.workgroupText = workgroup;
    }
    std::lock_guard lock(m_lock);
    noteSeen(ip, workgroup);
    if ((m_skipRepeats && sameTexts) || isGroupMac(mac))
        return;
    m_netbios.push_back({{mac, ip, std::move(name), std::move(workgroup)}, seconds});
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
    std::lock_guard lock(m_lock);
    m_netbios = {};
    m_lastNetbios = {};
    m_ip = {};
    m_lastIp = {};
}

std::vector<NetbiosRecord> DiscoveryStore::takeNetbios() {
    std::lock_guard lock(m_lock);
    return std::exchange(m_netbios, {});
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
    std::lock_guard lock(m_lock);
    m_netbios = {};
    m_lastNetbios = {};
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
