#pragma once

#include <QtGlobal>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

/// Allocation-free formatting of the short texts of the frame lists. Each
/// function writes at `out` (no terminating NUL) and returns the end of what
/// it wrote; the caller provides at least the documented maximum.
namespace qarsilo::text {

inline constexpr std::size_t kMaxDecimalLength = 20; // "-9223372036854775808"
inline constexpr std::size_t kMaxTimeLength = 2 * kMaxDecimalLength + 1;
inline constexpr std::size_t kMacLength = 13;     // "001122-334455"
inline constexpr std::size_t kMaxIpv4Length = 15; // "255.255.255.255"

namespace detail {

struct DigitPairs {
    char pairs[200];
    constexpr DigitPairs()
        : pairs{} {
        for (int i = 0; i < 100; ++i) {
            pairs[2 * i] = static_cast<char>('0' + i / 10);
            pairs[2 * i + 1] = static_cast<char>('0' + i % 10);
        }
    }
};
inline constexpr DigitPairs kDigitPairs;

// The decimal text of every byte value, for dotted addresses.
struct ByteDecimal {
    char digits[3];
    std::uint8_t length;
};
struct ByteDecimals {
    ByteDecimal values[256];
    constexpr ByteDecimals()
        : values{} {
        for (int v = 0; v < 256; ++v) {
            ByteDecimal& d = values[v];
            if (v >= 100) {
                d = {{static_cast<char>('0' + v / 100), static_cast<char>('0' + v / 10 % 10),
                      static_cast<char>('0' + v % 10)},
                     3};
            } else if (v >= 10) {
                d = {{static_cast<char>('0' + v / 10), static_cast<char>('0' + v % 10), 0}, 2};
            } else {
                d = {{static_cast<char>('0' + v), 0, 0}, 1};
            }
        }
    }
};
inline constexpr ByteDecimals kByteDecimals;

inline constexpr char kUpperHex[] = "0123456789ABCDEF";

// The upper-case hex text of every byte value.
struct HexPairs {
    char pairs[512];
    constexpr HexPairs()
        : pairs{} {
        for (int v = 0; v < 256; ++v) {
            pairs[2 * v] = kUpperHex[v >> 4];
            pairs[2 * v + 1] = kUpperHex[v & 0x0F];
        }
    }
};
inline constexpr HexPairs kHexPairs;

// Digits of v, written backwards ending at `end`; returns the first digit.
inline char* unsignedDigitsBackwards(char* end, std::uint64_t v) noexcept {
    char* p = end;
    while (v >= 100) {
        const auto pair = static_cast<unsigned>(v % 100);
        v /= 100;
        p -= 2;
        std::memcpy(p, kDigitPairs.pairs + 2 * pair, 2);
    }
    if (v >= 10) {
        p -= 2;
        std::memcpy(p, kDigitPairs.pairs + 2 * v, 2);
    } else {
        *--p = static_cast<char>('0' + v);
    }
    return p;
}

inline std::uint64_t magnitude(qint64 v) noexcept {
    // Well defined for the most negative value too.
    return v < 0 ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
}

} // namespace detail

inline char* appendText(char* out, std::string_view s) noexcept {
    std::memcpy(out, s.data(), s.size());
    return out + s.size();
}

/// "%d": at most kMaxDecimalLength characters.
inline char* appendDecimal(char* out, qint64 v) noexcept {
    char digits[kMaxDecimalLength];
    char* const end = digits + sizeof digits;
    char* first = detail::unsignedDigitsBackwards(end, detail::magnitude(v));
    if (v < 0)
        *--first = '-';
    return appendText(out, std::string_view(first, static_cast<std::size_t>(end - first)));
}

/// "%6.0d": right-aligned in six columns; precision 0 makes the value 0 print
/// no digits at all, so 0 gives six blanks.
inline char* appendMicroseconds(char* out, qint64 v) noexcept {
    if (v >= 0 && v <= 999999) {
        // The usual case, a fraction of a second: six columns, the leading
        // zeros blank (all six for 0), without a variable-length copy.
        const auto u = static_cast<unsigned>(v);
        std::memcpy(out, detail::kDigitPairs.pairs + 2 * (u / 10000), 2);
        std::memcpy(out + 2, detail::kDigitPairs.pairs + 2 * (u / 100 % 100), 2);
        std::memcpy(out + 4, detail::kDigitPairs.pairs + 2 * (u % 100), 2);
        for (int i = 0; i < 5 && out[i] == '0'; ++i)
            out[i] = ' ';
        if (u == 0)
            out[5] = ' ';
        return out + 6;
    }
    char digits[kMaxDecimalLength];
    char* const end = digits + sizeof digits;
    char* first = end;
    if (v != 0) {
        first = detail::unsignedDigitsBackwards(end, detail::magnitude(v));
        if (v < 0)
            *--first = '-';
    }
    const auto length = static_cast<std::size_t>(end - first);
    if (length < 6) {
        std::memset(out, ' ', 6 - length);
        out += 6 - length;
    }
    return appendText(out, std::string_view(first, length));
}

/// The list's time text "%d:%6.0d" of seconds and microseconds.
inline char* appendTime(char* out, qint64 seconds, qint64 microseconds) noexcept {
    out = appendDecimal(out, seconds);
    *out++ = ':';
    return appendMicroseconds(out, microseconds);
}

/// "%.2X%.2X%.2X-%.2X%.2X%.2X": kMacLength characters.
inline char* appendMacHyphen(char* out, const std::uint8_t* mac) noexcept {
    for (int i = 0; i < 6; ++i) {
        if (i == 3)
            *out++ = '-';
        std::memcpy(out, detail::kHexPairs.pairs + 2 * mac[i], 2);
        out += 2;
    }
    return out;
}

/// "%d.%d.%d.%d": at most kMaxIpv4Length characters.
inline char* appendIpv4(char* out, const std::uint8_t* address) noexcept {
    for (int i = 0; i < 4; ++i) {
        if (i != 0)
            *out++ = '.';
        const detail::ByteDecimal& d = detail::kByteDecimals.values[address[i]];
        // Copying all three is cheaper than a variable-length copy; only `length`
        // count. The last octet starts at most 12 characters in, so the spare
        // bytes stay within kMaxIpv4Length.
        std::memcpy(out, d.digits, 3);
        out += d.length;
    }
    return out;
}

} // namespace qarsilo::text
