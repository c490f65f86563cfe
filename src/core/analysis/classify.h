#pragma once

#include "core/analysis/frame.h"

#include <QString>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <type_traits>

namespace qarsilo {

/// How the type-or-length field (bytes 12-13) framed the frame.
enum class Framing : std::uint8_t {
    Unknown,   ///< fewer than 14 bytes captured
    Ieee8023,  ///< a length of 1500 or less: named by the 802.2 LLC header
    EthernetII ///< a type above 1500
};

/// What the analyzer's list shows for one frame, before it becomes text.
/// Fixed size, no heap: names point into static tables, the one composed Info
/// text (port summary, ARP question) lives inside the struct, addresses are raw
/// bytes. Copies stay valid.
///
/// Frames too short for a field that their naming needs: the Protocol is the
/// most specific name the captured bytes allow ("???" when even that needs the
/// missing field), the Info is "Truncated" and `truncated` is set. Fewer than
/// 14 bytes: "???" / "Truncated". Addresses that were not captured show as "-".
struct Classification {
    std::string_view protocol;               ///< Protocol column (static text)
    const char16_t* protocolUtf16 = nullptr; ///< the same text in UTF-16 (static)

    /// Info column.
    std::string_view info() const noexcept {
        return infoName.data() ? infoName : std::string_view(infoText.data(), infoTextLength);
    }

    /// Which addresses the Source and Destination columns show.
    enum class AddressForm : std::uint8_t { Mac, Ipv4 };
    AddressForm addressForm = AddressForm::Mac;
    bool hasDestinationMac = false; ///< bytes 0-5 captured
    bool hasSourceMac = false;      ///< bytes 6-11 captured
    std::array<std::uint8_t, 6> destinationMac{};
    std::array<std::uint8_t, 6> sourceMac{};
    std::array<std::uint8_t, 4> sourceIpv4{};      ///< valid when addressForm is Ipv4
    std::array<std::uint8_t, 4> destinationIpv4{}; ///< valid when addressForm is Ipv4

    /// A field the naming needed lay past the captured bytes.
    bool truncated = false;

    // The fields the naming was decided on, as read; absent when not read
    // (another branch) or not captured.
    Framing framing = Framing::Unknown;
    std::optional<std::uint16_t> typeOrLength;
    std::optional<std::uint8_t> ssap;
    std::optional<std::uint8_t> bpduType;
    std::optional<std::uint32_t> snapOrganization;
    std::optional<std::uint16_t> ipxDestinationSocket;
    std::optional<std::uint8_t> netbiosCommand;
    std::optional<std::uint8_t> decStpMessageType;
    std::optional<std::uint8_t> ipProtocol;
    std::optional<std::uint16_t> sourcePort;
    std::optional<std::uint16_t> destinationPort;
    std::optional<std::array<std::uint8_t, 4>> arpSenderIpv4;
    std::optional<std::array<std::uint8_t, 4>> arpTargetIpv4;

    // Info storage: a static name (Latin-1 and UTF-16), or (infoName null) a
    // composed text.
    std::string_view infoName;
    const char16_t* infoNameUtf16 = nullptr;
    std::array<char, 48> infoText{};
    std::uint8_t infoTextLength = 0;
};

// Stores keep it beside the frame and copy it freely.
static_assert(std::is_trivially_copyable_v<Classification>);

/// Names a frame. A pure function of the header and the captured bytes:
/// `bytes` holds `header.capLen` bytes and nothing past them is read.
Classification classifyFrame(const FrameHeader& header, const std::uint8_t* bytes) noexcept;

/// classifyFrame() reads no captured byte at or past this offset: a frame cut
/// to its first kClassifyReach bytes (capLen lowered to match, the rest of the
/// header kept) is named alike, and gives the same list row.
inline constexpr std::size_t kClassifyReach = 64;

/// The five texts of the analyzer's list row.
struct FrameTexts {
    QString time, source, destination, protocol, info;
};

FrameTexts frameTexts(const FrameHeader& header, const std::uint8_t* bytes);
FrameTexts frameTexts(const FrameHeader& header, const Classification& c);

/// Room that always suffices for formatFrameLine().
inline constexpr std::size_t kMaxFrameLineLength = 160;

/// Writes the five texts of the list row as one line for scripts:
///   Time TAB Source TAB Destination TAB Protocol TAB Info
/// exactly as the list shows them (Time is "%d:%6.0d", so it may hold blanks;
/// no text holds a tab or a line end), Latin-1, with no line end and no
/// terminating NUL. Returns the number of bytes written; when the line does
/// not fit in `capacity` it writes nothing and returns 0. A capacity of
/// kMaxFrameLineLength always suffices. No heap allocation.
std::size_t formatFrameLine(const FrameHeader& header, const std::uint8_t* bytes, char* out,
                            std::size_t capacity) noexcept;
std::size_t formatFrameLine(const FrameHeader& header, const Classification& c, char* out,
                            std::size_t capacity) noexcept;

/// The Source and Destination columns, for callers that lay the row out
/// themselves (the time is text::appendTime). Each writes at `out` and returns
/// the end; 15 bytes of room always suffice.
char* appendSourceText(char* out, const Classification& c) noexcept;
char* appendDestinationText(char* out, const Classification& c) noexcept;

} // namespace qarsilo
