#include "core/analysis/hex_dump.h"

#include "core/analysis/frame_reader.h"

#include <QByteArray>

#include <algorithm>

namespace qarsilo {
namespace {

constexpr std::size_t kBytesPerLine = 16;
constexpr char kUpperHex[] = "0123456789ABCDEF";
constexpr char kLowerHex[] = "0123456789abcdef";

// "%04lx": at least four digits, more for offsets past 0xffff.
void appendOffset(QByteArray& out, std::size_t offset) {
    char digits[2 * sizeof(std::size_t)];
    int n = 0;
    do {
        digits[n++] = kLowerHex[offset & 0x0F];
        offset >>= 4;
    } while (offset != 0);
    for (int pad = n; pad < 4; ++pad)
        out += '0';
    while (n > 0)
        out += digits[--n];
    out += " : ";
}

} // namespace

QString hexDump(const FrameHeader& header, const std::uint8_t* bytes) {
    const FrameReader frame(header, bytes);
    // The wire length, bounded by what the stored copy holds.
    const std::size_t length = std::min<std::size_t>(header.wireLen, frame.size());
    QByteArray out;
    out.reserve(static_cast<qsizetype>((length / kBytesPerLine + 1) * 80 + 2));
    for (std::size_t start = 0; start < length; start += kBytesPerLine) {
        const std::size_t count = std::min(kBytesPerLine, length - start);
        appendOffset(out, start);
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint8_t b = frame.u8(start + i).value_or(0);
            out += kUpperHex[b >> 4];
            out += kUpperHex[b & 0x0F];
            out += ' ';
        }
        // Short last line: the character column stays where full lines have it.
        out.append(static_cast<qsizetype>(3 * (kBytesPerLine - count)), ' ');
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint8_t b = frame.u8(start + i).value_or(0);
            out += (b >= 0x20 && b <= 0x7E) ? static_cast<char>(b) : '.';
        }
        out += "\r\n";
    }
    out += "\r\n";
    return QString::fromLatin1(out);
}

} // namespace qarsilo
