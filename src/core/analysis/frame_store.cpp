#include "core/analysis/frame_store.h"
#include "core/analysis/frame_store_parts.h"

#include "core/capture/native_path.h"

#include <QDir>
#include <QFile>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <new>
#include <pcap/pcap.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace qarsilo {

FrameStore::Frame FrameStore::spilledAt(std::size_t t) const noexcept {
    Spill& s = *m_spill;
    constexpr quint64 kSourceGroup = quint64(1) << 63;
    // Frames published as read back from the source are below this count.
    const std::size_t inSource = s.sourceFrames.load(std::memory_order_acquire);
    const bool fromSource = t < inSource;
    if (!fromSource)
        t -= inSource;
    const std::size_t g = t / kGroupFrames;
    const std::size_t inGroup = t % kGroupFrames;
    const quint64 key = fromSource ? (g | kSourceGroup) : g;
    try {
        std::lock_guard lock(s.indexMutex);
        std::shared_ptr<const Spill::Group> group;
        for (Spill::Cached& c : s.cache) {
            if (c.group == key && c.data->frames.size() > inGroup) {
                c.lastUse = ++s.uses;
                group = c.data;
                break;
            }
        }
        if (!group) {
            auto fresh = std::make_shared<Spill::Group>();
            if (fromSource) {
                if (!readSourceGroup(g, std::min(kGroupFrames, inSource - g * kGroupFrames),
                                     *fresh))
                    return Frame{FrameHeader{0, 0, 0, 0}, nullptr};
            } else {
                if (g >= s.groupOffsets.size())
                    return Frame{FrameHeader{0, 0, 0, 0}, nullptr};
                const quint64 begin = s.groupOffsets[g];
                const quint64 end =
                    g + 1 < s.groupOffsets.size() ? s.groupOffsets[g + 1] : s.fileBytes;
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
            }
            if (fresh->frames.size() <= inGroup)
                return Frame{FrameHeader{0, 0, 0, 0}, nullptr};
            // Drop the group's older reading, then the least recently used
            // until the new one fits (it stays even when alone too large).
            std::erase_if(s.cache, [&](const Spill::Cached& c) {
                if (c.group != key)
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
            s.cache.push_back({key, fresh, ++s.uses});
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
    m_maker.reset(); // no more chunks: what they would hold goes elsewhere
    try {
        auto s = std::make_unique<Spill>();
        s->cacheLimit = std::clamp(m_budget / 16, std::size_t(256) << 10, std::size_t(16) << 20);
        if (m_source && m_source->known) {
            // The frames are in the file being read: nothing to write.
            s->source = m_source;
            s->sourceOpen = true;
            m_spill = std::move(s);
            return true;
        }
        m_spill = std::move(s);
    } catch (...) {
        noteSpillFailure(spillFolder(), ENOMEM);
        return false;
    }
    if (startSpillFile())
        return true;
    m_spill.reset();
    return false;
}

bool FrameStore::startSpillFile() noexcept {
    QString folder;
    Spill& spill = *m_spill;
    try {
        folder = spillFolder();
        Spill* s = &spill;
        const std::size_t ring =
            std::clamp(m_budget / 8, std::size_t(1) << 20, std::size_t(64) << 20);
        QByteArray name = QFile::encodeName(folder + QStringLiteral("/qarsilo-frames-XXXXXX.pcap"));
        s->fd = ::mkstemps(name.data(), 5);
        if (s->fd < 0) {
            noteSpillFailure(folder, errno);
            return false;
        }
        auto closeFile = [s] {
            ::close(s->fd);
            s->fd = -1;
        };
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
            closeFile();
            return false;
        }
        s->fileBytes = sizeof fh;
        s->ring.reset(new (std::nothrow) std::uint8_t[ring]);
        if (!s->ring) {
            noteSpillFailure(folder, ENOMEM);
            closeFile();
            return false;
        }
        s->ringSize = ring;
        // Frames read back from the source come first.
        const std::size_t before = s->sourceFrames.load(std::memory_order_relaxed);
        s->writer = std::thread([this, s, folder, before] {
            Spill& w = *s;
            const std::size_t R = w.ringSize;
            quint64 tail = 0;
            quint64 fileAt = w.fileBytes;
            std::size_t frames = 0;
            const std::size_t head = m_headFrames.load(std::memory_order_relaxed) + before;
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
        if (spill.fd >= 0)
            ::close(spill.fd);
        spill.fd = -1;
        spill.ring.reset();
        spill.ringSize = 0;
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
    return m_memory.load(std::memory_order_relaxed) +
           m_spillMemory.load(std::memory_order_relaxed) +
           m_spareMemory.load(std::memory_order_relaxed);
}

void FrameStore::flush() noexcept {
    if (!m_spill || !m_spill->ring)
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

// Making a chunk's pages present is the larger part of storing a frame; a
// thread of the store's own does it ahead of need, a few chunks at most and
// never past the budget, so the capture thread only copies.
struct FrameStore::Maker {
    static constexpr std::size_t kAhead = 1;
    std::mutex mutex;
    std::condition_variable wake;
    std::vector<Chunk> ready; // guarded by mutex
    std::size_t want = 0;     // guarded by mutex: chunks to keep ready
    bool stop = false;        // guarded by mutex
    std::atomic<std::size_t>& spare;
    std::thread thread;

    explicit Maker(std::atomic<std::size_t>& spareBytes)
        : spare(spareBytes) {
        ready.reserve(kAhead);
        thread = std::thread([this] { run(); });
    }
    ~Maker() {
        {
            std::lock_guard lock(mutex);
            stop = true;
        }
        wake.notify_all();
        thread.join();
        spare.fetch_sub(ready.size() * kChunkBytes, std::memory_order_relaxed);
    }

    void run() {
        std::unique_lock lock(mutex);
        for (;;) {
            wake.wait(lock, [this] { return stop || ready.size() < want; });
            if (stop)
                return;
            lock.unlock();
            Chunk chunk = allocateChunk(kChunkBytes);
            lock.lock();
            if (!chunk) {
                want = 0; // no memory: the capture thread finds out itself
                continue;
            }
            if (!stop && ready.size() < want) {
                spare.fetch_add(kChunkBytes, std::memory_order_relaxed);
                ready.push_back(std::move(chunk));
            }
        }
    }
};

FrameStore::Chunk FrameStore::takeChunk(std::size_t size) noexcept {
    Chunk chunk(nullptr, ChunkFree{0});
    if (size == kChunkBytes && m_maker) {
        std::lock_guard lock(m_maker->mutex);
        if (!m_maker->ready.empty()) {
            chunk = std::move(m_maker->ready.back());
            m_maker->ready.pop_back();
            m_spareMemory.fetch_sub(kChunkBytes, std::memory_order_relaxed);
        }
    }
    if (!chunk)
        chunk = allocateChunk(size);
    if (!chunk)
        return chunk;
    // Chunks ready ahead stay within the budget, beside the next header block.
    const std::size_t used = m_memory.load(std::memory_order_relaxed) + chunk.get_deleter().size +
                             sizeof(Record) * kRecordsPerBlock;
    const std::size_t limit = headLimit();
    const std::size_t want =
        limit > used ? std::min(Maker::kAhead, (limit - used) / kChunkBytes) : 0;
    try {
        // A store that fits in its first chunk (most files) starts no thread.
        if (!m_maker && want > 0 && m_memory.load(std::memory_order_relaxed) >= kChunkBytes)
            m_maker = std::make_unique<Maker>(m_spareMemory);
    } catch (...) {
        // No thread: chunks are made as they are needed.
    }
    if (m_maker) {
        {
            std::lock_guard lock(m_maker->mutex);
            m_maker->want = want;
            while (m_maker->ready.size() > want) {
                m_maker->ready.pop_back();
                m_spareMemory.fetch_sub(kChunkBytes, std::memory_order_relaxed);
            }
        }
        m_maker->wake.notify_one();
    }
    return chunk;
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
        Chunk chunk = takeChunk(size);
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
    if (m_spill) {
        if (m_spill->sourceOpen)
            return appendFromSource(header, bytes);
        if (!m_spill->ring && (m_spillRefused || !startSpillFile())) {
            m_spillRefused = true;
            m_dropped.fetch_add(1, std::memory_order_relaxed);
            return false;
        }
        return appendSpilled(header, bytes);
    }
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
        return append(header, bytes);
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
    if (m_source && m_source->known)
        advanceSource(header);
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
    m_maker.reset();
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
    m_source.reset();
    std::lock_guard lock(m_failureMutex);
    m_failure = {};
    m_sourceChanged.clear();
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
