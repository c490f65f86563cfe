#pragma once

// Crafted frames and readers of decode trees, for the decoder's tests.

#include "core/analysis/decode_tree.h"

#include <QByteArray>
#include <QStringList>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <memory>

namespace qarsilo::test {

// A frame of `size` zero bytes with the Ethernet header filled in.
inline QByteArray ether(quint16 typeOrLength, int size = 60) {
    QByteArray f(size, '\0');
    f.replace(0, 12, QByteArray::fromHex("0011223344556677889900aa"));
    f[12] = static_cast<char>(typeOrLength >> 8);
    f[13] = static_cast<char>(typeOrLength & 0xFF);
    return f;
}

inline QByteArray put(QByteArray f, int offset, std::initializer_list<quint8> bytes) {
    for (quint8 b : bytes)
        f[offset++] = static_cast<char>(b);
    return f;
}

inline QByteArray put16(QByteArray f, int offset, quint16 v) {
    return put(std::move(f), offset, {static_cast<quint8>(v >> 8), static_cast<quint8>(v)});
}

inline QByteArray llc(quint8 dsap, quint8 ssap, int size = 60) {
    return put(ether(static_cast<quint16>(size - 14), size), 14, {dsap, ssap, 0x03});
}

inline QByteArray ipv4(quint8 protocol, int size = 60) {
    return put(put(ether(0x0800, size), 14, {0x45}), 23, {protocol});
}

inline QByteArray ipv6(quint8 nextHeader, int size = 80) {
    return put(put(ether(0x86DD, size), 14, {0x60}), 20, {nextHeader});
}

inline QByteArray ports(QByteArray f, int start, quint16 source, quint16 destination) {
    return put16(put16(std::move(f), start, source), start + 2, destination);
}

// The frame decoded from a heap block of exactly its length. On the wire it
// had at least the 60 bytes of a minimum Ethernet frame.
inline DecodeNode decode(const QByteArray& frame, quint32 wireLen = 0, qint64 usec = 0) {
    const auto size = static_cast<std::size_t>(frame.size());
    if (wireLen == 0)
        wireLen = std::max<quint32>(60, static_cast<quint32>(size));
    const std::unique_ptr<std::uint8_t[]> bytes(new std::uint8_t[size]);
    std::memcpy(bytes.get(), frame.constData(), size);
    return decodeFrame(FrameHeader{1000, usec, static_cast<quint32>(size), wireLen}, bytes.get());
}

inline QStringList texts(const std::vector<DecodeNode>& nodes) {
    QStringList out;
    for (const DecodeNode& n : nodes)
        out << n.text;
    return out;
}

inline QStringList layers(const DecodeNode& root) {
    return texts(root.children);
}

// The field texts of the first layer called `layer`.
inline QStringList fields(const DecodeNode& root, const QString& layer) {
    for (const DecodeNode& n : root.children) {
        if (n.text == layer)
            return texts(n.children);
    }
    return {QStringLiteral("<no layer %1>").arg(layer)};
}

inline QString field(const DecodeNode& root, const QString& layer, int index) {
    return fields(root, layer).value(index, QStringLiteral("<no field %1>").arg(index));
}

inline QStringList lines(const char* text) {
    return QString::fromLatin1(text).split(QLatin1Char('\n'));
}

inline QString str(const char* s) {
    return QString::fromLatin1(s);
}

// "%.4X" and "%.2X".
inline QString hex(uint v, int digits) {
    return QStringLiteral("%1").arg(v, digits, 16, QLatin1Char('0')).toUpper();
}

inline QStringList strs(std::initializer_list<const char*> items) {
    QStringList out;
    for (const char* i : items)
        out << str(i);
    return out;
}

} // namespace qarsilo::test
