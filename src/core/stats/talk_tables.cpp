#include "core/stats/talk_tables.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <memory>
#include <mutex>
#include <type_traits>
#include <unordered_map>

namespace qarsilo {

namespace {

// ---------------------------------------------------------------------------
// Addresses as text

constexpr char kHex[] = "0123456789abcdef";

char* writeDecimal(char* out, unsigned value) {
    char digits[10];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value);
    while (n)
        *out++ = digits[--n];
    return out;
}

char* writeIpv6(char* out, const std::uint8_t* b) {
    unsigned groups[8];
    for (int i = 0; i < 8; ++i)
        groups[i] = unsigned(b[2 * i]) << 8 | b[2 * i + 1];
    // The longest run of two or more zero groups, the first on a tie.
    int bestStart = -1, bestLength = 1;
    for (int i = 0; i < 8;) {
        if (groups[i] != 0) {
            ++i;
            continue;
        }
        int j = i;
        while (j < 8 && groups[j] == 0)
            ++j;
        if (j - i > bestLength) {
            bestStart = i;
            bestLength = j - i;
        }
        i = j;
    }
    for (int i = 0; i < 8; ++i) {
        if (i == bestStart) {
            *out++ = ':';
            *out++ = ':';
            i += bestLength - 1;
            continue;
        }
        if (i > 0 && i != bestStart + bestLength)
            *out++ = ':';
        const unsigned g = groups[i];
        bool started = false;
        for (int shift = 12; shift >= 0; shift -= 4) {
            const unsigned nibble = (g >> shift) & 0xf;
            if (nibble || started || shift == 0) {
                *out++ = kHex[nibble];
                started = true;
            }
        }
    }
    return out;
}

// ---------------------------------------------------------------------------
// Storage

// Rows are kept in chunks so that growth never copies them (nor doubles the
// memory for a moment); an index names a row for as long as it lives.
template <class T> class Chunked {
public:
    static constexpr unsigned kShift = 12;
    static constexpr std::uint32_t kChunk = 1u << kShift;

    T& operator[](std::uint32_t i) { return m_chunks[i >> kShift][i & (kChunk - 1)]; }
    const T& operator[](std::uint32_t i) const { return m_chunks[i >> kShift][i & (kChunk - 1)]; }
    std::uint32_t size() const { return m_size; }
    std::uint32_t push() {
        if ((m_size >> kShift) == m_chunks.size())
            m_chunks.push_back(std::make_unique<T[]>(kChunk));
        return m_size++;
    }
    void clear() {
        m_chunks.clear();
        m_size = 0;
    }

private:
    std::vector<std::unique_ptr<T[]>> m_chunks;
    std::uint32_t m_size = 0;
};

// The counts of one row: [0] A to B (or sent), [1] B to A (or received). A
// row in use has counted at least one frame; a free one is all zero.
struct Counters {
    std::uint64_t frames[2];
    std::uint64_t bytes[2];
    qint64 first;
    qint64 last;
    // The row's newest per-second rate entry: its second (low 32 bits) and
    // its place in that second's list; the top bit of `rateIndex` says the
    // row changed since the last changes() call.
    std::uint32_t rateSecond;
    std::uint32_t rateIndex;
    bool used() const { return frames[0] + frames[1] != 0; }
};
constexpr std::uint32_t kDirtyBit = 0x80000000u;

void addCounters(Counters& to, const Counters& from) {
    if (!to.used()) {
        to.first = from.first;
        to.last = from.last;
    } else {
        to.first = std::min(to.first, from.first);
        to.last = std::max(to.last, from.last);
    }
    for (int i = 0; i < 2; ++i) {
        to.frames[i] += from.frames[i];
        to.bytes[i] += from.bytes[i];
    }
}

// Keys are short and of a width known at compile time: compared and hashed
// inline, 8 bytes at a time (a call to memcmp costs more than the compare).
template <int W>
[[gnu::always_inline]] inline bool sameKey(const std::uint8_t* a, const std::uint8_t* b) {
    std::uint64_t diff = 0;
    int i = 0;
    for (; i + 8 <= W; i += 8) {
        std::uint64_t x, y;
        std::memcpy(&x, a + i, 8);
        std::memcpy(&y, b + i, 8);
        diff |= x ^ y;
    }
    if constexpr (W % 8 >= 4) {
        std::uint32_t x, y;
        std::memcpy(&x, a + i, 4);
        std::memcpy(&y, b + i, 4);
        diff |= x ^ y;
        i += 4;
    }
    for (; i < W; ++i)
        diff |= std::uint64_t(a[i] ^ b[i]);
    return diff == 0;
}

// Byte order of two sides of S bytes: negative, 0 or positive.
template <int S>
[[gnu::always_inline]] inline int compareSides(const std::uint8_t* a, const std::uint8_t* b) {
    int i = 0;
    for (; i + 8 <= S; i += 8) {
        std::uint64_t x, y;
        std::memcpy(&x, a + i, 8);
        std::memcpy(&y, b + i, 8);
        if (x != y)
            return __builtin_bswap64(x) < __builtin_bswap64(y) ? -1 : 1;
    }
    if constexpr (S % 8 >= 4) {
        std::uint32_t x, y;
        std::memcpy(&x, a + i, 4);
        std::memcpy(&y, b + i, 4);
        if (x != y)
            return __builtin_bswap32(x) < __builtin_bswap32(y) ? -1 : 1;
        i += 4;
    }
    for (; i < S; ++i)
        if (a[i] != b[i])
            return a[i] < b[i] ? -1 : 1;
    return 0;
}

template <int W> [[gnu::always_inline]] inline std::uint64_t hashKey(const std::uint8_t* p) {
    std::uint64_t h = 0x9e3779b97f4a7c15ull ^ std::uint64_t(W);
    int i = 0;
    for (; i + 8 <= W; i += 8) {
        std::uint64_t v;
        std::memcpy(&v, p + i, 8);
        h = (h ^ v) * 0xbf58476d1ce4e5b9ull;
        h ^= h >> 31;
    }
    if constexpr (W % 8 != 0) {
        std::uint64_t v = 0;
        std::memcpy(&v, p + i, W % 8);
        h = (h ^ v) * 0x94d049bb133111ebull;
        h ^= h >> 29;
    }
    h *= 0xff51afd7ed558ccdull;
    return h ^ (h >> 32);
}

// Rows keyed by W bytes: an open-addressing index (linear probing, the low
// 32 bits of the hash kept beside the row number so that most probes never
// touch the keys), keys and counts in chunks, freed rows reused.
template <int W> class Engine {
public:
    struct Key {
        std::uint8_t b[W];
    };
    static constexpr std::uint32_t npos = 0xffffffffu;

    // A row's counts and key side by side: a lookup that finds its key
    // finds the counts it adds to in the same or the next cache line.
    struct Item {
        Counters c;
        Key k;
    };
    Chunked<Item> items;

    std::uint32_t size() const { return items.size(); }
    Counters& row(std::uint32_t r) { return items[r].c; }
    const Counters& row(std::uint32_t r) const { return items[r].c; }
    std::uint8_t* keyAt(std::uint32_t r) { return items[r].k.b; }
    const std::uint8_t* keyAt(std::uint32_t r) const { return items[r].k.b; }
    std::uint32_t live = 0;

    std::uint32_t find(const std::uint8_t* key, std::uint64_t h) const {
        if (m_slots.empty())
            return npos;
        const auto tag = static_cast<std::uint32_t>(h);
        for (std::uint32_t i = tag & m_mask;; i = (i + 1) & m_mask) {
            const Slot& s = m_slots[i];
            if (s.rowPlus1 == 0)
                return npos;
            if (s.tag == tag && sameKey<W>(keyAt(s.rowPlus1 - 1), key))
                return s.rowPlus1 - 1;
        }
    }

    // A new row for a key not in the index; its counts are zero.
    std::uint32_t insert(const std::uint8_t* key, std::uint64_t h) {
        if ((std::uint64_t(live) + 1) * 4 > std::uint64_t(m_slots.size()) * 3)
            grow();
        std::uint32_t row;
        if (!m_free.empty()) {
            row = m_free.back();
            m_free.pop_back();
        } else {
            row = items.push();
        }
        std::memcpy(keyAt(row), key, W);
        const auto tag = static_cast<std::uint32_t>(h);
        std::uint32_t i = tag & m_mask;
        while (m_slots[i].rowPlus1 != 0)
            i = (i + 1) & m_mask;
        m_slots[i] = {tag, row + 1};
        ++live;
        return row;
    }

    // Takes a row out of the index and zeroes its counts; its number is
    // reused once given back by recycle().
    void erase(std::uint32_t row) {
        const auto tag = static_cast<std::uint32_t>(hashKey<W>(keyAt(row)));
        std::uint32_t i = tag & m_mask;
        while (m_slots[i].rowPlus1 != row + 1)
            i = (i + 1) & m_mask;
        // Backward shift: later entries of the run move up so that no probe
        // stops early at the hole.
        for (;;) {
            m_slots[i] = {};
            std::uint32_t j = i;
            for (;;) {
                j = (j + 1) & m_mask;
                if (m_slots[j].rowPlus1 == 0) {
                    items[row].c = {};
                    --live;
                    return;
                }
                const std::uint32_t home = m_slots[j].tag & m_mask;
                const bool stays = i <= j ? (i < home && home <= j) : (i < home || home <= j);
                if (!stays)
                    break;
            }
            m_slots[i] = m_slots[j];
            i = j;
        }
    }

    void recycle(std::uint32_t row) { m_free.push_back(row); }

    void clear() {
        items.clear();
        m_free.clear();
        m_free.shrink_to_fit();
        m_slots.clear();
        m_slots.shrink_to_fit();
        m_mask = 0;
        live = 0;
    }

private:
    struct Slot {
        std::uint32_t tag = 0;
        std::uint32_t rowPlus1 = 0;
    };
    void grow() {
        const std::size_t size = m_slots.empty() ? 256 : m_slots.size() * 2;
        std::vector<Slot> old(size);
        old.swap(m_slots);
        m_mask = static_cast<std::uint32_t>(size - 1);
        for (const Slot& s : old) {
            if (s.rowPlus1 == 0)
                continue;
            std::uint32_t i = s.tag & m_mask;
            while (m_slots[i].rowPlus1 != 0)
                i = (i + 1) & m_mask;
            m_slots[i] = s;
        }
    }

    std::vector<Slot> m_slots;
    std::uint32_t m_mask = 0;
    std::vector<std::uint32_t> m_free;
};

// ---------------------------------------------------------------------------
// One table: the non-template part

constexpr std::uint32_t kPartBit = 0x80000000u; // a row of the second (IPv6) engine
// Seconds of rate history: the 40 of the longest window, the second before
// them (it leaves the window at the next advance) and room for frames of
// seconds not yet advanced to.
constexpr int kRing = 48;
constexpr qint64 kLongest = 40;

struct RateEntry {
    std::uint32_t id;
    std::uint64_t bytes;
};
struct RateBucket {
    qint64 second = LLONG_MIN;
    std::vector<RateEntry> entries;
};
using Rates = std::array<std::uint64_t, 3>;

class TableBase {
public:
    TableBase(bool pair, const TalkTables::Options& o)
        : m_pair(pair)
        , m_limit(o.rowLimit)
        , m_track(o.changes)
        , m_withRates(o.rates) {}
    virtual ~TableBase() = default;

    virtual std::size_t liveRows() const = 0;
    virtual std::vector<std::uint32_t> sortedIds() const = 0;
    // The row's counts and sides; false for an id not in use.
    virtual bool row(std::uint32_t id, Counters& c, TalkAddress& a, TalkAddress& b) const = 0;
    virtual Counters* counters(std::uint32_t id) = 0;
    virtual void clearRows() = 0;

    std::size_t rowCount() const { return liveRows() + (m_foldedRows ? 1 : 0); }

    void clear() {
        clearRows();
        m_other = {};
        m_foldedRows = 0;
        m_dirty.clear();
        m_dirty.shrink_to_fit();
        m_foldedIds.clear();
        m_foldedIds.shrink_to_fit();
        m_foldedNow.clear();
        m_otherDirty = false;
        m_cleared = true;
        for (RateBucket& b : m_ring) {
            b.second = LLONG_MIN;
            b.entries = {};
        }
        m_sums.clear();
        m_advanced = LLONG_MIN;
        m_rebuild = false;
    }

    // Every second before `second` has ended; `first` is the tables' first
    // frame's second. The windows' byte sums are kept from one advance to
    // the next: a second that ends is added, the seconds that leave a window
    // are taken off, so the lock is held for a few seconds' lists, not 40.
    void advance(qint64 second, qint64 first) {
        if (!m_withRates)
            return;
        releaseFolded();
        m_first = first;
        if (m_advanced == LLONG_MIN || m_rebuild || second < m_advanced ||
            second - m_advanced > kLongest) {
            rebuild(second);
        } else {
            for (qint64 s = m_advanced; s < second; ++s)
                step(s + 1);
        }
        // While fewer than 40 seconds have passed the divisors move too.
        if (second - first <= kLongest)
            for (const auto& [id, r] : m_sums)
                markDirtyId(id);
        m_advanced = second;
    }

    // Bits per second as of the last advance.
    Rates ratesOf(std::uint32_t id) const {
        const auto it = m_sums.find(id);
        if (it == m_sums.end())
            return {};
        Rates r = it->second;
        const qint64 elapsed = std::max<qint64>(1, m_advanced - m_first);
        for (std::size_t k = 0; k < kRateSeconds.size(); ++k)
            r[k] = r[k] * 8 / std::uint64_t(std::min<qint64>(elapsed, kRateSeconds[k]));
        return r;
    }

    template <class Row> TalkChanges<Row> takeChanges() {
        TalkChanges<Row> out;
        out.cleared = m_cleared;
        m_cleared = false;
        out.folded.swap(m_foldedIds);
        for (const std::uint32_t id : m_dirty) {
            Counters* c = counters(id);
            if (!c || !(c->rateIndex & kDirtyBit))
                continue; // folded since, or already taken (listed twice)
            c->rateIndex &= ~kDirtyBit;
            out.ids.push_back(id);
            out.rows.push_back(makeRow<Row>(id));
        }
        m_dirty.clear();
        if (m_otherDirty && m_foldedRows) {
            out.ids.push_back(kOtherRowId);
            out.rows.push_back(makeRow<Row>(kOtherRowId));
        }
        m_otherDirty = false;
        return out;
    }

    template <class Row> Row makeRow(std::uint32_t id) const {
        Row r;
        Counters c{};
        TalkAddress a, b;
        if (id == kOtherRowId) {
            if (!m_foldedRows)
                return r;
            c = m_other;
            r.foldedRows = m_foldedRows;
        } else if (!row(id, c, a, b)) {
            return r;
        }
        if constexpr (std::is_same_v<Row, ConversationRow>) {
            r.a = a;
            r.b = b;
            r.framesAB = c.frames[0];
            r.bytesAB = c.bytes[0];
            r.framesBA = c.frames[1];
            r.bytesBA = c.bytes[1];
        } else {
            r.address = a;
            r.framesSent = c.frames[0];
            r.bytesSent = c.bytes[0];
            r.framesReceived = c.frames[1];
            r.bytesReceived = c.bytes[1];
        }
        r.firstUsec = c.first;
        r.lastUsec = c.last;
        r.bitsPerSecond = ratesOf(id);
        return r;
    }

protected:
    // A frame counted in row `id` (its counts `c`).
    [[gnu::always_inline]] void touched(Counters& c, std::uint32_t id, qint64 second,
                                        std::uint64_t length) {
        if (m_track && !(c.rateIndex & kDirtyBit)) {
            c.rateIndex |= kDirtyBit;
            m_dirty.push_back(id);
        }
        if (m_withRates)
            countRate(c, id, second, length);
    }

    void markDirtyId(std::uint32_t id) {
        if (!m_track)
            return;
        if (id == kOtherRowId) {
            m_otherDirty = true;
            return;
        }
        Counters* c = counters(id);
        if (c && !(c->rateIndex & kDirtyBit)) {
            c->rateIndex |= kDirtyBit;
            m_dirty.push_back(id);
        }
    }

    RateBucket& bucket(qint64 second) {
        return m_ring[static_cast<std::size_t>(((second % kRing) + kRing) % kRing)];
    }
    const RateBucket* bucketOf(qint64 second) const {
        const RateBucket& b = m_ring[static_cast<std::size_t>(((second % kRing) + kRing) % kRing)];
        return b.second == second ? &b : nullptr;
    }

    // The sums from the seconds' lists alone.
    void rebuild(qint64 second) {
        for (const auto& [id, r] : m_sums)
            markDirtyId(id);
        m_sums.clear();
        m_rebuild = false;
        for (const RateBucket& b : m_ring) {
            if (b.second >= second || b.second < second - kLongest)
                continue;
            const qint64 age = second - b.second; // 1 .. 40
            for (const RateEntry& e : b.entries) {
                Rates& r = m_sums[e.id];
                for (std::size_t k = 0; k < kRateSeconds.size(); ++k)
                    if (age <= kRateSeconds[k])
                        r[k] += e.bytes;
                markDirtyId(e.id);
            }
        }
    }

    // From an advance to second - 1 to one to `second`: second - 1 comes
    // into every window, second - 1 - N leaves the window of N seconds.
    void step(qint64 second) {
        if (const RateBucket* b = bucketOf(second - 1))
            for (const RateEntry& e : b->entries) {
                Rates& r = m_sums[e.id];
                for (std::uint64_t& v : r)
                    v += e.bytes;
                markDirtyId(e.id);
            }
        for (std::size_t k = 0; k < kRateSeconds.size(); ++k) {
            const RateBucket* b = bucketOf(second - 1 - kRateSeconds[k]);
            if (!b)
                continue;
            for (const RateEntry& e : b->entries) {
                const auto it = m_sums.find(e.id);
                if (it == m_sums.end())
                    continue;
                it->second[k] -= std::min(it->second[k], e.bytes);
                markDirtyId(e.id);
                if (it->second == Rates{})
                    m_sums.erase(it);
            }
        }
    }

    // The row's bytes in its second's list: one entry per row and second.
    void countRate(Counters& c, std::uint32_t id, qint64 second, std::uint64_t length) {
        RateBucket& b = bucket(second);
        if (b.second != second) {
            if (second < b.second)
                return; // older than the history kept
            // A list still in the sums is given up: they are made afresh.
            if (m_advanced != LLONG_MIN && b.second < m_advanced &&
                b.second >= m_advanced - kLongest)
                m_rebuild = true;
            b.second = second;
            b.entries.clear();
        }
        // A frame of a second already ended counts in the sums at once.
        if (m_advanced != LLONG_MIN && second < m_advanced && second >= m_advanced - kLongest) {
            Rates& r = m_sums[id];
            for (std::size_t k = 0; k < kRateSeconds.size(); ++k)
                if (m_advanced - second <= kRateSeconds[k])
                    r[k] += length;
        }
        const std::uint32_t at = c.rateIndex & ~kDirtyBit;
        if (c.rateSecond == static_cast<std::uint32_t>(second) && at < b.entries.size() &&
            b.entries[at].id == id) {
            b.entries[at].bytes += length;
            return;
        }
        c.rateSecond = static_cast<std::uint32_t>(second);
        c.rateIndex = (c.rateIndex & kDirtyBit) | static_cast<std::uint32_t>(b.entries.size());
        b.entries.push_back({id, length});
    }

    // A row leaves for "other" (its counts `c`, still in place).
    void foldCounts(const Counters& c, std::uint32_t id) {
        addCounters(m_other, c);
        ++m_foldedRows;
        if (m_track) {
            m_foldedIds.push_back(id);
            m_otherDirty = true;
        }
        if (m_withRates) {
            const auto it = m_sums.find(id);
            if (it != m_sums.end()) {
                const Rates moved = it->second;
                m_sums.erase(it); // before the insertion below may rehash
                Rates& o = m_sums[kOtherRowId];
                for (std::size_t k = 0; k < o.size(); ++k)
                    o[k] += moved[k];
            }
        }
    }

    // Folded rows' numbers wait here until their rate history is handed to
    // the other row, which takes a pass over the history: done at the next
    // advance, or when many are waiting.
    void releaseFolded() {
        if (m_foldedNow.empty())
            return;
        std::sort(m_foldedNow.begin(), m_foldedNow.end());
        for (RateBucket& b : m_ring)
            for (RateEntry& e : b.entries)
                if (std::binary_search(m_foldedNow.begin(), m_foldedNow.end(), e.id))
                    e.id = kOtherRowId;
        for (const std::uint32_t id : m_foldedNow)
            recycle(id);
        m_foldedNow.clear();
    }
    virtual void recycle(std::uint32_t id) = 0;
    static constexpr std::size_t kFoldedWaiting = 1024;

    // Rows folded at once when the table is full: a search for the least
    // recently active rows goes over the whole table, so it is done for a
    // 64th of it at a time.
    std::size_t foldBatch() const { return std::max<std::size_t>(1, m_limit / 64); }

    const bool m_pair;
    const std::size_t m_limit;
    const bool m_track;
    const bool m_withRates;
    Counters m_other{};
    std::uint64_t m_foldedRows = 0;
    std::vector<std::uint32_t> m_dirty;
    std::vector<std::uint32_t> m_foldedIds;
    std::vector<std::uint32_t> m_foldedNow;
    bool m_otherDirty = false;
    bool m_cleared = false;
    std::array<RateBucket, kRing> m_ring;
    // Bytes of the last 2, 10 and 40 seconds by row, as of the last advance.
    std::unordered_map<std::uint32_t, Rates> m_sums;
    qint64 m_advanced = LLONG_MIN; // the last advance's second
    qint64 m_first = 0;
    bool m_rebuild = false;
};

// A table keyed by W0 bytes (and, for TCP and UDP, a second engine for the
// IPv6 rows keyed by W1 bytes). A conversation's key is A's side then B's.
template <int W0, int W1> class Table final : public TableBase {
public:
    Table(TalkType type, bool pair, const TalkTables::Options& o)
        : TableBase(pair, o)
        , m_type(type) {}

    // A frame from `src` to `dst` (sides of the part's width), one engine.
    template <int P>
    void addPair(const std::uint8_t* src, const std::uint8_t* dst, std::uint64_t length,
                 qint64 usec, qint64 second) {
        constexpr int W = P == 0 ? W0 : W1;
        constexpr int S = W / 2;
        std::uint8_t key[W];
        int dir = 0;
        if (compareSides<S>(src, dst) <= 0) {
            std::memcpy(key, src, S);
            std::memcpy(key + S, dst, S);
        } else {
            std::memcpy(key, dst, S);
            std::memcpy(key + S, src, S);
            dir = 1;
        }
        count<P>(key, dir, length, usec, second);
    }

    // An endpoint: dir 0 sent, 1 received.
    template <int P>
    void addOne(const std::uint8_t* key, int dir, std::uint64_t length, qint64 usec,
                qint64 second) {
        count<P>(key, dir, length, usec, second);
    }

    std::size_t liveRows() const override { return m_e0.live + m_e1.live; }

    Counters* counters(std::uint32_t id) override {
        if (id == kOtherRowId)
            return nullptr;
        if (id & kPartBit) {
            const std::uint32_t r = id & ~kPartBit;
            if (W1 == 0 || r >= m_e1.size() || !m_e1.row(r).used())
                return nullptr;
            return &m_e1.row(r);
        }
        if (id >= m_e0.size() || !m_e0.row(id).used())
            return nullptr;
        return &m_e0.row(id);
    }

    bool row(std::uint32_t id, Counters& c, TalkAddress& a, TalkAddress& b) const override {
        if (id == kOtherRowId)
            return false;
        const int part = (id & kPartBit) ? 1 : 0;
        const std::uint32_t r = id & ~kPartBit;
        const std::uint8_t* key;
        if (part == 0) {
            if (r >= m_e0.size() || !m_e0.row(r).used())
                return false;
            c = m_e0.row(r);
            key = m_e0.keyAt(r);
        } else {
            if (W1 == 0 || r >= m_e1.size() || !m_e1.row(r).used())
                return false;
            c = m_e1.row(r);
            key = m_e1.keyAt(r);
        }
        const int side = (part == 0 ? W0 : W1) / (m_pair ? 2 : 1);
        a = address(part, key, side);
        if (m_pair)
            b = address(part, key + side, side);
        return true;
    }

    std::vector<std::uint32_t> sortedIds() const override {
        // Sorted on total bytes, then the key's first four bytes, which
        // settle most ties without going back to the keys.
        struct Item {
            std::uint64_t total;
            std::uint32_t prefix;
            std::uint32_t id;
        };
        std::vector<Item> items;
        items.reserve(liveRows());
        collect(m_e0, 0, items);
        if constexpr (W1 != 0)
            collect(m_e1, kPartBit, items);
        std::sort(items.begin(), items.end(), [this](const Item& x, const Item& y) {
            if (x.total != y.total)
                return x.total > y.total;
            if ((x.id & kPartBit) != (y.id & kPartBit))
                return (x.id & kPartBit) < (y.id & kPartBit); // IPv4 before IPv6
            if (x.prefix != y.prefix)
                return x.prefix < y.prefix;
            return compareKeys(x.id, y.id) < 0;
        });
        std::vector<std::uint32_t> ids;
        ids.reserve(items.size() + 1);
        for (const Item& i : items)
            ids.push_back(i.id);
        if (m_foldedRows)
            ids.push_back(kOtherRowId);
        return ids;
    }

    void clearRows() override {
        m_e0.clear();
        m_e1.clear();
    }

    void recycle(std::uint32_t id) override {
        if (id & kPartBit)
            m_e1.recycle(id & ~kPartBit);
        else
            m_e0.recycle(id);
    }

private:
    static constexpr int W1Storage = W1 == 0 ? 1 : W1;

    template <int P>
    void count(const std::uint8_t* key, int dir, std::uint64_t length, qint64 usec, qint64 second) {
        auto& e = engine<P>();
        constexpr int W = P == 0 ? W0 : W1Storage;
        const std::uint64_t h = hashKey<W>(key);
        std::uint32_t r = e.find(key, h);
        if (r == e.npos) {
            if (m_limit && liveRows() >= m_limit)
                fold();
            r = e.insert(key, h);
            Counters& c = e.row(r);
            c.first = c.last = usec;
        }
        Counters& c = e.row(r);
        c.first = std::min(c.first, usec);
        c.last = std::max(c.last, usec);
        ++c.frames[dir];
        c.bytes[dir] += length;
        touched(c, P == 0 ? r : (r | kPartBit), second, length);
    }

    template <int P> auto& engine() {
        if constexpr (P == 0)
            return m_e0;
        else
            return m_e1;
    }

    // Folds the least recently active rows (their last frame the oldest).
    void fold() {
        const std::size_t batch = std::min(foldBatch(), liveRows());
        if (batch == 0)
            return;
        std::vector<qint64> lasts;
        lasts.reserve(liveRows());
        gatherLast(m_e0, lasts);
        gatherLast(m_e1, lasts);
        std::nth_element(lasts.begin(), lasts.begin() + static_cast<std::ptrdiff_t>(batch - 1),
                         lasts.end());
        const qint64 limit = lasts[batch - 1];
        lasts = {};
        std::size_t folded = 0;
        // Strictly older first, then those of the boundary stamp.
        for (const bool ties : {false, true}) {
            foldOlder(m_e0, 0, limit, ties, batch, folded);
            foldOlder(m_e1, kPartBit, limit, ties, batch, folded);
        }
        if (m_foldedNow.size() >= kFoldedWaiting)
            releaseFolded();
    }

    template <class E> static void gatherLast(const E& e, std::vector<qint64>& out) {
        for (std::uint32_t r = 0; r < e.size(); ++r)
            if (e.row(r).used())
                out.push_back(e.row(r).last);
    }

    template <class E>
    void foldOlder(E& e, std::uint32_t partBit, qint64 limit, bool ties, std::size_t batch,
                   std::size_t& folded) {
        for (std::uint32_t r = 0; r < e.size() && folded < batch; ++r) {
            const Counters& c = e.row(r);
            if (!c.used() || c.last > limit || (c.last == limit) != ties)
                continue;
            foldCounts(c, r | partBit);
            e.erase(r);
            if (m_withRates)
                m_foldedNow.push_back(r | partBit);
            else
                e.recycle(r);
            ++folded;
        }
    }

    template <class E, class Item>
    static void collect(const E& e, std::uint32_t partBit, std::vector<Item>& out) {
        for (std::uint32_t r = 0; r < e.size(); ++r) {
            const Counters& c = e.row(r);
            if (!c.used())
                continue;
            std::uint32_t prefix = 0;
            const std::uint8_t* k = e.keyAt(r);
            for (std::size_t i = 0; i < std::min<std::size_t>(4, sizeof(typename E::Key)); ++i)
                prefix |= std::uint32_t(k[i]) << (24 - 8 * i);
            out.push_back({c.bytes[0] + c.bytes[1], prefix, r | partBit});
        }
    }

    int compareKeys(std::uint32_t x, std::uint32_t y) const {
        if (x & kPartBit)
            return std::memcmp(m_e1.keyAt(x & ~kPartBit), m_e1.keyAt(y & ~kPartBit), W1Storage);
        return std::memcmp(m_e0.keyAt(x), m_e0.keyAt(y), W0);
    }

    TalkAddress address(int part, const std::uint8_t* p, int side) const {
        TalkAddress a;
        switch (m_type) {
        case TalkType::Ethernet:
            a.family = 0;
            std::memcpy(a.bytes.data(), p, 6);
            break;
        case TalkType::IPv4:
            a.family = 4;
            std::memcpy(a.bytes.data(), p, 4);
            break;
        case TalkType::IPv6:
            a.family = 6;
            std::memcpy(a.bytes.data(), p, 16);
            break;
        case TalkType::Tcp:
        case TalkType::Udp: {
            const int n = side - 2;
            a.family = part == 0 ? 4 : 6;
            std::memcpy(a.bytes.data(), p, static_cast<std::size_t>(n));
            a.port = static_cast<std::uint16_t>(p[n] << 8 | p[n + 1]);
            break;
        }
        }
        return a;
    }

    const TalkType m_type;
    Engine<W0> m_e0;
    Engine<W1Storage> m_e1;
};

// ---------------------------------------------------------------------------
// Reading a frame as far as the tables need

struct FrameView {
    int ipFamily = 0; // 0 none, 4, 6
    const std::uint8_t* ipSrc = nullptr;
    const std::uint8_t* ipDst = nullptr;
    int transport = 0; // 0 none, 6 TCP, 17 UDP: ports readable, first fragment
    const std::uint8_t* ports = nullptr;
};

bool isVlanTag(unsigned type) {
    return type == 0x8100 || type == 0x88a8 || type == 0x9100;
}

// IPv6 extension headers that are followed to the transport header.
void readIpv6Transport(const std::uint8_t* p, std::size_t caplen, std::size_t at, FrameView& v) {
    unsigned next = p[at + 6];
    at += 40;
    // Each header takes 8 bytes at least: the captured length bounds the chain.
    for (;;) {
        switch (next) {
        case 6:
        case 17:
            if (at + 4 <= caplen) {
                v.transport = static_cast<int>(next);
                v.ports = p + at;
            }
            return;
        case 0:  // hop-by-hop
        case 43: // routing
        case 60: // destination options
            if (at + 2 > caplen)
                return;
            next = p[at];
            at += (std::size_t(p[at + 1]) + 1) * 8;
            break;
        case 51: // authentication header
            if (at + 2 > caplen)
                return;
            next = p[at];
            at += (std::size_t(p[at + 1]) + 2) * 4;
            break;
        case 44: // fragment: only the first one carries the ports
            if (at + 8 > caplen)
                return;
            if (((unsigned(p[at + 2]) << 8 | p[at + 3]) >> 3) != 0)
                return;
            next = p[at];
            at += 8;
            break;
        default: // ESP, no next header, anything else
            return;
        }
    }
}

FrameView readFrame(const std::uint8_t* p, std::size_t caplen, bool transport) {
    FrameView v;
    std::size_t at = 12;
    unsigned type = unsigned(p[12]) << 8 | p[13];
    for (int tags = 0; tags < 2 && isVlanTag(type); ++tags) {
        if (at + 6 > caplen)
            return v;
        at += 4;
        type = unsigned(p[at]) << 8 | p[at + 1];
    }
    at += 2;
    if (type == 0x0800) {
        if (at + 20 > caplen || (p[at] >> 4) != 4)
            return v;
        const std::size_t ihl = std::size_t(p[at] & 0x0f) * 4;
        if (ihl < 20 || at + ihl > caplen)
            return v;
        v.ipFamily = 4;
        v.ipSrc = p + at + 12;
        v.ipDst = p + at + 16;
        if (!transport)
            return v;
        const unsigned proto = p[at + 9];
        const unsigned offset = (unsigned(p[at + 6] & 0x1f) << 8) | p[at + 7];
        if ((proto == 6 || proto == 17) && offset == 0 && at + ihl + 4 <= caplen) {
            v.transport = static_cast<int>(proto);
            v.ports = p + at + ihl;
        }
    } else if (type == 0x86dd) {
        if (at + 40 > caplen || (p[at] >> 4) != 6)
            return v;
        v.ipFamily = 6;
        v.ipSrc = p + at + 8;
        v.ipDst = p + at + 24;
        if (transport)
            readIpv6Transport(p, caplen, at, v);
    }
    return v;
}

using EthConv = Table<12, 0>;
using EthEnd = Table<6, 0>;
using Ip4Conv = Table<8, 0>;
using Ip4End = Table<4, 0>;
using Ip6Conv = Table<32, 0>;
using Ip6End = Table<16, 0>;
using PortConv = Table<12, 36>; // (IPv4, port) pairs; (IPv6, port) pairs
using PortEnd = Table<6, 18>;

} // namespace

// ---------------------------------------------------------------------------

int writeTalkAddress(char* out, const TalkAddress& address, TalkType type) {
    char* o = out;
    const bool ports = type == TalkType::Tcp || type == TalkType::Udp;
    const std::uint8_t* b = address.bytes.data();
    if (address.family == 4) {
        for (int i = 0; i < 4; ++i) {
            if (i)
                *o++ = '.';
            o = writeDecimal(o, b[i]);
        }
    } else if (address.family == 6) {
        if (ports)
            *o++ = '[';
        o = writeIpv6(o, b);
        if (ports)
            *o++ = ']';
    } else {
        for (int i = 0; i < 6; ++i) {
            if (i)
                *o++ = ':';
            *o++ = kHex[b[i] >> 4];
            *o++ = kHex[b[i] & 0xf];
        }
    }
    if (ports) {
        *o++ = ':';
        o = writeDecimal(o, address.port);
    }
    return static_cast<int>(o - out);
}

QString talkAddressText(const TalkAddress& address, TalkType type) {
    char text[kMaxTalkAddressText];
    return QString::fromLatin1(text, writeTalkAddress(text, address, type));
}

struct TalkTables::Impl {
    explicit Impl(const Options& o)
        : options(o) {
        const auto wanted = [&o](TalkType t) { return (o.types >> int(t)) & 1u; };
        const auto make = [&](TalkType t, bool pair, auto*& typed) {
            using T = std::remove_pointer_t<std::remove_reference_t<decltype(typed)>>;
            auto table = std::make_unique<T>(t, pair, o);
            typed = table.get();
            (pair ? conv : ends)[int(t)] = std::move(table);
        };
        if (wanted(TalkType::Ethernet)) {
            if (o.conversations)
                make(TalkType::Ethernet, true, ethConv);
            if (o.endpoints)
                make(TalkType::Ethernet, false, ethEnd);
        }
        if (wanted(TalkType::IPv4)) {
            if (o.conversations)
                make(TalkType::IPv4, true, ip4Conv);
            if (o.endpoints)
                make(TalkType::IPv4, false, ip4End);
        }
        if (wanted(TalkType::IPv6)) {
            if (o.conversations)
                make(TalkType::IPv6, true, ip6Conv);
            if (o.endpoints)
                make(TalkType::IPv6, false, ip6End);
        }
        for (const TalkType t : {TalkType::Tcp, TalkType::Udp}) {
            if (!wanted(t))
                continue;
            if (o.conversations)
                make(t, true, t == TalkType::Tcp ? tcpConv : udpConv);
            if (o.endpoints)
                make(t, false, t == TalkType::Tcp ? tcpEnd : udpEnd);
        }
        needIp = wanted(TalkType::IPv4) || wanted(TalkType::IPv6) || wanted(TalkType::Tcp) ||
                 wanted(TalkType::Udp);
        needTransport = wanted(TalkType::Tcp) || wanted(TalkType::Udp);
    }

    TableBase* table(TalkType t, bool conversations) const {
        const int i = int(t);
        if (i < 0 || i >= kTalkTypeCount)
            return nullptr;
        return (conversations ? conv : ends)[i].get();
    }

    void addPorts(PortConv* c, PortEnd* e, const FrameView& v, std::uint64_t length, qint64 usec,
                  qint64 second) {
        if (v.ipFamily == 4) {
            std::uint8_t src[6], dst[6];
            std::memcpy(src, v.ipSrc, 4);
            std::memcpy(src + 4, v.ports, 2);
            std::memcpy(dst, v.ipDst, 4);
            std::memcpy(dst + 4, v.ports + 2, 2);
            if (c)
                c->addPair<0>(src, dst, length, usec, second);
            if (e) {
                e->addOne<0>(src, 0, length, usec, second);
                e->addOne<0>(dst, 1, length, usec, second);
            }
        } else {
            std::uint8_t src[18], dst[18];
            std::memcpy(src, v.ipSrc, 16);
            std::memcpy(src + 16, v.ports, 2);
            std::memcpy(dst, v.ipDst, 16);
            std::memcpy(dst + 16, v.ports + 2, 2);
            if (c)
                c->addPair<1>(src, dst, length, usec, second);
            if (e) {
                e->addOne<1>(src, 0, length, usec, second);
                e->addOne<1>(dst, 1, length, usec, second);
            }
        }
    }

    Options options;
    mutable std::mutex lock;
    bool anyFrame = false;
    qint64 firstSecond = 0;
    std::array<std::unique_ptr<TableBase>, kTalkTypeCount> conv;
    std::array<std::unique_ptr<TableBase>, kTalkTypeCount> ends;
    EthConv* ethConv = nullptr;
    EthEnd* ethEnd = nullptr;
    Ip4Conv* ip4Conv = nullptr;
    Ip4End* ip4End = nullptr;
    Ip6Conv* ip6Conv = nullptr;
    Ip6End* ip6End = nullptr;
    PortConv* tcpConv = nullptr;
    PortEnd* tcpEnd = nullptr;
    PortConv* udpConv = nullptr;
    PortEnd* udpEnd = nullptr;
    bool needIp = false;
    bool needTransport = false;
};

namespace {
// The lock when the tables are shared between threads.
class MaybeLock {
public:
    MaybeLock(std::mutex& m, bool use)
        : m_lock(use ? &m : nullptr) {
        if (m_lock)
            m_lock->lock();
    }
    ~MaybeLock() {
        if (m_lock)
            m_lock->unlock();
    }
    MaybeLock(const MaybeLock&) = delete;
    MaybeLock& operator=(const MaybeLock&) = delete;

private:
    std::mutex* m_lock;
};
} // namespace

TalkTables::TalkTables(Options options)
    : d(std::make_unique<Impl>(options)) {}
TalkTables::TalkTables()
    : TalkTables(Options{}) {}
TalkTables::~TalkTables() = default;

const TalkTables::Options& TalkTables::options() const {
    return d->options;
}

void TalkTables::add(const pcap_pkthdr& header, const std::uint8_t* bytes) noexcept {
    const std::size_t caplen = header.caplen;
    if (caplen < 14)
        return;
    Impl& m = *d;
    // The frame is read before the lock is taken.
    FrameView v;
    if (m.needIp)
        v = readFrame(bytes, caplen, m.needTransport);
    const std::uint64_t length = header.len;
    const qint64 second = header.ts.tv_sec;
    const qint64 usec = second * 1'000'000 + header.ts.tv_usec;

    MaybeLock guard(m.lock, m.options.threadSafe);
    if (!m.anyFrame || second < m.firstSecond) {
        m.anyFrame = true;
        m.firstSecond = second;
    }
    const std::uint8_t* dst = bytes;
    const std::uint8_t* src = bytes + 6;
    if (m.ethConv)
        m.ethConv->addPair<0>(src, dst, length, usec, second);
    if (m.ethEnd) {
        m.ethEnd->addOne<0>(src, 0, length, usec, second);
        m.ethEnd->addOne<0>(dst, 1, length, usec, second);
    }
    if (v.ipFamily == 4) {
        if (m.ip4Conv)
            m.ip4Conv->addPair<0>(v.ipSrc, v.ipDst, length, usec, second);
        if (m.ip4End) {
            m.ip4End->addOne<0>(v.ipSrc, 0, length, usec, second);
            m.ip4End->addOne<0>(v.ipDst, 1, length, usec, second);
        }
    } else if (v.ipFamily == 6) {
        if (m.ip6Conv)
            m.ip6Conv->addPair<0>(v.ipSrc, v.ipDst, length, usec, second);
        if (m.ip6End) {
            m.ip6End->addOne<0>(v.ipSrc, 0, length, usec, second);
            m.ip6End->addOne<0>(v.ipDst, 1, length, usec, second);
        }
    }
    if (v.transport == 6)
        m.addPorts(m.tcpConv, m.tcpEnd, v, length, usec, second);
    else if (v.transport == 17)
        m.addPorts(m.udpConv, m.udpEnd, v, length, usec, second);
}

void TalkTables::advanceTo(qint64 second) {
    MaybeLock guard(d->lock, d->options.threadSafe);
    if (!d->anyFrame)
        return;
    for (auto* tables : {&d->conv, &d->ends})
        for (auto& t : *tables)
            if (t)
                t->advance(second, d->firstSecond);
}

void TalkTables::clear() {
    MaybeLock guard(d->lock, d->options.threadSafe);
    d->anyFrame = false;
    d->firstSecond = 0;
    for (auto* tables : {&d->conv, &d->ends})
        for (auto& t : *tables)
            if (t)
                t->clear();
}

std::size_t TalkTables::rowCount(TalkType type, bool conversations) const {
    MaybeLock guard(d->lock, d->options.threadSafe);
    const TableBase* t = d->table(type, conversations);
    return t ? t->rowCount() : 0;
}

TalkChanges<ConversationRow> TalkTables::conversationChanges(TalkType type) {
    MaybeLock guard(d->lock, d->options.threadSafe);
    TableBase* t = d->table(type, true);
    return t ? t->takeChanges<ConversationRow>() : TalkChanges<ConversationRow>{};
}

TalkChanges<EndpointRow> TalkTables::endpointChanges(TalkType type) {
    MaybeLock guard(d->lock, d->options.threadSafe);
    TableBase* t = d->table(type, false);
    return t ? t->takeChanges<EndpointRow>() : TalkChanges<EndpointRow>{};
}

std::vector<std::uint32_t> TalkTables::sortedIds(TalkType type, bool conversations) const {
    MaybeLock guard(d->lock, d->options.threadSafe);
    const TableBase* t = d->table(type, conversations);
    return t ? t->sortedIds() : std::vector<std::uint32_t>{};
}

ConversationRow TalkTables::conversation(TalkType type, std::uint32_t id) const {
    MaybeLock guard(d->lock, d->options.threadSafe);
    const TableBase* t = d->table(type, true);
    return t ? t->makeRow<ConversationRow>(id) : ConversationRow{};
}

EndpointRow TalkTables::endpoint(TalkType type, std::uint32_t id) const {
    MaybeLock guard(d->lock, d->options.threadSafe);
    const TableBase* t = d->table(type, false);
    return t ? t->makeRow<EndpointRow>(id) : EndpointRow{};
}

std::vector<ConversationRow> TalkTables::conversations(TalkType type) const {
    MaybeLock guard(d->lock, d->options.threadSafe);
    std::vector<ConversationRow> rows;
    const TableBase* t = d->table(type, true);
    if (!t)
        return rows;
    const std::vector<std::uint32_t> ids = t->sortedIds();
    rows.reserve(ids.size());
    for (const std::uint32_t id : ids)
        rows.push_back(t->makeRow<ConversationRow>(id));
    return rows;
}

std::vector<EndpointRow> TalkTables::endpoints(TalkType type) const {
    MaybeLock guard(d->lock, d->options.threadSafe);
    std::vector<EndpointRow> rows;
    const TableBase* t = d->table(type, false);
    if (!t)
        return rows;
    const std::vector<std::uint32_t> ids = t->sortedIds();
    rows.reserve(ids.size());
    for (const std::uint32_t id : ids)
        rows.push_back(t->makeRow<EndpointRow>(id));
    return rows;
}

} // namespace qarsilo
