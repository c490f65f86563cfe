#include "core/stats/general_stats.h"

#include "core/analysis/frame_layout.h"
#include "core/analysis/frame_reader.h"
#include "core/analysis/protocol_table.h"
#include "core/analysis/text_format.h"
#include "core/analysis/wire_length.h"

#include <QDateTime>

#include <algorithm>
#include <charconv>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace qarsilo {

namespace {

// The IPv4 address `ip` (host order) as the list shows it.
char* writeIpv4(char* out, std::uint32_t ip) {
    const std::uint8_t bytes[4] = {
        static_cast<std::uint8_t>(ip >> 24), static_cast<std::uint8_t>(ip >> 16),
        static_cast<std::uint8_t>(ip >> 8), static_cast<std::uint8_t>(ip)};
    return text::appendIpv4(out, bytes);
}

char* writeMac(char* out, const std::array<std::uint8_t, 6>& mac) {
    for (std::size_t i = 0; i < mac.size(); ++i) {
        if (i)
            *out++ = ':';
        *out++ = text::detail::kUpperHex[mac[i] >> 4];
        *out++ = text::detail::kUpperHex[mac[i] & 0xF];
    }
    return out;
}

std::uint32_t be32(const std::array<std::uint8_t, 4>& p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

QString printed(const char* format, auto value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return QString::fromLatin1(text);
}

} // namespace

TopUser TopUser::fromFrame(const pcap_pkthdr& header, const std::uint8_t* bytes) noexcept {
    // The Ethernet header and the fixed IPv4 header; bytes past the capture read as 0.
    const FrameReader frame(bytes, header.caplen);
    TopUser row;
    row.length = header.len; // as the header says; the figures cap it
    row.destinationMac = frame.bytesOrZero<6>(layout::kEthDestination);
    row.sourceMac = frame.bytesOrZero<6>(layout::kEthSource);
    const auto type = frame.bytesOrZero<2>(layout::kEthTypeOrLength);
    if ((type[0] << 8 | type[1]) == protocols::kEtherTypeIpv4) {
        row.sourceIp = be32(frame.bytesOrZero<4>(layout::kIpv4Source));
        row.destinationIp = be32(frame.bytesOrZero<4>(layout::kIpv4Destination));
    }
    return row;
}

std::size_t formatTopUserCell(const TopUser& row, int column, char* out) noexcept {
    char* end = out;
    switch (column) {
    case TopUserColumn::Bits:
        end = text::appendDecimal(out, static_cast<qint64>(row.bits()));
        break;
    case TopUserColumn::SourceIp:
        end = writeIpv4(out, row.sourceIp);
        break;
    case TopUserColumn::DestinationIp:
        end = writeIpv4(out, row.destinationIp);
        break;
    case TopUserColumn::SourceMac:
        end = writeMac(out, row.sourceMac);
        break;
    case TopUserColumn::DestinationMac:
        end = writeMac(out, row.destinationMac);
        break;
    default:
        break;
    }
    return static_cast<std::size_t>(end - out);
}

QString topUserCell(const TopUser& row, int column) {
    char text[kMaxTopUserCell];
    const std::size_t n = formatTopUserCell(row, column, text);
    return QString::fromLatin1(text, static_cast<qsizetype>(n));
}

namespace {

// Up to this many rows an insertion sort beats stable_sort, which takes a
// buffer from the heap on every call.
constexpr std::size_t kInsertionSortRows = 64;

// Up to this many rows listed, a second's rows are kept sorted as they come.
constexpr std::size_t kFewRows = 16;

// Stable: a row moves only past shorter ones.
void insertionSortTopUsers(TopUser* first, TopUser* last) {
    for (TopUser* i = first + (first != last); i < last; ++i) {
        const TopUser row = *i;
        TopUser* j = i;
        for (; j != first && (j - 1)->length < row.length; --j)
            *j = *(j - 1);
        *j = row;
    }
}

} // namespace

void sortTopUsers(std::vector<TopUser>& rows, std::vector<TopUser>& scratch) {
    const std::size_t n = rows.size();
    if (n <= kInsertionSortRows) {
        insertionSortTopUsers(rows.data(), rows.data() + n);
        return;
    }
    if (n < 512) {
        std::stable_sort(rows.begin(), rows.end(),
                         [](const TopUser& a, const TopUser& b) { return a.length > b.length; });
        return;
    }
    // Least significant 16 bits first, then the upper 16; each pass is stable,
    // and the complemented key puts larger lengths first. Both digits are
    // counted in one read; a digit every row shares needs no pass.
    scratch.resize(n);
    std::vector<std::uint32_t> count(2 * 65536);
    for (const TopUser& r : rows) {
        const std::uint32_t key = ~r.length;
        ++count[key & 0xFFFF];
        ++count[65536 + (key >> 16)];
    }
    for (int pass = 0; pass < 2; ++pass) {
        std::uint32_t* c = count.data() + pass * 65536;
        const int shift = pass * 16;
        if (c[(~rows.front().length >> shift) & 0xFFFF] == n)
            continue;
        std::uint32_t sum = 0;
        for (int d = 0; d < 65536; ++d) {
            const std::uint32_t here = c[d];
            c[d] = sum;
            sum += here;
        }
        for (const TopUser& r : rows)
            scratch[c[(~r.length >> shift) & 0xFFFF]++] = r;
        rows.swap(scratch);
    }
}

namespace {

// printf's "%.<precision>f" of a finite double whose scaled value fits 63
// bits, from the double's own bits: value = mantissa * 2^exponent exactly, so
// mantissa * 10^precision is divided by the power of two in 128-bit integers
// and rounded half to even as printf rounds in the default rounding mode.
// nullptr for what it leaves to the general way (NaN, infinities, huge values).
char* writeFixedExact(char* out, double value, int precision) noexcept {
    static constexpr std::uint64_t kPow10[] = {1,      10,      100,      1000,      10000,
                                               100000, 1000000, 10000000, 100000000, 1000000000};
    if (precision < 0 || precision > 9)
        return nullptr;
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    const int biased = static_cast<int>((bits >> 52) & 0x7FF);
    if (biased == 0x7FF)
        return nullptr;
    std::uint64_t mantissa = bits & ((std::uint64_t(1) << 52) - 1);
    int exponent = -1074;
    if (biased != 0) {
        mantissa |= std::uint64_t(1) << 52;
        exponent = biased - 1075;
    }
    __extension__ typedef unsigned __int128 u128;
    const u128 scaled = u128(mantissa) * kPow10[precision]; // below 2^83
    u128 rounded = 0;
    if (exponent >= 0) {
        if (exponent > 40)
            return nullptr;
        rounded = scaled << exponent;
    } else if (-exponent < 120) {
        const int shift = -exponent;
        rounded = scaled >> shift;
        const u128 rest = scaled - (rounded << shift);
        const u128 half = u128(1) << (shift - 1);
        if (rest > half || (rest == half && (rounded & 1) != 0))
            ++rounded;
    } // else below 2^-37: rounds to 0, never a tie
    if (rounded >> 63)
        return nullptr;
    char digits[24];
    char* end = std::to_chars(digits, digits + sizeof digits, std::uint64_t(rounded)).ptr;
    const auto length = static_cast<int>(end - digits);
    if (bits >> 63)
        *out++ = '-';                      // printf keeps the sign of -0.0 and of what rounds to 0
    const int before = length - precision; // digits before the point; at least "0"
    if (before > 0) {
        std::memcpy(out, digits, static_cast<std::size_t>(before));
        out += before;
    } else {
        *out++ = '0';
    }
    if (precision > 0) {
        *out++ = '.';
        for (int zeros = -before; zeros > 0; --zeros)
            *out++ = '0';
        const int from = std::max(before, 0);
        std::memcpy(out, digits + from, static_cast<std::size_t>(length - from));
        out += length - from;
    }
    return out;
}

} // namespace

bool plainDecimalPoint() noexcept {
    const lconv* numeric = std::localeconv();
    return numeric && std::strcmp(numeric->decimal_point, ".") == 0;
}

char* writeFixed(char* out, double value, int precision) noexcept {
    return writeFixed(out, value, precision, plainDecimalPoint());
}

char* writeFixed(char* out, double value, int precision, bool plainPoint) noexcept {
    // printf follows LC_NUMERIC; the digits made here are its "C" locale's.
    if (plainPoint) {
        if (char* end = writeFixedExact(out, value, precision))
            return end; // at most 1 + 19 + 1 characters: never cut
        char text[512]; // the largest double has 309 digits before the point
        const auto [end, error] =
            std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, precision);
        if (error == std::errc()) {
            // As printf into a buffer of kMaxFigureText + 1 bytes: cut there.
            const auto n =
                std::min<std::size_t>(static_cast<std::size_t>(end - text), kMaxFigureText);
            std::memcpy(out, text, n);
            return out + n;
        }
    }
    char format[8] = "%.0f";
    format[2] = static_cast<char>('0' + std::clamp(precision, 0, 9));
    char text[kMaxFigureText + 1];
    const int n =
        std::clamp(std::snprintf(text, sizeof text, format, value), 0, int(kMaxFigureText));
    std::memcpy(out, text, static_cast<std::size_t>(n));
    return out + n;
}

char* writeCount(char* out, std::uint64_t value) noexcept {
    return std::to_chars(out, out + kMaxFigureText, value).ptr;
}

QString utilizationText(double percent) {
    return printed("%3.2f", percent);
}

QString countText(std::uint64_t value) {
    return printed("%llu", static_cast<unsigned long long>(value));
}

QString averageText(double value) {
    return printed("%.0f", value);
}

QString peakTimeText(qint64 secondsSinceEpoch) {
    if (secondsSinceEpoch == 0)
        return {};
    const auto t = static_cast<std::time_t>(secondsSinceEpoch);
    std::tm local{};
    if (!localtime_r(&t, &local))
        return {};
    char text[128];
    const std::size_t n = std::strftime(text, sizeof text, "%H:%M:%S%p, %d, %B, %Y", &local);
    return QString::fromLocal8Bit(text, static_cast<qsizetype>(n));
}

QString fileSecondText(qint64 second, qint64 first, const QString& speed, bool ended) {
    const QDateTime at = QDateTime::fromSecsSinceEpoch(second);
    return QStringLiteral("File second %1 (%2), %3%4")
        .arg(second - first)
        .arg(at.isValid() ? at.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))
                          : QString::number(second))
        .arg(speed, ended ? QStringLiteral(", end of the file") : QString());
}

GeneralStats::GeneralStats(qint64 linkSpeedBps) {
    setLinkSpeed(linkSpeedBps);
}

void GeneralStats::countFrame(const pcap_pkthdr& header, const std::uint8_t* bytes) noexcept {
    const CountedLength length = countedWireLength(header.len, header.caplen);
    if (length.malformed)
        m_malformed.fetch_add(1, std::memory_order_relaxed);
    const std::uint64_t bits = (std::uint64_t{length.bytes} + 24) * 8;
    if (stopped()) {
        m_tickBits.fetch_add(bits, std::memory_order_relaxed);
        m_tickPackets.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    if (m_fileTime)
        m_stamps.frame(header.ts.tv_sec);
    const TopUser row = TopUser::fromFrame(header, bytes);
    // Counted and listed under one lock, which the tick also holds while it
    // takes both: a second's rows are exactly the frames of its figures.
    std::lock_guard lock(m_rowsLock);
    m_tickBits.fetch_add(bits, std::memory_order_relaxed);
    m_tickPackets.fetch_add(1, std::memory_order_relaxed);
    keepRow(row);
}

namespace {
// Only the thread that ticks touches the counter: a plain read and write.
void addAlone(std::atomic<std::uint64_t>& counter, std::uint64_t value) noexcept {
    counter.store(counter.load(std::memory_order_relaxed) + value, std::memory_order_relaxed);
}
} // namespace

void GeneralStats::countFrameOnTickThread(const pcap_pkthdr& header,
                                          const std::uint8_t* bytes) noexcept {
    const CountedLength length = countedWireLength(header.len, header.caplen);
    if (length.malformed)
        addAlone(m_malformed, 1);
    addAlone(m_tickBits, (std::uint64_t{length.bytes} + 24) * 8);
    addAlone(m_tickPackets, 1);
    if (stopped())
        return;
    if (m_fileTime)
        m_stamps.frame(header.ts.tv_sec);
    if (m_hasRowFloor && header.len <= m_rowFloor)
        return; // keepRow would drop it: not worth reading
    keepRow(TopUser::fromFrame(header, bytes));
}

void GeneralStats::keepRow(const TopUser& row) {
    if (m_hasRowFloor && row.length <= m_rowFloor)
        return; // as many rows as listed are before it, and stay there
    try {
        m_pending.push_back(row);
    } catch (...) {
        // Out of memory: the frame is counted, only its row is missing.
        return;
    }
    if (m_rowLimit && m_rowLimit <= kFewRows) {
        // A few rows are kept in the list's order: the new one moves up past
        // the shorter ones only, and the last drops out once there are more.
        TopUser* const first = m_pending.data();
        TopUser* at = first + m_pending.size() - 1;
        for (; at != first && (at - 1)->length < row.length; --at)
            *at = *(at - 1);
        *at = row;
        if (m_pending.size() > m_rowLimit)
            m_pending.pop_back();
        if (m_pending.size() == m_rowLimit) {
            m_rowFloor = m_pending.back().length;
            m_hasRowFloor = true;
        }
        return;
    }
    if (m_rowLimit && m_pending.size() >= 2 * m_rowLimit)
        dropUnlistedRows();
}

// Keeps the first m_rowLimit rows in the list's order. A row dropped here has
// that many before it (larger, or as large and earlier), and all of them stay
// before it whatever comes later: it could never be listed, nor could a later
// row no larger than the last one kept. Equal rows keep their arrival order
// (a stable sort), as in the whole second's sort.
void GeneralStats::dropUnlistedRows() {
    if (m_pending.size() <= kInsertionSortRows)
        insertionSortTopUsers(m_pending.data(), m_pending.data() + m_pending.size());
    else
        std::stable_sort(m_pending.begin(), m_pending.end(),
                         [](const TopUser& a, const TopUser& b) { return a.length > b.length; });
    m_pending.resize(m_rowLimit);
    m_rowFloor = m_pending.back().length;
    m_hasRowFloor = true;
}

void GeneralStats::tick(qint64 now) {
    // The second's rows change hands in one swap; the buffers go round, so a
    // steady load allocates nothing.
    m_spare.clear();
    std::uint64_t bits = 0;
    std::uint64_t packets = 0;
    {
        std::lock_guard lock(m_rowsLock);
        bits = m_tickBits.exchange(0, std::memory_order_acq_rel);
        packets = m_tickPackets.exchange(0, std::memory_order_acq_rel);
        takeRows();
    }
    endSecond(now, bits, packets);
}

void GeneralStats::tickOnCountingThread(qint64 now) {
    m_spare.clear();
    const std::uint64_t bits = m_tickBits.load(std::memory_order_relaxed);
    const std::uint64_t packets = m_tickPackets.load(std::memory_order_relaxed);
    m_tickBits.store(0, std::memory_order_relaxed);
    m_tickPackets.store(0, std::memory_order_relaxed);
    takeRows();
    endSecond(now, bits, packets);
}

void GeneralStats::takeRows() {
    m_pending.swap(m_spare);
    m_hasRowFloor = false;
    // Stamped under the lock the frames are counted under: the second's
    // newest frame is one of its figures.
    if (m_fileTime && m_stamps.started())
        m_tickStamp = m_stamps.newest();
}

void GeneralStats::endSecond(qint64 now, std::uint64_t bits, std::uint64_t packets) {
    if (m_fileTime && m_tickStamp != kNoStamp)
        now = m_tickStamp;
    const double speed = static_cast<double>(m_linkSpeed);

    m_currentBits = bits;
    m_currentPackets = packets;
    m_currentUtilization = static_cast<double>(bits) * 100 / speed;
    if (bits > m_peakBits) {
        m_peakBits = bits;
        m_peakUtilization = m_currentUtilization;
        m_peakBitsTime = now;
    }
    if (packets > m_peakPackets) {
        m_peakPackets = packets;
        m_peakPacketsTime = now;
    }
    m_averageBits = (m_averageBits * m_samples + static_cast<double>(bits)) / (m_samples + 1);
    m_averagePackets =
        (m_averagePackets * m_samples + static_cast<double>(packets)) / (m_samples + 1);
    m_averageUtilization = m_averageBits * 100 / speed;

    if (m_graphs) {
        m_bitsGraph.append(static_cast<double>(bits));
        m_packetsGraph.append(static_cast<double>(packets));
        m_utilizationGraph.append(m_currentUtilization);
    }
    m_samples += 1;

    if (m_spare.size() > 1)
        sortTopUsers(m_spare, m_scratch);
    if (m_rowLimit && m_spare.size() > m_rowLimit)
        m_spare.resize(m_rowLimit);
    m_shown.swap(m_spare);
}

void GeneralStats::setFileTime(bool on) {
    std::lock_guard lock(m_rowsLock);
    m_fileTime = on;
    m_stamps.reset();
    m_tickStamp = kNoStamp;
}

bool GeneralStats::fileSeconds(qint64& first, qint64& last) const {
    if (!m_fileTime || m_tickStamp == kNoStamp)
        return false;
    first = m_stamps.first();
    last = m_tickStamp;
    return true;
}

void GeneralStats::showPendingRows() {
    m_spare.clear();
    {
        std::lock_guard lock(m_rowsLock);
        if (m_pending.empty())
            return;
        m_pending.swap(m_spare);
        m_hasRowFloor = false;
    }
    sortTopUsers(m_spare, m_scratch);
    m_shown.swap(m_spare);
}

} // namespace qarsilo
