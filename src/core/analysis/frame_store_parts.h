#pragma once

// The frame store's inner parts, shared by frame_store.cpp (memory, spill
// file, saving) and frame_store_source.cpp (frames read back from the
// capture file being read). Not for use outside the store; included after
// frame_store.h, whose class these parts complete.

#include "core/capture/native_path.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace qarsilo {
namespace store_parts {

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

inline bool writeAll(int fd, const std::uint8_t* p, std::size_t n) {
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

inline bool readAll(int fd, std::uint8_t* p, std::size_t n, quint64 offset) {
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

inline quint64 mixHeader(quint64 hash, const FrameHeader& h) noexcept {
    quint64 v = quint64(h.tsSec) * 0x9E3779B97F4A7C15ull ^ quint64(h.tsUsec) ^
                (quint64(h.capLen) << 32 | h.wireLen) * 0xC2B2AE3D27D4EB4Full;
    hash ^= v + 0x165667B19E3779F9ull + (hash << 6) + (hash >> 2);
    return hash;
}

inline quint32 swapped32(quint32 v) noexcept {
    return __builtin_bswap32(v);
}

} // namespace store_parts

using namespace store_parts;

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

} // namespace qarsilo
