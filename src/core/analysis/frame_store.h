#pragma once

#include "core/analysis/frame.h"

#include <QString>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace qarsilo {

/// Every frame the analyzer captured, in arrival order: a copy of the packet
/// header and of the captured bytes.
///
/// One capture thread appends while the interface thread reads: the store is
/// single-producer, many-reader and lock-free. Bytes are packed into large
/// chunks and headers into large blocks, neither of which ever moves, so a
/// reader may use any frame below size() while appends go on. A frame costs its
/// captured bytes plus a 28-byte record; there is no allocation per frame.
/// clear() and the destructor need the producer stopped.
///
/// Memory is bounded by a budget: once the frames kept in memory reach it, the
/// frames that follow go to a temporary capture file (pcap format, in the
/// spill folder, removed from the folder as soon as it is made, so nothing
/// is left behind even by a crash). The capture thread only copies each of
/// them into a ring in memory; a writer thread of the store's own drains the
/// ring to the file and publishes the frames it wrote. Spilled frames are read
/// back in groups on demand through a small cache.
///
/// A regular capture file (classic pcap) already holds every frame at a known
/// offset: while the frames come from one (setSource()), those past the budget
/// are not copied at all but read back from that file, and nothing is written.
class FrameStore {
public:
    /// One stored frame; the bytes stay valid until clear() and, for a frame
    /// read back from the spill file, while this Frame (its `keep`) lives.
    struct Frame {
        FrameHeader header;
        const std::uint8_t* bytes;
        std::shared_ptr<const void> keep = {};
    };

    static constexpr std::size_t kDefaultBudget = std::size_t(1024) << 20;

    explicit FrameStore(std::size_t memoryBudget = kDefaultBudget);
    ~FrameStore();
    FrameStore(const FrameStore&) = delete;
    FrameStore& operator=(const FrameStore&) = delete;

    /// Appends a copy (producer thread only). Returns false, storing nothing,
    /// when memory for it cannot be had or the store is full.
    bool append(const FrameHeader& header, const std::uint8_t* bytes) noexcept;

    /// Frames published so far; every index below it is safe to read.
    std::size_t size() const noexcept { return m_count.load(std::memory_order_acquire); }
    /// Frame `index` (below size()). A spilled frame that cannot be read back
    /// comes as an empty frame with no time stamp.
    Frame at(std::size_t index) const noexcept;

    /// The memory budget in bytes; changing it takes effect after clear().
    std::size_t memoryBudget() const noexcept { return m_budget; }
    void setMemoryBudget(std::size_t bytes) noexcept;
    /// Frames kept in memory; those from here on live in the spill file.
    std::size_t framesInMemory() const noexcept;
    /// Waits until every frame appended so far can be read (producer stopped
    /// or calling from the producer thread): spilled frames still in the ring
    /// are written first. Returns quickly when nothing was spilled.
    void flush() noexcept;

    /// The frames appended from now on come from the capture file `path`, in
    /// its order from its first frame (each one appended or passed over),
    /// those longer than `cutTo` cut to it; empty for a device or a stream.
    /// Call before every read starts, while nothing appends.
    void setSource(const QString& path, quint32 cutTo = UINT32_MAX) noexcept;
    /// A frame of the source that is not stored (a resumed read passes over
    /// the frames it gave before). Producer thread only.
    void passOver(const FrameHeader& header) noexcept;
    /// Whether frames past the budget are being read back from the source
    /// file rather than written to a spill file.
    bool readsBackFromSource() const noexcept;
    /// Set once a frame read back from the source file was found changed
    /// (the file was modified or truncated since it was read): the frame
    /// comes as an empty frame, and this names the file. Empty otherwise.
    QString sourceChanged() const;

    /// Frames that could not be stored (out of memory, or the spill file could
    /// not be made or written); never silently.
    std::size_t dropped() const noexcept { return m_dropped.load(std::memory_order_relaxed); }

    /// Where the spill file goes; empty is the system temporary folder. Takes
    /// effect at the next spill (set it while nothing appends).
    void setSpillFolder(const QString& folder) { m_spillFolder = folder; }
    /// The folder the spill file goes to (never empty).
    QString spillFolder() const;
    /// The first failure of the spill file since clear(): its folder and the
    /// system's reason. Both empty while the file is fine.
    struct SpillFailure {
        QString folder;
        QString reason;
    };
    SpillFailure spillFailure() const;
    /// Bytes held (chunks, header blocks and, once spilling, the ring, the
    /// read-back cache and the file index), for the operator and benchmarks.
    std::size_t memoryUsed() const noexcept;

    /// Releases every frame. Only while nothing appends.
    void clear() noexcept;

    static constexpr std::size_t kRecordsPerBlock = 16384;
    static constexpr std::size_t kMaxBlocks = 65536; // about a billion frames
    static constexpr std::size_t kChunkBytes = 1u << 20;

private:
    // 64-bit values are kept as two halves so the record needs no 8-byte
    // alignment: 28 bytes instead of 32, for every frame kept.
    struct Record {
        quint32 bytesLow, bytesHigh;
        quint32 secLow, secHigh;
        quint32 tsUsec;
        quint32 capLen;
        quint32 wireLen;
    };
    static_assert(sizeof(Record) == 28, "a stored frame's record stays at 28 bytes");

    struct Source;
    std::uint8_t* reserveBytes(std::size_t n) noexcept;
    bool advanceSource(const FrameHeader& header) noexcept;
    bool appendFromSource(const FrameHeader& header, const std::uint8_t* bytes) noexcept;
    bool appendSpilled(const FrameHeader& header, const std::uint8_t* bytes) noexcept;
    bool startSpill() noexcept;
    bool startSpillFile() noexcept;
    struct SpillGroup;
    bool readSourceGroup(std::size_t group, std::size_t frames, SpillGroup& out) const;
    std::size_t headLimit() const noexcept;
    void noteSpillFailure(const QString& folder, int error) noexcept;
    Frame spilledAt(std::size_t tailIndex) const noexcept;
    struct Spill;
    std::unique_ptr<Spill> m_spill; // made by the producer when the budget is reached
    // The capture file being read (producer side; readers reach it through
    // the spill). Shared: the spill keeps the file it reads back from.
    std::shared_ptr<Source> m_source;
    struct ChunkFree {
        std::size_t size;
        void operator()(std::uint8_t* p) const noexcept;
    };
    using Chunk = std::unique_ptr<std::uint8_t[], ChunkFree>;
    static Chunk allocateChunk(std::size_t size) noexcept;
    // Chunks made ahead of need on a thread of their own (producer side).
    struct Maker;
    std::unique_ptr<Maker> m_maker;
    std::atomic<std::size_t> m_spareMemory{0}; // chunks made and not yet used
    Chunk takeChunk(std::size_t size) noexcept;

    // Header blocks: fixed table of pointers, filled as needed, never moved.
    std::unique_ptr<std::atomic<Record*>[]> m_blocks;
    std::size_t m_blockCount = 0; // producer side
    // Byte chunks (producer side bookkeeping; readers reach bytes through records).
    std::vector<Chunk> m_chunks;
    std::uint8_t* m_chunkPos = nullptr;
    std::size_t m_chunkLeft = 0;

    std::atomic<std::size_t> m_count{0};
    std::atomic<std::size_t> m_dropped{0};
    std::atomic<std::size_t> m_memory{0};
    std::size_t m_budget;
    // Frames below this index are in memory; published before the first
    // spilled frame is.
    std::atomic<std::size_t> m_headFrames{SIZE_MAX};
    mutable std::atomic<std::size_t> m_spillMemory{0}; // read-back cache and file index
    bool m_spillRefused = false;                       // producer side
    QString m_spillFolder;
    mutable std::mutex m_failureMutex;
    SpillFailure m_failure;          // guarded by m_failureMutex
    mutable QString m_sourceChanged; // guarded by m_failureMutex
};

/// Writes frames [0, count) of `store` to a pcap file (Ethernet link type,
/// microsecond time stamps) that other tools read back frame for frame.
/// Returns false with a reason in `error` when the file cannot be written
/// completely; a partly written file is removed.
bool writePcapFile(const FrameStore& store, std::size_t count, const QString& path, QString* error);

} // namespace qarsilo
