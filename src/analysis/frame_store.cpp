#include "analysis/frame_store.h"

#include <QFile>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <pcap/pcap.h>
#include <sys/mman.h>

namespace qarsilo {

void FrameStore::ChunkFree::operator()(std::uint8_t* p) const noexcept {
    munmap(p, size);
}

FrameStore::Chunk FrameStore::allocateChunk(std::size_t size) noexcept {
    // Mapped with its pages made present in one go: faulting 4 KiB pages in
    // one by one while copying frames cost more than the copying itself.
    void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    if (p == MAP_FAILED)
        return Chunk(nullptr, ChunkFree{0});
    return Chunk(static_cast<std::uint8_t*>(p), ChunkFree{size});
}

FrameStore::FrameStore()
    : m_blocks(new std::atomic<Record*>[kMaxBlocks]) {
    for (std::size_t i = 0; i < kMaxBlocks; ++i)
        m_blocks[i].store(nullptr, std::memory_order_relaxed);
}

FrameStore::~FrameStore() {
    clear();
}

std::uint8_t* FrameStore::reserveBytes(std::size_t n) noexcept {
    if (n > m_chunkLeft) {
        // A frame never straddles two chunks; the tail of the old one is left.
        const std::size_t size = n > kChunkBytes ? n : kChunkBytes;
        Chunk chunk = allocateChunk(size);
        if (!chunk)
            return nullptr;
        m_chunkPos = chunk.get();
        m_chunkLeft = size;
        try {
            m_chunks.push_back(std::move(chunk));
        } catch (...) {
            m_chunkPos = nullptr;
            m_chunkLeft = 0;
            return nullptr;
        }
        m_memory.fetch_add(size, std::memory_order_relaxed);
    }
    std::uint8_t* at = m_chunkPos;
    m_chunkPos += n;
    m_chunkLeft -= n;
    return at;
}

bool FrameStore::append(const FrameHeader& header, const std::uint8_t* bytes) noexcept {
    const std::size_t index = m_count.load(std::memory_order_relaxed);
    const std::size_t block = index / kRecordsPerBlock;
    if (block >= kMaxBlocks) {
        m_dropped.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    if (block >= m_blockCount) {
        auto* records = new (std::nothrow) Record[kRecordsPerBlock];
        if (!records) {
            m_dropped.fetch_add(1, std::memory_order_relaxed);
            return false;
        }
        m_blocks[block].store(records, std::memory_order_release);
        m_blockCount = block + 1;
        m_memory.fetch_add(sizeof(Record) * kRecordsPerBlock, std::memory_order_relaxed);
    }
    std::uint8_t* copy = nullptr;
    if (header.capLen > 0) {
        copy = reserveBytes(header.capLen);
        if (!copy) {
            m_dropped.fetch_add(1, std::memory_order_relaxed);
            return false;
        }
        std::memcpy(copy, bytes, header.capLen);
    }
    Record& r = m_blocks[block].load(std::memory_order_relaxed)[index % kRecordsPerBlock];
    const auto address = reinterpret_cast<std::uintptr_t>(copy);
    const auto seconds = static_cast<quint64>(header.tsSec);
    r.bytesLow = static_cast<quint32>(address);
    r.bytesHigh = static_cast<quint32>(static_cast<quint64>(address) >> 32);
    r.secLow = static_cast<quint32>(seconds);
    r.secHigh = static_cast<quint32>(seconds >> 32);
    r.tsUsec = static_cast<quint32>(header.tsUsec);
    r.capLen = header.capLen;
    r.wireLen = header.wireLen;
    // Publishing the count releases the record and its bytes to readers.
    m_count.store(index + 1, std::memory_order_release);
    return true;
}

FrameStore::Frame FrameStore::at(std::size_t index) const noexcept {
    const Record* block = m_blocks[index / kRecordsPerBlock].load(std::memory_order_acquire);
    const Record& r = block[index % kRecordsPerBlock];
    const quint64 address = (quint64(r.bytesHigh) << 32) | r.bytesLow;
    const qint64 seconds = static_cast<qint64>((quint64(r.secHigh) << 32) | r.secLow);
    return Frame{FrameHeader{seconds, r.tsUsec, r.capLen, r.wireLen},
                 reinterpret_cast<const std::uint8_t*>(static_cast<std::uintptr_t>(address))};
}

void FrameStore::clear() noexcept {
    m_count.store(0, std::memory_order_release);
    for (std::size_t i = 0; i < m_blockCount; ++i)
        delete[] m_blocks[i].exchange(nullptr, std::memory_order_acq_rel);
    m_blockCount = 0;
    m_chunks.clear();
    m_chunkPos = nullptr;
    m_chunkLeft = 0;
    m_dropped.store(0, std::memory_order_relaxed);
    m_memory.store(0, std::memory_order_relaxed);
}

bool writePcapFile(const FrameStore& store, std::size_t count, const QString& path,
                   QString* error) {
    auto fail = [&](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    if (count > store.size())
        count = store.size();
    quint32 snap = 65535;
    for (std::size_t i = 0; i < count; ++i)
        snap = qMax(snap, store.at(i).header.capLen);

    // Written beside the target and renamed over it only when complete, so a
    // failed save never leaves a truncated file or destroys an older one.
    const QString partial = path + QStringLiteral(".partial");
    pcap_t* dead = pcap_open_dead(DLT_EN10MB, static_cast<int>(snap));
    if (!dead)
        return fail(QStringLiteral("libpcap cannot make a capture file"));
    pcap_dumper_t* dumper = pcap_dump_open(dead, QFile::encodeName(partial).constData());
    if (!dumper) {
        const QString why = QString::fromLocal8Bit(pcap_geterr(dead));
        pcap_close(dead);
        return fail(why);
    }
    for (std::size_t i = 0; i < count; ++i) {
        const FrameStore::Frame f = store.at(i);
        pcap_pkthdr h{};
        h.ts.tv_sec = static_cast<time_t>(f.header.tsSec);
        h.ts.tv_usec = static_cast<suseconds_t>(f.header.tsUsec);
        h.caplen = f.header.capLen;
        h.len = f.header.wireLen;
        static const std::uint8_t kNothing = 0;
        pcap_dump(reinterpret_cast<u_char*>(dumper), &h, f.bytes ? f.bytes : &kNothing);
    }
    // pcap_dump reports nothing; the stream's error flag, the flush and the
    // close tell whether everything reached the file.
    FILE* stream = pcap_dump_file(dumper);
    bool complete = pcap_dump_flush(dumper) == 0 && !std::ferror(stream);
    complete = std::fclose(stream) == 0 && complete;
    pcap_close(dead);
    if (!complete) {
        QFile::remove(partial);
        return fail(QStringLiteral("the file could not be written completely (disk full?)"));
    }
    if (std::rename(QFile::encodeName(partial).constData(), QFile::encodeName(path).constData()) !=
        0) {
        const QString why = QString::fromLocal8Bit(std::strerror(errno));
        QFile::remove(partial);
        return fail(why);
    }
    return true;
}

} // namespace qarsilo
