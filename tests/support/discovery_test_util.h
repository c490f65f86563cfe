#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

namespace qarsilo::test {

/// First-level encoding of a NetBIOS name: padded with blanks to 15
/// characters, then the suffix, each byte as two letters 'A' + nibble.
inline QByteArray encodeNetbiosName(const QByteArray& name, std::uint8_t suffix) {
    QByteArray raw = name.left(15);
    while (raw.size() < 15)
        raw.append(' ');
    raw.append(static_cast<char>(suffix));
    QByteArray out;
    for (char c : raw) {
        const auto b = static_cast<std::uint8_t>(c);
        out.append(static_cast<char>('A' + (b >> 4)));
        out.append(static_cast<char>('A' + (b & 15)));
    }
    return out;
}

/// A NetBIOS datagram frame (Ethernet II, IPv4 without options, UDP 138 to
/// 138) from `mac`/`ip` with the two names already encoded (32 bytes each).
inline QByteArray netbiosFrame(std::uint8_t macLast, std::uint32_t ip, const QByteArray& source32,
                               const QByteArray& destination32) {
    QByteArray f(14 + 20 + 8 + 14, '\0');
    const char dst[6] = {'\xff', '\xff', '\xff', '\xff', '\xff', '\xff'};
    f.replace(0, 6, QByteArray(dst, 6));
    const char src[6] = {'\x02', '\x00', '\x00', '\x00', '\x00', static_cast<char>(macLast)};
    f.replace(6, 6, QByteArray(src, 6));
    f[12] = '\x08';
    f[13] = '\x00';
    f[14] = '\x45';
    f[23] = 17;
    for (int i = 0; i < 4; ++i) {
        f[26 + i] = static_cast<char>(ip >> (24 - 8 * i));
        f[30 + i] = static_cast<char>(i == 3 ? 255 : ip >> (24 - 8 * i));
    }
    f[34] = 0;
    f[35] = '\x8a';
    f[36] = 0;
    f[37] = '\x8a';
    f[42] = 0x11;
    f.append(' ');
    f.append(source32);
    f.append('\0');
    f.append(' ');
    f.append(destination32);
    f.append('\0');
    return f;
}

} // namespace qarsilo::test
