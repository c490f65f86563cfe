#include "core/analysis/frame_store.h"

#include <QDir>
#include <QFile>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <pcap/pcap.h>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>

namespace qarsilo {

namespace {

// A spilled frame as the capture file holds it: the classic pcap record
// header (32-bit seconds and microseconds, as every pcap file has them).
struct DiskHeader {
    quint32 sec, usec, capLen, wireLen;
};
static_assert(sizeof(DiskHeader) == 16);
// In the ring, a header with this length means "the rest up to the end of the
// ring is unused"; no real frame is that long.
constexpr quint32 kWrapMark = 0xFFFFFFFFu;
// Spilled frames are indexed by the file offset of every group's first frame,
// and read back a group at a time.
constexpr std::size_t kGroupFrames = 128;
// Groups kept read back: a few screens of the list; few enough to look up one
// by one on every read.
constexpr std::size_t kCachedGroups = 32;

bool writeAll(int fd, const std::uint8_t* p, std::size_t n) {
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0) {
            if (w == 0)
                errno = ENOSPC; // nothing written and no error: no room
            return false;
        }
        p += w;
        n -= std::size_t(w);
    }
    return true;
}

bool readAll(int fd, std::uint8_t* p, std::size_t n, quint64 offset) {
    while (n > 0) {
        const ssize_t r = ::pread(fd, p, n, off_t(offset));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return false;
        p += r;
        n -= std::size_t(r);
        offset += quint64(r);
    }
    return true;
}

} // namespace

struct FrameStore::Spill {
    // Frames read back together; Frame::keep holds one alive while in use.
    struct Group {
        std::vector<std::uint8_t> bytes;
        std::vector<std::pair<FrameHeader, std::size_t>> frames; // header, offset in bytes
    };
    struct Cached {
        std::size_t group;
        std::shared_ptr<const Group> data;
        quint64 lastUse;
    };

    int fd = -1;
    std::unique_ptr<std::uint8_t[]> ring;
    std::size_t ringSize = 0;
    std::size_t cacheLimit = 0;
    std::atomic<quint64> head{0}; // bytes the producer put in the ring
    std::atomic<quint64> tail{0}; // bytes the writer took out
    std::atomic<bool> stop{false};
    std::atomic<bool> failed{false};
    std::mutex wakeMutex;
    std::condition_variable wake;
    std::thread writer;

    // The index and the cache: the writer adds to the index, readers read it.
    mutable std::mutex indexMutex;
    std::vector<quint64> groupOffsets;
    quint64 fileBytes = 0;
    std::size_t written = 0; // spilled frames readable
    mutable std::vector<Cached> cache;
    mutable std::size_t cacheBytes = 0;
    mutable quint64 uses = 0;

    ~Spill() {
        if (writer.joinable()) {
            {
                std::lock_guard lock(wakeMutex);
                stop = true;
            }
            wake.notify_all();
            writer.join();
        }
        if (fd >= 0)
            ::close(fd);
    }

    std::size_t indexMemory() const { return groupOffsets.capacity() * sizeof(quint64); }
};

FrameStore::Frame FrameStore::spilledAt(std::size_t t) const noexcept {
    Spill& s = *m_spill;
    const std::size_t g = t / kGroupFrames;
    const std::size_t inGroup = t % kGroupFrames;
    try {
        std::lock_guard lock(s.indexMutex);
        std::shared_ptr<const Spill::Group> group;
        for (Spill::Cached& c : s.cache) {
            if (c.group == g && c.data->frames.size() > inGroup) {
                c.lastUse = ++s.uses;
                group = c.data;
                break;
            }
        }
        if (!group) {
            if (g >= s.groupOffsets.size())
                return Frame{FrameHeader{0, 0, 0, 0}, nullptr};
            const quint64 begin = s.groupOffsets[g];
            const quint64 end = g + 1 < s.groupOffsets.size() ? s.groupOffsets[g + 1] : s.fileBytes;
            auto fresh = std::make_shared<Spill::Group>();
            fresh->bytes.resize(std::size_t(end - begin));
            if (!readAll(s.fd, fresh->bytes.data(), fresh->bytes.size(), begin))
                return Frame{FrameHeader{0, 0, 0, 0}, nullptr};
            std::size_t at = 0;
            while (fresh->frames.size() < kGroupFrames &&
                   at + sizeof(DiskHeader) <= fresh->bytes.size()) {
                DiskHeader h;
                std::memcpy(&h, fresh->bytes.data() + at, sizeof h);
                if (h.capLen > fresh->bytes.size() - at - sizeof h)
                    break;
                fresh->frames.push_back(
                    {FrameHeader{qint64(h.sec), qint64(h.usec), h.capLen, h.wireLen},
                     at + sizeof h});
                at += sizeof h + h.capLen;
            }
            if (fresh->frames.size() <= inGroup)
                return Frame{FrameHeader{0, 0, 0, 0}, nullptr};
            // Drop the group's older reading, then the least recently used
            // until the new one fits (it stays even when alone too large).
            std::erase_if(s.cache, [&](const Spill::Cached& c) {
                if (c.group != g)
                    return false;
                s.cacheBytes -= c.data->bytes.size();
                return true;
            });
            while (!s.cache.empty() && (s.cacheBytes + fresh->bytes.size() > s.cacheLimit ||
                                        s.cache.size() >= kCachedGroups)) {
                auto lru = std::min_element(
                    s.cache.begin(), s.cache.end(),
                    [](const auto& a, const auto& b) { return a.lastUse < b.lastUse; });
                s.cacheBytes -= lru->data->bytes.size();
                s.cache.erase(lru);
            }
            s.cacheBytes += fresh->bytes.size();
            s.cache.push_back({g, fresh, ++s.uses});
            m_spillMemory.store(s.cacheBytes + s.indexMemory(), std::memory_order_relaxed);
            group = std::move(fresh);
        }
        const auto& [header, offset] = group->frames[inGroup];
        return Frame{header, group->bytes.data() + offset, group};
    } catch (...) {
        return Frame{FrameHeader{0, 0, 0, 0}, nullptr};
    }
}

std::size_t FrameStore::headLimit() const noexcept {
    // The budget holds the frames in memory, the ring, the read-back cache and
    // the file index (8 bytes a group: a billion frames take 64 MiB).
    const std::size_t ring = std::clamp(m_budget / 8, std::size_t(1) << 20, std::size_t(64) << 20);
    const std::size_t cache =
        std::clamp(m_budget / 16, std::size_t(256) << 10, std::size_t(16) << 20);
    const std::size_t index = std::min(m_budget / 16, std::size_t(64) << 20);
    const std::size_t reserved = ring + cache + index;
    return m_budget > reserved ? m_budget - reserved : 0;
}

QString FrameStore::spillFolder() const {
    return m_spillFolder.isEmpty() ? QDir::tempPath() : m_spillFolder;
}

FrameStore::SpillFailure FrameStore::spillFailure() const {
    std::lock_guard lock(m_failureMutex);
    return m_failure;
}

void FrameStore::noteSpillFailure(const QString& folder, int error) noexcept {
    try {
        std::lock_guard lock(m_failureMutex);
        if (!m_failure.folder.isEmpty())
            return; // the first failure is the one that explains the rest
        m_failure.reason = error ? QString::fromLocal8Bit(std::strerror(error))
                                 : QStringLiteral("the file could not be written");
        m_failure.folder = folder;
    } catch (...) {
    }
}

bool FrameStore::startSpill() noexcept {
    QString folder;
    try {
        folder = spillFolder();
        auto s = std::make_unique<Spill>();
        const std::size_t ring =
            std::clamp(m_budget / 8, std::size_t(1) << 20, std::size_t(64) << 20);
        s->cacheLimit = std::clamp(m_budget / 16, std::size_t(256) << 10, std::size_t(16) << 20);
        QByteArray name = QFile::encodeName(folder + QStringLiteral("/qarsilo-frames-XXXXXX.pcap"));
        s->fd = ::mkstemps(name.data(), 5);
        if (s->fd < 0) {
            noteSpillFailure(folder, errno);
            return false;
        }
        // Gone from the folder at once: the open file lives until closed.
        ::unlink(name.constData());
        pcap_file_header fh{};
        fh.magic = 0xa1b2c3d4;
        fh.version_major = PCAP_VERSION_MAJOR;
        fh.version_minor = PCAP_VERSION_MINOR;
        fh.snaplen = 262144;
        fh.linktype = DLT_EN10MB;
        if (!writeAll(s->fd, reinterpret_cast<const std::uint8_t*>(&fh), sizeof fh)) {
            noteSpillFailure(folder, errno);
            return false;
        }
        s->fileBytes = sizeof fh;
        s->ring.reset(new (std::nothrow) std::uint8_t[ring]);
        if (!s->ring) {
            noteSpillFailure(folder, ENOMEM);
            return false;
        }
        s->ringSize = ring;
        // Published before the writer starts: readers reach the spill only
        // through frames the writer published.
        m_spill = std::move(s);
        Spill* raw = m_spill.get();
        raw->writer = std::thread([this, raw, folder] {
            Spill& w = *raw;
            const std::size_t R = w.ringSize;
            quint64 tail = 0;
            quint64 fileAt = w.fileBytes;
            std::size_t frames = 0;
            const std::size_t head = m_headFrames.load(std::memory_order_relaxed);
            std::vector<quint64> groups;
            for (;;) {
                const quint64 end = w.head.load(std::memory_order_acquire);
                if (tail == end) {
                    std::unique_lock lock(w.wakeMutex);
                    if (w.stop)
                        return;
                    // Frames become readable a few milliseconds after capture.
                    w.wake.wait_for(lock, std::chrono::milliseconds(2));
                    continue;
                }
                const std::size_t off = std::size_t(tail % R);
                const std::size_t toEnd = R - off;
                DiskHeader h{};
                if (toEnd >= sizeof h)
                    std::memcpy(&h, w.ring.get() + off, sizeof h);
                if (toEnd < sizeof h || h.capLen == kWrapMark) {
                    tail += toEnd;
                    w.tail.store(tail, std::memory_order_release);
                    continue;
                }
                // Every whole record up to the ring's end goes in one write.
                const std::size_t limit = std::size_t(std::min<quint64>(toEnd, end - tail));
                std::size_t at = 0;
                std::size_t n = 0;
                groups.clear();
                while (at + sizeof h <= limit) {
                    std::memcpy(&h, w.ring.get() + off + at, sizeof h);
                    if (h.capLen == kWrapMark || at + sizeof h + h.capLen > limit)
                        break;
                    if ((frames + n) % kGroupFrames == 0)
                        groups.push_back(fileAt + at);
                    at += sizeof h + h.capLen;
                    ++n;
                }
                if (!w.failed.load(std::memory_order_relaxed) &&
                    !writeAll(w.fd, w.ring.get() + off, at)) {
                    noteSpillFailure(folder, errno);
                    w.failed = true;
                }
                if (!w.failed.load(std::memory_order_relaxed)) {
                    try {
                        std::lock_guard lock(w.indexMutex);
                        w.groupOffsets.insert(w.groupOffsets.end(), groups.begin(), groups.end());
                        w.fileBytes = fileAt + at;
                        w.written = frames + n;
                        m_spillMemory.store(w.cacheBytes + w.indexMemory(),
                                            std::memory_order_relaxed);
                    } catch (...) {
                        noteSpillFailure(folder, ENOMEM);
                        w.failed = true;
                    }
                }
                if (w.failed.load(std::memory_order_relaxed)) {
                    // Disk full or no memory for the index: what follows is
                    // lost, and counted so.
                    m_dropped.fetch_add(n, std::memory_order_relaxed);
                } else {
                    fileAt += at;
                    frames += n;
                    m_count.store(head + frames, std::memory_order_release);
                }
                tail += at;
                w.tail.store(tail, std::memory_order_release);
            }
        });
        m_memory.fetch_add(ring, std::memory_order_relaxed);
        return true;
    } catch (...) {
        m_spill.reset();
        noteSpillFailure(folder, ENOMEM);
        return false;
    }
}

bool FrameStore::appendSpilled(const FrameHeader& header, const std::uint8_t* bytes) noexcept {
    Spill& s = *m_spill;
    const std::size_t need = sizeof(DiskHeader) + header.capLen;
    const std::size_t R = s.ringSize;
    if (need > R || s.failed.load(std::memory_order_relaxed)) {
        m_dropped.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    quint64 pos = s.head.load(std::memory_order_relaxed);
    const std::size_t toEnd = R - std::size_t(pos % R);
    const std::size_t pad = toEnd < need ? toEnd : 0;
    // A full ring means the disk is slower than the capture: wait for the
    // writer (the kernel's capture buffer takes the frames meanwhile) rather
    // than lose a frame.
    while (pos + pad + need - s.tail.load(std::memory_order_acquire) > R) {
        if (s.failed.load(std::memory_order_relaxed)) {
            m_dropped.fetch_add(1, std::memory_order_relaxed);
            return false;
        }
        s.wake.notify_one();
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    if (pad >= sizeof(DiskHeader)) {
        const DiskHeader mark{0, 0, kWrapMark, 0};
        std::memcpy(s.ring.get() + pos % R, &mark, sizeof mark);
    }
    pos += pad;
    std::uint8_t* at = s.ring.get() + pos % R;
    const DiskHeader h{quint32(header.tsSec), quint32(header.tsUsec), header.capLen,
                       header.wireLen};
    std::memcpy(at, &h, sizeof h);
    if (header.capLen > 0)
        std::memcpy(at + sizeof h, bytes, header.capLen);
    s.head.store(pos + need, std::memory_order_release);
    return true;
}

void FrameStore::setMemoryBudget(std::size_t bytes) noexcept {
    m_budget = bytes;
}

std::size_t FrameStore::framesInMemory() const noexcept {
    return std::min(m_headFrames.load(std::memory_order_acquire), size());
}

std::size_t FrameStore::memoryUsed() const noexcept {
    return m_memory.load(std::memory_order_relaxed) + m_spillMemory.load(std::memory_order_relaxed);
}

void FrameStore::flush() noexcept {
    if (!m_spill)
        return;
    Spill& s = *m_spill;
    while (s.tail.load(std::memory_order_acquire) != s.head.load(std::memory_order_acquire)) {
        s.wake.notify_one();
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

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

FrameStore::FrameStore(std::size_t memoryBudget)
    : m_blocks(new std::atomic<Record*>[kMaxBlocks])
    , m_budget(memoryBudget) {
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
    if (m_spill)
        return appendSpilled(header, bytes);
    const std::size_t index = m_count.load(std::memory_order_relaxed);
    const std::size_t block = index / kRecordsPerBlock;
    // What this frame would add to memory; past the budget it goes to the file.
    std::size_t grows = block >= m_blockCount ? sizeof(Record) * kRecordsPerBlock : 0;
    if (header.capLen > m_chunkLeft)
        grows += std::max<std::size_t>(header.capLen, kChunkBytes);
    if (block >= kMaxBlocks ||
        (grows > 0 && m_memory.load(std::memory_order_relaxed) + grows > headLimit())) {
        m_headFrames.store(index, std::memory_order_release);
        if (m_spillRefused || !startSpill()) {
            // No temporary file: frames past the budget are lost, counted,
            // without trying again for each.
            m_spillRefused = true;
            m_headFrames.store(SIZE_MAX, std::memory_order_release);
            m_dropped.fetch_add(1, std::memory_order_relaxed);
            return false;
        }
        return appendSpilled(header, bytes);
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
    const std::size_t head = m_headFrames.load(std::memory_order_acquire);
    if (index >= head)
        return spilledAt(index - head);
    const Record* block = m_blocks[index / kRecordsPerBlock].load(std::memory_order_acquire);
    const Record& r = block[index % kRecordsPerBlock];
    const quint64 address = (quint64(r.bytesHigh) << 32) | r.bytesLow;
    const qint64 seconds = static_cast<qint64>((quint64(r.secHigh) << 32) | r.secLow);
    return Frame{FrameHeader{seconds, r.tsUsec, r.capLen, r.wireLen},
                 reinterpret_cast<const std::uint8_t*>(static_cast<std::uintptr_t>(address))};
}

void FrameStore::clear() noexcept {
    m_spill.reset(); // stops the writer and closes (so deletes) the file
    m_headFrames.store(SIZE_MAX, std::memory_order_release);
    m_count.store(0, std::memory_order_release);
    for (std::size_t i = 0; i < m_blockCount; ++i)
        delete[] m_blocks[i].exchange(nullptr, std::memory_order_acq_rel);
    m_blockCount = 0;
    m_chunks.clear();
    m_chunkPos = nullptr;
    m_chunkLeft = 0;
    m_dropped.store(0, std::memory_order_relaxed);
    m_memory.store(0, std::memory_order_relaxed);
    m_spillMemory.store(0, std::memory_order_relaxed);
    m_spillRefused = false;
    std::lock_guard lock(m_failureMutex);
    m_failure = {};
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
