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
        if (m_skipRepeats) {
            handleNetbios(bytes, length, seconds);
            return;
        }
        std::optional<NetbiosSighting> s = parseNetbiosFrame(bytes, length);
        if (!s)
            return;
        std::lock_guard lock(m_lock);
        noteSeen(s->ip, s->workgroup);
        // A group address is no station's: the datagram names none.
        if (!isGroupMac(s->mac))
            m_netbios.push_back({std::move(*s), seconds});
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

void DiscoveryStore::handleNetbios(const std::uint8_t* bytes, std::size_t length,
                                   std::int64_t seconds) {
    if (!isNetbiosDatagram(bytes, length))
        return;
    MacBytes mac;
    std::memcpy(mac.data(), bytes + 6, mac.size());
    const std::uint32_t ip = (std::uint32_t{bytes[26]} << 24) | (std::uint32_t{bytes[27]} << 16) |
                             (std::uint32_t{bytes[28]} << 8) | bytes[29];
    LastDatagram::Encoded encoded;
    std::memcpy(encoded.data(), bytes + kNetbiosSourceName, 32);
    std::memcpy(encoded.data() + 32, bytes + kNetbiosDestinationName, 32);
    // Most datagrams repeat their station's last one byte for byte: no names
    // are decoded for them. The workgroup and subnet were seen with that one.
    // The last datagrams are the capture thread's own while a capture runs
    // (cleared only before one starts): a repeat needs no lock.
    const auto [it, isNew] = m_lastNetbios.try_emplace(macKey(mac));
    LastDatagram& last = it->second;
    if (!isNew && last.ip == ip && last.encoded == encoded)
        return;
    std::lock_guard lock(m_lock);
    std::optional<NetbiosSighting> s = parseNetbiosFrame(bytes, length);
    if (!s)
        return;
    noteSeen(s->ip, s->workgroup);
    last.encoded = encoded;
    if (!isNew && last.ip == ip && last.nameText == s->name && last.workgroupText == s->workgroup)
        return;
    last.ip = ip;
    last.nameText = s->name;
    last.workgroupText = s->workgroup;
    // A group address is no station's: the datagram names none.
    if (!isGroupMac(s->mac))
        m_netbios.push_back({std::move(*s), seconds});
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
