#pragma once

#include "core/stats/rolling_graph_canvas.h"
#include "core/stats/tick_clock.h"

#include <QString>
#include <pcap/pcap.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <limits>
#include <mutex>
#include <vector>

namespace qarsilo {

/// One frame of the current second as the Top Users list shows it, kept
/// compact so the capture thread only copies 24 bytes per frame.
struct TopUser {
    std::uint32_t length = 0;        ///< the frame's length on the wire
    std::uint32_t sourceIp = 0;      ///< host order; 0 for frames that are not IPv4
    std::uint32_t destinationIp = 0; ///< host order; 0 for frames that are not IPv4
    std::array<std::uint8_t, 6> sourceMac{};
    std::array<std::uint8_t, 6> destinationMac{};

    /// The Bits column: the frame with its 24 bytes of framing, in bits.
    std::uint64_t bits() const { return std::uint64_t{length} * 8 + 192; }
    /// The record of a frame as the capture delivered it (bounded by caplen).
    static TopUser fromFrame(const pcap_pkthdr& header, const std::uint8_t* bytes) noexcept;
};

/// Columns of the Top Users list.
enum TopUserColumn : int { Bits, SourceIp, DestinationIp, SourceMac, DestinationMac, Count };
/// Column titles and widths, in order.
inline constexpr const char* kTopUserTitles[] = {"Bits", "Source IP", "Destination IP",
                                                 "Source MAC", "Destination MAC"};
inline constexpr int kTopUserWidths[] = {40, 100, 110, 100, 110};
/// The longest cell text.
inline constexpr std::size_t kMaxTopUserCell = 20;

/// Writes one cell's text at `out` (at least kMaxTopUserCell bytes, no NUL);
/// returns its length. MACs "%.2X:%.2X:...", addresses "%d.%d.%d.%d".
std::size_t formatTopUserCell(const TopUser& row, int column, char* out) noexcept;
QString topUserCell(const TopUser& row, int column);

/// Sorts by Bits, larger first; equal ones keep their order. Linear in the
/// number of rows (a radix sort on the length), so a second of a million
/// frames sorts in a few milliseconds.
void sortTopUsers(std::vector<TopUser>& rows, std::vector<TopUser>& scratch);

/// Link speed text, "%3.2f" percent and the other figure formats of the views.
QString utilizationText(double percent); ///< "%3.2f"
QString countText(std::uint64_t value);  ///< "%ld"
QString averageText(double value);       ///< "%.0f"
/// The same texts written at `out` (room for kMaxFigureText bytes, no NUL),
/// returning the end: printf's "%.<precision>f" (precision 0 to 6; the width
/// of "%3.2f" never pads, its texts being longer) and "%llu". The digits are
/// made without printf; a locale whose decimal point is not "." gets printf's.
inline constexpr std::size_t kMaxFigureText = 63;
char* writeFixed(char* out, double value, int precision) noexcept;
/// The same, with the locale's decimal point judged once by the caller
/// (plainDecimalPoint(), while the locale stays as it is).
char* writeFixed(char* out, double value, int precision, bool plainPoint) noexcept;
bool plainDecimalPoint() noexcept;
char* writeCount(char* out, std::uint64_t value) noexcept;
QString peakTimeText(qint64 secondsSinceEpoch); ///< "%H:%M:%S%p, %d, %B, %Y", local; empty for 0
/// Where a window replaying a capture file is, for the status bar: "File second N
/// (yyyy-MM-dd hh:mm:ss), <speed>[, end of the file]", N counted from `first`.
QString fileSecondText(qint64 second, qint64 first, const QString& speed, bool ended);

/// The core of the general statistics view: the frame handler (capture
/// thread), the counters it adds to, the once-a-second tick with its averages,
/// peaks and graphs, and the Top Users rows of the last second.
///
/// The capture thread adds to atomic counters and appends compact rows to a
/// buffer under a short lock; the tick takes the counters with an exchange and
/// the buffer with a swap under the same lock, so nothing is lost or counted
/// twice and a second's rows are the frames of its figures. Everything else
/// belongs to the thread that ticks.
class GeneralStats {
public:
    explicit GeneralStats(qint64 linkSpeedBps);

    /// Capture thread: counts the frame and, unless stopped, keeps its row.
    void countFrame(const pcap_pkthdr& header, const std::uint8_t* bytes) noexcept;
    /// The same for a reader that counts its frames on the thread that ticks
    /// (the command line's): no lock and no atomic addition per frame.
    void countFrameOnTickThread(const pcap_pkthdr& header, const std::uint8_t* bytes) noexcept;

    /// Only the first `rows` rows of each second are wanted (0: all, as the
    /// list shows them): the others are dropped while the second runs, so a
    /// busy second keeps at most twice that many. Set while no capture runs.
    void setRowLimit(std::size_t rows) {
        m_rowLimit = rows <= kMaxRowLimit ? rows : 0;
        m_hasRowFloor = false;
    }
    std::size_t rowLimit() const { return m_rowLimit; }

    /// Off: the ticks leave the graphs as they are (a reader that only
    /// wants the figures). Set while no capture runs.
    void setGraphs(bool on) { m_graphs = on; }

    /// While set, frames are counted but no rows are kept.
    void setStopped(bool stopped) { m_stopped.store(stopped, std::memory_order_release); }
    bool stopped() const { return m_stopped.load(std::memory_order_acquire); }

    /// One second ends at `now` (seconds since the epoch): figures, graphs and
    /// the Top Users rows of that second. With file time, `now` is replaced by
    /// the stamp of the newest frame counted, once there is one.
    void tick(qint64 now);
    /// The same for a reader that counts with countFrameOnTickThread: no lock.
    void tickOnCountingThread(qint64 now);
    /// On a capture file the peaks carry the file's time rather than the wall
    /// clock's; setting it (while no capture runs) forgets the stamps seen so far.
    void setFileTime(bool on);
    bool fileTime() const { return m_fileTime; }
    /// With file time: the first frame's second and the second of the last
    /// tick; false before the first frame.
    bool fileSeconds(qint64& first, qint64& last) const;
    /// The rows of an interrupted second become the shown rows (after Stop),
    /// so a station can be picked from them; nothing changes when there are none.
    void showPendingRows();

    qint64 linkSpeed() const { return m_linkSpeed; }
    void setLinkSpeed(qint64 bps) { m_linkSpeed = bps > 0 ? bps : 1; }

    // Figures of the last tick.
    std::uint64_t currentBits() const { return m_currentBits; }
    std::uint64_t currentPackets() const { return m_currentPackets; }
    double currentUtilization() const { return m_currentUtilization; }
    double averageBits() const { return m_averageBits; }
    double averagePackets() const { return m_averagePackets; }
    double averageUtilization() const { return m_averageUtilization; }
    std::uint64_t peakBits() const { return m_peakBits; }
    std::uint64_t peakPackets() const { return m_peakPackets; }
    double peakUtilization() const { return m_peakUtilization; }
    qint64 peakBitsTime() const { return m_peakBitsTime; } ///< 0 before the first peak
    qint64 peakPacketsTime() const { return m_peakPacketsTime; }
    double sampleCount() const { return m_samples; }

    const GraphTrack& bitsGraph() const { return m_bitsGraph; }
    const GraphTrack& packetsGraph() const { return m_packetsGraph; }
    const GraphTrack& utilizationGraph() const { return m_utilizationGraph; }

    /// Frames whose wire length could not be theirs (counted capped), since
    /// the start.
    std::uint64_t malformedFrames() const { return m_malformed.load(std::memory_order_relaxed); }

    /// The rows shown: the frames of the last second, sorted.
    const std::vector<TopUser>& rows() const { return m_shown; }

private:
    static constexpr qint64 kNoStamp = std::numeric_limits<qint64>::min();
    /// Above this a limit saves little: all rows are kept.
    static constexpr std::size_t kMaxRowLimit = 1 << 16;
    void keepRow(const TopUser& row); // under m_rowsLock, or on the ticking thread
    void takeRows();                  // the same
    void endSecond(qint64 now, std::uint64_t bits, std::uint64_t packets);
    void dropUnlistedRows(); // under m_rowsLock, or on the ticking thread
    qint64 m_linkSpeed;
    std::size_t m_rowLimit = 0;
    bool m_graphs = true;

    alignas(64) std::atomic<std::uint64_t> m_tickBits{0};
    std::atomic<std::uint64_t> m_tickPackets{0};
    std::atomic<bool> m_stopped{false};
    std::atomic<std::uint64_t> m_malformed{0};
    alignas(64) std::mutex m_rowsLock;
    std::vector<TopUser> m_pending; // guarded by m_rowsLock
    // With a row limit, once rows were dropped in this second: a row no longer
    // than this can never be listed (guarded by m_rowsLock).
    std::uint32_t m_rowFloor = 0;
    bool m_hasRowFloor = false;
    FileStamps m_stamps; // of the frames counted, for file time
    bool m_fileTime = false;
    qint64 m_tickStamp = kNoStamp;

    std::vector<TopUser> m_shown;
    std::vector<TopUser> m_spare;
    std::vector<TopUser> m_scratch;

    std::uint64_t m_currentBits = 0;
    std::uint64_t m_currentPackets = 0;
    double m_currentUtilization = 0;
    double m_averageBits = 0;
    double m_averagePackets = 0;
    double m_averageUtilization = 0;
    std::uint64_t m_peakBits = 0;
    std::uint64_t m_peakPackets = 0;
    double m_peakUtilization = 0;
    qint64 m_peakBitsTime = 0;
    qint64 m_peakPacketsTime = 0;
    double m_samples = 0;

    GraphTrack m_bitsGraph{GraphScaleRule::PowerOfTen, QColor(255, 0, 0)};
    GraphTrack m_packetsGraph{GraphScaleRule::PowerOfTen, QColor(0, 128, 128)};
    GraphTrack m_utilizationGraph{GraphScaleRule::Utilization, QColor(0, 0, 255)};
};

} // namespace qarsilo
