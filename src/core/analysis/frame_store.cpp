#include "core/analysis/frame_store.h"

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

// A group of frames read back from the source file is checked against what
// was stored: a hash of the frames' headers as they were read first. Index
// entries keep the group's file offset (40 bits, a terabyte), the hash
// (23 bits) and whether the group was complete when hashed (1 bit).
constexpr int kOffsetShift = 24;
constexpr quint64 kHashMask = (quint64(1) << 23) - 1;
constexpr quint64 kLargestSourceFile = quint64(1) << (64 - kOffsetShift);

quint64 mixHeader(quint64 hash, const FrameHeader& h) noexcept {
    quint64 v = quint64(h.tsSec) * 0x9E3779B97F4A7C15ull ^ quint64(h.tsUsec) ^
                (quint64(h.capLen) << 32 | h.wireLen) * 0xC2B2AE3D27D4EB4Full;
    hash ^= v + 0x165667B19E3779F9ull + (hash << 6) + (hash >> 2);
    return hash;
}

quint32 swapped32(quint32 v) noexcept {
    return __builtin_bswap32(v);
}

} // namespace

// The capture file being read, as libpcap reads a classic pcap file.
struct FrameStore::Source {
    int fd = -1;
    QString name;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    bool swapped = false;
    bool nano = false;
    quint32 snapshot = 0; // libpcap cuts longer frames to this
    quint32 cut = 0;      // and the reader to this (no more than the snapshot)
    // Producer side: the record of the next frame, while it is known, and a
    // window on the file for the lengths of frames that may have been cut.
    quint64 offset = 0;
    bool known = false;
    std::unique_ptr<std::uint8_t[]> peek;
    quint64 peekAt = 0;
    std::size_t peekBytes = 0;

    // The length in the file of the frame whose record is at `at`.
    bool diskLength(quint64 at, quint32* length) {
        constexpr std::size_t kPeek = 64 << 10;
        if (at < peekAt || at + 16 > peekAt + peekBytes) {
            if (!peek)
                peek.reset(new (std::nothrow) std::uint8_t[kPeek]);
            if (!peek)
                return false;
            peekBytes = 0;
            for (;;) {
                const ssize_t r = ::pread(fd, peek.get(), kPeek, off_t(at));
                if (r < 0 && errno == EINTR)
                    continue;
                if (r < 16)
                    return false;
                peekAt = at;
                peekBytes = std::size_t(r);
                break;
            }
        }
        *length = field(peek.get() + (at - peekAt) + 8);
        return true;
    }

    ~Source() {
        if (fd >= 0)
            ::close(fd);
    }

    quint32 field(const std::uint8_t* p) const noexcept {
        quint32 v;
        std::memcpy(&v, p, 4);
        return swapped ? swapped32(v) : v;
    }

    // The header libpcap gives for the record at `p`, its bytes `disk` long in the file.
    FrameHeader header(const std::uint8_t* p, quint32* disk) const noexcept {
        const auto sec = qint32(field(p));
        const auto frac = qint32(field(p + 4));
        *disk = field(p + 8);
        return FrameHeader{qint64(sec), qint64(nano ? frac / 1000 : frac), std::min(*disk, cut),
                           field(p + 12)};
    }

    // Opens `path` when it is a classic pcap file libpcap reads record after
    // record from offset 24; null otherwise (pcapng, a pipe, a device).
    static std::shared_ptr<Source> open(const QString& path, quint32 cutTo) {
        const QByteArray native = nativeFileName(path);
        auto s = std::make_shared<Source>();
        s->fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC);
        if (s->fd < 0)
            return nullptr;
        struct stat st {};
        std::uint8_t fh[24];
        if (::fstat(s->fd, &st) != 0 || !S_ISREG(st.st_mode) ||
            quint64(st.st_size) >= kLargestSourceFile || !readAll(s->fd, fh, sizeof fh, 0))
            return nullptr;
        quint32 magic;
        std::memcpy(&magic, fh, 4);
        if (magic == 0xa1b2c3d4u || magic == 0xa1b23c4du) {
            s->nano = magic == 0xa1b23c4du;
        } else if (magic == 0xd4c3b2a1u || magic == 0x4d3cb2a1u) {
            s->swapped = true;
            s->nano = magic == 0x4d3cb2a1u;
        } else {
            return nullptr;
        }
        quint16 major, minor;
        std::memcpy(&major, fh + 4, 2);
        std::memcpy(&minor, fh + 6, 2);
        if (s->swapped) {
            major = __builtin_bswap16(major);
            minor = __builtin_bswap16(minor);
        }
        // Older versions may have the two lengths of a record swapped.
        if (major != 2 || minor != 4 || (s->field(fh + 20) & 0xFFFF) != DLT_EN10MB)
            return nullptr;
        const quint32 snap = s->field(fh + 16);
        constexpr quint32 kLargestSnapshot = 262144;
        s->snapshot = snap == 0 || snap > kLargestSnapshot ? kLargestSnapshot : snap;
        s->cut = std::min(s->snapshot, cutTo);
        s->name = path;
        s->device = st.st_dev;
        s->inode = st.st_ino;
        s->size = st.st_size;
        s->modified = st.st_mtim;
        s->offset = sizeof fh;
        s->known = true;
        return s;
    }

    // The same file as it was opened, unchanged.
    bool same(const struct stat& st) const noexcept {
        return st.st_dev == device && st.st_ino == inode && st.st_size == size &&
               st.st_mtim.tv_sec == modified.tv_sec && st.st_mtim.tv_nsec == modified.tv_nsec;
    }
};

// Frames read back together; Frame::keep holds one alive while in use.
struct FrameStore::SpillGroup {
    std::vector<std::uint8_t> bytes;
    std::vector<std::pair<FrameHeader, std::size_t>> frames; // header, offset in bytes
};

struct FrameStore::Spill {
    using Group = SpillGroup;
    struct Cached {
        quint64 group; // source groups have the top bit set
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

    // Spilled frames [0, sourceFrames) are read back from the source file;
    // the producer indexes them itself, as they come, while sourceOpen.
    std::shared_ptr<const Source> source;
    bool sourceOpen = false; // producer side
    quint64 sourceHash = 0;  // producer side: the group being indexed
    std::atomic<std::size_t> sourceFrames{0};
    std::atomic<quint64> sourceEnd{0}; // file offset past the last indexed frame

    // The index and the cache: the writer adds to the index, readers read it.
    mutable std::mutex indexMutex;
    std::vector<quint64> sourceGroups; // offset, hash and completeness of each
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

    std::size_t indexMemory() const {
        return (groupOffsets.capacity() + sourceGroups.capacity()) * sizeof(quint64);
    }
};

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

bool FrameStore::readSourceGroup(std::size_t g, std::size_t frames, SpillGroup& out) const {
    // Called with the index locked.
    const Spill& s = *m_spill;
    const Source& src = *s.source;
    if (g >= s.sourceGroups.size())
        return false;
    const quint64 entry = s.sourceGroups[g];
    const quint64 begin = entry >> kOffsetShift;
    const quint64 end = g + 1 < s.sourceGroups.size() ? s.sourceGroups[g + 1] >> kOffsetShift
                                                      : s.sourceEnd.load(std::memory_order_acquire);
    auto changed = [&] {
        std::lock_guard failureLock(m_failureMutex);
        if (m_sourceChanged.isEmpty())
            m_sourceChanged = src.name;
        return false;
    };
    // Cut short, or written over in place: the frames there are not the ones
    // that were listed.
    struct stat st {};
    if (::fstat(src.fd, &st) != 0 || quint64(st.st_size) < end ||
        (st.st_size <= src.size &&
         (st.st_mtim.tv_sec != src.modified.tv_sec || st.st_mtim.tv_nsec != src.modified.tv_nsec)))
        return changed();
    out.bytes.resize(std::size_t(end - begin));
    if (!readAll(src.fd, out.bytes.data(), out.bytes.size(), begin))
        return changed();
    out.frames.reserve(frames);
    quint64 hash = 0;
    std::size_t at = 0;
    while (out.frames.size() < frames) {
        if (out.bytes.size() - at < 16)
            return changed();
        quint32 disk = 0;
        const FrameHeader h = src.header(out.bytes.data() + at, &disk);
        if (disk > out.bytes.size() - at - 16)
            return changed();
        out.frames.push_back({h, at + 16});
        hash = mixHeader(hash, h);
        at += 16 + disk;
    }
    const quint64 stamp = entry & ((kHashMask << 1) | 1);
    if ((stamp & 1) && ((hash & kHashMask) << 1 | 1) != stamp)
        return changed();
    return true;
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

bool FrameStore::advanceSource(const FrameHeader& header) noexcept {
    Source& src = *m_source;
    quint32 disk = header.capLen;
    // A frame may have been cut: the file says how long it is.
    if (header.capLen >= src.cut && !src.diskLength(src.offset, &disk)) {
        src.known = false;
        return false;
    }
    src.offset += 16 + quint64(disk);
    return true;
}

void FrameStore::passOver(const FrameHeader& header) noexcept {
    if (m_source && m_source->known)
        advanceSource(header);
}

bool FrameStore::appendFromSource(const FrameHeader& header, const std::uint8_t* bytes) noexcept {
    Spill& s = *m_spill;
    const quint64 at = m_source->offset;
    if (!m_source->known || !advanceSource(header) || m_source->offset >= kLargestSourceFile) {
        // Where the frame is in the file is not known: it and the rest go to
        // a spill file.
        s.sourceOpen = false;
        return append(header, bytes);
    }
    const std::size_t t = s.sourceFrames.load(std::memory_order_relaxed);
    const std::size_t inGroup = t % kGroupFrames;
    s.sourceHash = mixHeader(inGroup == 0 ? 0 : s.sourceHash, header);
    if (inGroup == 0 || inGroup == kGroupFrames - 1) {
        try {
            std::lock_guard lock(s.indexMutex);
            if (inGroup == 0)
                s.sourceGroups.push_back(at << kOffsetShift);
            if (inGroup == kGroupFrames - 1)
                s.sourceGroups.back() |= (s.sourceHash & kHashMask) << 1 | 1;
            m_spillMemory.store(s.cacheBytes + s.indexMemory(), std::memory_order_relaxed);
        } catch (...) {
            // No memory for the index: the group is dropped as a whole from
            // here, and its frames counted.
            s.sourceOpen = false;
            m_dropped.fetch_add(1, std::memory_order_relaxed);
            return false;
        }
    }
    s.sourceEnd.store(m_source->offset, std::memory_order_relaxed);
    s.sourceFrames.store(t + 1, std::memory_order_release);
    m_count.store(m_headFrames.load(std::memory_order_relaxed) + t + 1, std::memory_order_release);
    return true;
}

void FrameStore::setSource(const QString& path, quint32 cutTo) noexcept {
    try {
        std::shared_ptr<Source> next;
        if (!path.isEmpty()) {
            struct stat st {};
            if (m_source && m_source->cut == std::min(m_source->snapshot, cutTo) &&
                ::fstat(m_source->fd, &st) == 0 && m_source->same(st) &&
                ::stat(nativeFileName(path).constData(), &st) == 0 && m_source->same(st)) {
                // The same file read again: from its first frame.
                next = m_source;
                next->offset = 24;
                next->known = true;
            } else {
                next = Source::open(path, cutTo);
            }
        }
        if (m_spill && m_spill->sourceOpen && next != m_spill->source)
            m_spill->sourceOpen = false; // another source: the spill goes on in a file
        m_source = std::move(next);
    } catch (...) {
        if (m_spill)
            m_spill->sourceOpen = false;
        m_source.reset();
    }
}

bool FrameStore::readsBackFromSource() const noexcept {
    // A frame published past the head means the spill is there.
    const std::size_t head = m_headFrames.load(std::memory_order_acquire);
    if (head == SIZE_MAX || size() <= head)
        return false;
    return m_spill->sourceFrames.load(std::memory_order_acquire) > 0;
}

QString FrameStore::sourceChanged() const {
    std::lock_guard lock(m_failureMutex);
    return m_sourceChanged;
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
