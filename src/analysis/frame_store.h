#pragma once

#include "analysis/frame.h"

#include <QString>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
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
class FrameStore {
public:
    /// One stored frame; the bytes stay valid until clear().
    struct Frame {
        FrameHeader header;
        const std::uint8_t* bytes;
    };

    FrameStore();
    ~FrameStore();
    FrameStore(const FrameStore&) = delete;
    FrameStore& operator=(const FrameStore&) = delete;

    /// Appends a copy (producer thread only). Returns false, storing nothing,
    /// when memory for it cannot be had or the store is full.
    bool append(const FrameHeader& header, const std::uint8_t* bytes) noexcept;

    /// Frames published so far; every index below it is safe to read.
    std::size_t size() const noexcept { return m_count.load(std::memory_order_acquire); }
    Frame at(std::size_t index) const noexcept;

    /// Frames that could not be stored (out of memory); never silently.
    std::size_t dropped() const noexcept { return m_dropped.load(std::memory_order_relaxed); }
    /// Bytes held (chunks and header blocks), for the operator and benchmarks.
    std::size_t memoryUsed() const noexcept { return m_memory.load(std::memory_order_relaxed); }

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

    std::uint8_t* reserveBytes(std::size_t n) noexcept;
    struct ChunkFree {
        std::size_t size;
        void operator()(std::uint8_t* p) const noexcept;
    };
    using Chunk = std::unique_ptr<std::uint8_t[], ChunkFree>;
    static Chunk allocateChunk(std::size_t size) noexcept;

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
};

/// Writes frames [0, count) of `store` to a pcap file (Ethernet link type,
/// microsecond time stamps) that other tools read back frame for frame.
/// Returns false with a reason in `error` when the file cannot be written
/// completely; a partly written file is removed.
bool writePcapFile(const FrameStore& store, std::size_t count, const QString& path, QString* error);

} // namespace qarsilo
