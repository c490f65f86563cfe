#include "core/analysis/frame_store.h"
#include "core/analysis/frame_store_parts.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>

namespace qarsilo {

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

} // namespace qarsilo
