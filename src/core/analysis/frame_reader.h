#pragma once

#include "core/analysis/frame.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>

namespace qarsilo {

/// Bounded, big-endian reads from one captured frame. Every decoder reads
/// through it: a field that lies (even partly) past the captured length reads
/// as absent, and nothing past the buffer is ever touched.
class FrameReader {
public:
    constexpr FrameReader(const std::uint8_t* bytes, std::size_t length) noexcept
        : bytes_(bytes)
        , size_(bytes ? length : 0) {}
    /// The frame as libpcap delivered it: `bytes` holds `header.capLen` bytes.
    FrameReader(const FrameHeader& header, const std::uint8_t* bytes) noexcept
        : FrameReader(bytes, header.capLen) {}

    constexpr std::size_t size() const noexcept { return size_; }

    /// True when bytes [offset, offset + count) were captured.
    constexpr bool has(std::size_t offset, std::size_t count) const noexcept {
        return offset <= size_ && count <= size_ - offset;
    }

    std::optional<std::uint8_t> u8(std::size_t offset) const noexcept {
        if (!has(offset, 1))
            return std::nullopt;
        return bytes_[offset];
    }

    std::optional<std::uint16_t> be16(std::size_t offset) const noexcept {
        if (!has(offset, 2))
            return std::nullopt;
        return static_cast<std::uint16_t>((bytes_[offset] << 8) | bytes_[offset + 1]);
    }

    std::optional<std::uint32_t> be24(std::size_t offset) const noexcept {
        if (!has(offset, 3))
            return std::nullopt;
        return (std::uint32_t{bytes_[offset]} << 16) | (std::uint32_t{bytes_[offset + 1]} << 8) |
               std::uint32_t{bytes_[offset + 2]};
    }

    std::optional<std::uint32_t> be32(std::size_t offset) const noexcept {
        if (!has(offset, 4))
            return std::nullopt;
        return (std::uint32_t{bytes_[offset]} << 24) | (std::uint32_t{bytes_[offset + 1]} << 16) |
               (std::uint32_t{bytes_[offset + 2]} << 8) | std::uint32_t{bytes_[offset + 3]};
    }

    /// N raw bytes (addresses, identifiers), copied out.
    template <std::size_t N>
    std::optional<std::array<std::uint8_t, N>> bytes(std::size_t offset) const noexcept {
        if (!has(offset, N))
            return std::nullopt;
        std::array<std::uint8_t, N> out;
        std::memcpy(out.data(), bytes_ + offset, N);
        return out;
    }

    /// N raw bytes, those past the captured length read as 0 (a field cut
    /// short keeps the bytes it has).
    template <std::size_t N>
    std::array<std::uint8_t, N> bytesOrZero(std::size_t offset) const noexcept {
        std::array<std::uint8_t, N> out{};
        if (has(offset, N))
            std::memcpy(out.data(), bytes_ + offset, N);
        else if (offset < size_)
            std::memcpy(out.data(), bytes_ + offset, size_ - offset);
        return out;
    }

    /// Copies N raw bytes into `out` when they were captured; `out` is left
    /// alone otherwise. Cheaper than bytes() on hot paths (no temporary).
    template <std::size_t N>
    bool copyTo(std::size_t offset, std::array<std::uint8_t, N>& out) const noexcept {
        if (!has(offset, N))
            return false;
        std::memcpy(out.data(), bytes_ + offset, N);
        return true;
    }

private:
    const std::uint8_t* bytes_;
    std::size_t size_;
};

} // namespace qarsilo
