#include "core/stats/talk_model.h"

#include "core/stats/talk_filter.h"

#include <QDateTime>
#include <QElapsedTimer>

#include <algorithm>
#include <climits>

#include <sys/resource.h>

namespace qarsilo {

namespace {

constexpr std::uint32_t kDead = 0xfffffffeu; // a folded row's id slot
constexpr std::uint32_t kNoRow = 0xffffffffu;
constexpr std::uint32_t kHighBit = 0x80000000u;
// Each slice of queued changes gives the event loop back after this long.
constexpr qint64 kSliceMs = 5;

// Counts are written by the interface thread while a sorting pass reads
// them on its own: both go through atomic references (plain moves on x86).
template <class T> void put(T& to, T value) {
    std::atomic_ref<T>(to).store(value, std::memory_order_relaxed);
}
template <class T> T get(const T& from) {
    return std::atomic_ref<T>(const_cast<T&>(from)).load(std::memory_order_relaxed);
}

const char* const kConversationTitles[] = {"Address A",  "Name A",    "Address B",  "Name B",
                                           "Frames A→B", "Bytes A→B", "Frames B→A", "Bytes B→A",
                                           "Frames",     "Bytes",     "First Seen", "Duration (s)",
                                           "Rate 2 s",   "Rate 10 s", "Rate 40 s"};
const char* const kEndpointTitles[] = {
    "Address",         "Name",           "",         "",      "Frames Sent", "Bytes Sent",
    "Frames Received", "Bytes Received", "Frames",   "Bytes", "First Seen",  "Last Seen",
    "Rate 2 s",        "Rate 10 s",      "Rate 40 s"};

bool isNumber(TalkModel::Kind k) {
    return k >= TalkModel::FramesOut && k != TalkModel::FirstSeen;
}

QString timeText(qint64 usec, bool exported) {
    const QDateTime t = QDateTime::fromMSecsSinceEpoch(usec / 1000);
    QString s = t.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    if (exported)
        return s + QStringLiteral(".%1").arg(usec % 1'000'000, 6, 10, QLatin1Char('0'));
    return s + QStringLiteral(".%1").arg(usec % 1'000'000 / 1000, 3, 10, QLatin1Char('0'));
}

QString secondsText(qint64 usec) {
    return QString::asprintf("%lld.%03lld", static_cast<long long>(usec / 1'000'000),
                             static_cast<long long>(usec % 1'000'000 / 1000));
}

} // namespace

quint64 TalkNames::macKey(const std::uint8_t* b) {
    quint64 k = 0;
    for (int i = 0; i < 6; ++i)
        k = (k << 8) | b[i];
    return k;
}

QString TalkNames::lookup(const TalkAddress& a) const {
    if (a.family == 0)
        return byMac.value(macKey(a.bytes.data()));
    if (a.family == 4)
        return byIpv4.value(quint32(a.bytes[0]) << 24 | quint32(a.bytes[1]) << 16 |
                            quint32(a.bytes[2]) << 8 | a.bytes[3]);
    return {};
}

QString groupedNumber(std::uint64_t n) {
    QString digits = QString::number(n);
    for (qsizetype at = digits.size() - 3; at > 0; at -= 3)
        digits.insert(at, QLatin1Char(','));
    return digits;
}

QString bitRateText(std::uint64_t bps) {
    if (bps < 1000)
        return QString::number(bps) + QLatin1Char('b');
    static const char* const kUnits[] = {"Kb", "Mb", "Gb", "Tb"};
    double v = static_cast<double>(bps) / 1000.0;
    int unit = 0;
    while (v >= 1000.0 && unit < 3) {
        v /= 1000.0;
        ++unit;
    }
    // Three figures, as iftop shows them.
    const int decimals = v >= 100.0 ? 0 : v >= 10.0 ? 1 : 2;
    return QString::number(v, 'f', decimals) + QLatin1String(kUnits[unit]);
}

struct TalkModel::JobInput {
    std::vector<std::shared_ptr<Chunk>> chunks;
    std::vector<std::uint32_t> ids;
    bool conversations = true;
    std::int64_t other = -1;
    TalkType type{};
    Kind kind = KindCount; // KindCount: the order rows came in
    bool descending = false;
    QString filter;
    std::shared_ptr<const TalkNames> names;
    std::uint64_t generation = 0;
    std::shared_ptr<std::atomic<bool>> cancel;
};

TalkModel::TalkModel(TalkTables& tables, TalkType type, bool conversations, QObject* parent)
    : QAbstractTableModel(parent)
    , m_tables(tables)
    , m_type(type)
    , m_conversations(conversations) {
    m_sliceTimer.setObjectName(QStringLiteral("slice"));
    m_pollTimer.setObjectName(QStringLiteral("sortDone"));
    m_refreshTimer.setObjectName(QStringLiteral("resort"));
    m_sliceTimer.setSingleShot(true);
    m_sliceTimer.setInterval(0);
    connect(&m_sliceTimer, &QTimer::timeout, this, [this] { applyQueued(false); });
    m_pollTimer.setInterval(20);
    connect(&m_pollTimer, &QTimer::timeout, this, &TalkModel::pollJob);
    // Sorting and filtering follow the changes at most once a second.
    m_refreshTimer.setInterval(1000);
    connect(&m_refreshTimer, &QTimer::timeout, this, [this] {
        if (m_orderDirty && (m_sortColumn >= 0 || !m_filter.isEmpty()) && !busy())
            startJob();
    });
    m_refreshTimer.start();
}

TalkModel::~TalkModel() {
    if (m_cancel)
        m_cancel->store(true);
    if (m_job.valid())
        m_job.wait();
}

TalkModel::Kind TalkModel::kind(int column) const {
    if (m_conversations || column < AddressB)
        return static_cast<Kind>(column);
    return static_cast<Kind>(column + 2);
}

int TalkModel::column(Kind k) const {
    if (m_conversations || k < AddressB)
        return k;
    if (k == AddressB || k == NameB)
        return -1;
    return k - 2;
}

int TalkModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_order.size());
}

int TalkModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : (m_conversations ? KindCount : KindCount - 2);
}

QStringList TalkModel::columnTitles() const {
    QStringList titles;
    for (int c = 0; c < columnCount(); ++c)
        titles << headerData(c, Qt::Horizontal).toString();
    return titles;
}

QVariant TalkModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= columnCount())
        return {};
    const Kind k = kind(section);
    if (role == Qt::DisplayRole)
        return QString::fromUtf8(m_conversations ? kConversationTitles[k] : kEndpointTitles[k]);
    if (role == Qt::ToolTipRole && k >= Rate2)
        return QStringLiteral("Bits per second over the last %1 seconds")
            .arg(kRateSeconds[static_cast<std::size_t>(k - Rate2)]);
    return {};
}

QString TalkModel::addressText(const Row& r, bool b) const {
    if (r.folded != 0)
        return b ? QString() : QStringLiteral("other (%1 rows)").arg(groupedNumber(r.folded));
    return talkAddressText(b ? r.b : r.a, m_type);
}

QString TalkModel::cellText(const Row& r, Kind k, bool exported) const {
    auto number = [exported](std::uint64_t n) {
        return exported ? QString::number(n) : groupedNumber(n);
    };
    switch (k) {
    case AddressA:
        return addressText(r, false);
    case AddressB:
        return addressText(r, true);
    case NameA:
    case NameB:
        return m_names && r.folded == 0 ? m_names->lookup(k == NameA ? r.a : r.b) : QString();
    case FramesOut:
        return number(r.frames[0]);
    case BytesOut:
        return number(r.bytes[0]);
    case FramesIn:
        return number(r.frames[1]);
    case BytesIn:
        return number(r.bytes[1]);
    case Frames:
        return number(r.frames[0] + r.frames[1]);
    case Bytes:
        return number(r.bytes[0] + r.bytes[1]);
    case FirstSeen:
        return timeText(r.first, exported);
    case DurationOrLast:
        return m_conversations ? secondsText(r.last - r.first) : timeText(r.last, exported);
    case Rate2:
    case Rate10:
    case Rate40: {
        const std::uint64_t bps = r.bps[static_cast<std::size_t>(k - Rate2)];
        return exported ? QString::number(bps) : bitRateText(bps);
    }
    case KindCount:
        break;
    }
    return {};
}

QVariant TalkModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount())
        return {};
    const Row& r = row(m_order[static_cast<std::size_t>(index.row())]);
    const Kind k = kind(index.column());
    switch (role) {
    case Qt::DisplayRole:
        return cellText(r, k, false);
    case Qt::TextAlignmentRole:
        return isNumber(k) ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                           : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    case Qt::ToolTipRole:
        if ((k != AddressA && k != AddressB) || r.folded != 0)
            return {};
        // The card's maker on MAC addresses; long IPv6 addresses may be cut in the cell.
        if (m_type == TalkType::Ethernet)
            return m_describe ? QVariant(m_describe(addressText(r, k == AddressB))) : QVariant();
        return addressText(r, k == AddressB);
    default:
        return {};
    }
}

QString TalkModel::exportText(int rowAt, int column) const {
    return cellText(row(m_order[static_cast<std::size_t>(rowAt)]), kind(column), true);
}

QStringList TalkModel::exportRow(int rowAt) const {
    QStringList out;
    for (int c = 0; c < columnCount(); ++c)
        out << exportText(rowAt, c);
    return out;
}

bool TalkModel::isOther(int rowAt) const {
    return row(m_order[static_cast<std::size_t>(rowAt)]).folded != 0;
}

TalkAddress TalkModel::addressA(int rowAt) const {
    return row(m_order[static_cast<std::size_t>(rowAt)]).a;
}

TalkAddress TalkModel::addressB(int rowAt) const {
    return row(m_order[static_cast<std::size_t>(rowAt)]).b;
}

QString TalkModel::displayFilter(int rowAt) const {
    const Row& r = row(m_order[static_cast<std::size_t>(rowAt)]);
    if (r.folded != 0)
        return {};
    return m_conversations ? talkConversationFilter(m_type, r.a, r.b)
                           : talkEndpointFilter(m_type, r.a);
}

std::uint32_t TalkModel::rowId(int rowAt) const {
    return m_ids[m_order[static_cast<std::size_t>(rowAt)]];
}

int TalkModel::rowOfId(std::uint32_t id) const {
    const std::uint32_t s = storageOf(id);
    if (s == kNoRow || s >= m_pos.size() || m_ids[s] != id)
        return -1;
    return m_pos[s];
}

void TalkModel::setNames(std::shared_ptr<const TalkNames> names) {
    m_names = std::move(names);
    if (!m_order.empty())
        Q_EMIT dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
    // A filter may match names.
    if (!m_filter.isEmpty())
        startJob();
}

void TalkModel::setMacDescriber(std::function<QString(const QString&)> describe) {
    m_describe = std::move(describe);
}

std::uint32_t TalkModel::append(std::uint32_t id) {
    if (m_size % kChunk == 0 && m_size / kChunk == m_chunks.size())
        m_chunks.push_back(std::make_shared<Chunk>());
    const auto at = static_cast<std::uint32_t>(m_size++);
    row(at) = Row();
    m_ids.push_back(id);
    m_pos.push_back(-1);
    *slot(id) = at;
    ++m_live;
    if (id == kOtherRowId)
        m_other = at;
    return at;
}

std::uint32_t* TalkModel::slot(std::uint32_t id) {
    if (id == kOtherRowId)
        return &m_otherSlot;
    std::vector<std::uint32_t>& map = id & kHighBit ? m_byHighId : m_byLowId;
    const std::uint32_t at = id & ~kHighBit;
    if (at >= map.size())
        map.resize(std::max<std::size_t>(at + 1, map.size() * 2), kNoRow);
    return &map[at];
}

std::uint32_t TalkModel::storageOf(std::uint32_t id) const {
    if (id == kOtherRowId)
        return m_otherSlot;
    const std::vector<std::uint32_t>& map = id & kHighBit ? m_byHighId : m_byLowId;
    const std::uint32_t at = id & ~kHighBit;
    return at < map.size() ? map[at] : kNoRow;
}

void TalkModel::pickUp() {
    finishQueued();
    if (m_conversations)
        queueChanges(m_tables.conversationChanges(m_type));
    else
        queueChanges(m_tables.endpointChanges(m_type));
    finishQueued();
}

void TalkModel::queueChanges(TalkChanges<ConversationRow>&& changes) {
    finishQueued();
    m_queuedConversations = std::move(changes);
    m_queuedAt = 0;
    m_queuedStarted = false;
    m_pendingRows = true;
    m_sliceTimer.start();
}

void TalkModel::queueChanges(TalkChanges<EndpointRow>&& changes) {
    finishQueued();
    m_queuedEndpoints = std::move(changes);
    m_queuedAt = 0;
    m_queuedStarted = false;
    m_pendingRows = true;
    m_sliceTimer.start();
}

void TalkModel::finishQueued() {
    if (m_pendingRows)
        applyQueued(true);
}

void TalkModel::applyQueued(bool all) {
    if (!m_pendingRows)
        return;
    if (m_conversations)
        applySlice(m_queuedConversations, all);
    else
        applySlice(m_queuedEndpoints, all);
}

template <class R> void TalkModel::applySlice(TalkChanges<R>& changes, bool all) {
    if (!m_queuedStarted) {
        m_queuedStarted = true;
        if (changes.cleared)
            resetAll();
        if (!changes.folded.empty())
            removeFolded(changes.folded);
    }
    QElapsedTimer spent;
    spent.start();
    while (m_queuedAt < changes.ids.size()) {
        const std::size_t to = std::min(changes.ids.size(), m_queuedAt + 4096);
        applyRows(changes, m_queuedAt, to);
        m_queuedAt = to;
        if (!all && spent.elapsed() >= kSliceMs)
            break;
    }
    const bool cleared = changes.cleared;
    if (m_queuedAt >= changes.ids.size()) {
        changes = {};
        m_pendingRows = false;
        m_sliceTimer.stop();
        // The view takes the batch's new rows at once: each insertion costs
        // it a pass over every row it has.
        showNewRows();
    } else {
        m_sliceTimer.start();
    }
    const std::size_t rows = m_live - (m_other >= 0 ? 1 : 0);
    if (rows != m_tableRows || cleared) {
        m_tableRows = rows;
        Q_EMIT tableRowsChanged();
    }
}

template <class R>
void TalkModel::applyRows(const TalkChanges<R>& changes, std::size_t from, std::size_t to) {
    const std::size_t firstNew = m_size;
    int low = INT_MAX;
    int high = -1;
    for (std::size_t i = from; i < to; ++i) {
        const std::uint32_t id = changes.ids[i];
        std::uint32_t at = storageOf(id);
        const bool fresh = at == kNoRow;
        if (fresh)
            at = append(id);
        Row& r = row(at);
        const R& c = changes.rows[i];
        // Addresses are written once: a sorting or filtering pass may be
        // reading them on its thread.
        if constexpr (std::is_same_v<R, ConversationRow>) {
            if (fresh) {
                r.a = c.a;
                r.b = c.b;
            }
            put(r.frames[0], c.framesAB);
            put(r.bytes[0], c.bytesAB);
            put(r.frames[1], c.framesBA);
            put(r.bytes[1], c.bytesBA);
        } else {
            if (fresh)
                r.a = r.b = c.address;
            put(r.frames[0], c.framesSent);
            put(r.bytes[0], c.bytesSent);
            put(r.frames[1], c.framesReceived);
            put(r.bytes[1], c.bytesReceived);
        }
        put(r.first, c.firstUsec);
        put(r.last, c.lastUsec);
        for (std::size_t k = 0; k < r.bps.size(); ++k)
            put(r.bps[k], c.bitsPerSecond[k]);
        if (id == kOtherRowId)
            put(r.folded, std::max<std::uint64_t>(c.foldedRows, 1));
        if (at < firstNew && m_pos[at] >= 0) {
            low = std::min(low, m_pos[at]);
            high = std::max(high, m_pos[at]);
        }
    }
    if (high >= 0)
        Q_EMIT dataChanged(index(low, 0), index(high, columnCount() - 1));
    if (to > from && m_sortColumn >= 0)
        m_orderDirty = true;

    if (m_size > firstNew && !m_filter.isEmpty())
        m_orderDirty = true; // the next filtering pass looks at them
}

void TalkModel::showNewRows() {
    if (!m_filter.isEmpty() || m_covered >= m_size)
        return;
    const std::size_t firstNew = m_covered;
    // New rows go last, before the "other" row.
    const bool otherShown = m_other >= 0 && m_pos[static_cast<std::size_t>(m_other)] >= 0;
    const int at = rowCount() - (otherShown ? 1 : 0);
    std::vector<std::uint32_t> added;
    added.reserve(m_size - firstNew);
    for (std::size_t s = firstNew; s < m_size; ++s)
        if (static_cast<std::int64_t>(s) != m_other && m_ids[s] != kDead && m_pos[s] < 0)
            added.push_back(static_cast<std::uint32_t>(s));
    if (m_other >= static_cast<std::int64_t>(firstNew) && !otherShown)
        added.push_back(static_cast<std::uint32_t>(m_other));
    m_covered = m_size;
    if (added.empty())
        return;
    beginInsertRows({}, at, at + static_cast<int>(added.size()) - 1);
    m_order.insert(m_order.begin() + at, added.begin(), added.end());
    for (std::size_t p = static_cast<std::size_t>(at); p < m_order.size(); ++p)
        m_pos[m_order[p]] = static_cast<std::int32_t>(p);
    endInsertRows();
}

void TalkModel::resetAll() {
    if (m_cancel)
        m_cancel->store(true);
    ++m_generation;
    beginResetModel();
    m_chunks.clear();
    m_size = 0;
    m_byLowId.clear();
    m_byHighId.clear();
    m_otherSlot = kNoRow;
    m_live = 0;
    m_ids.clear();
    m_order.clear();
    m_pos.clear();
    m_covered = 0;
    m_other = -1;
    m_orderDirty = false;
    endResetModel();
}

void TalkModel::removeFolded(const std::vector<std::uint32_t>& folded) {
    std::vector<int> shown;
    for (std::uint32_t id : folded) {
        std::uint32_t* at = slot(id);
        if (*at == kNoRow)
            continue;
        const std::uint32_t s = *at;
        *at = kNoRow;
        --m_live;
        m_ids[s] = kDead;
        if (m_pos[s] >= 0)
            shown.push_back(m_pos[s]);
        m_pos[s] = -1;
        ++m_folds;
    }
    // A few runs of shown rows go one by one; many at once make a reset
    // (erasing each from a long list would cost more than the view's reset).
    std::sort(shown.begin(), shown.end());
    std::vector<std::pair<int, int>> runs;
    for (int p : shown)
        if (!runs.empty() && runs.back().second + 1 == p)
            runs.back().second = p;
        else
            runs.push_back({p, p});
    if (runs.size() <= 16) {
        for (auto it = runs.rbegin(); it != runs.rend(); ++it) {
            beginRemoveRows({}, it->first, it->second);
            m_order.erase(m_order.begin() + it->first, m_order.begin() + it->second + 1);
            endRemoveRows();
        }
        rebuildPositions();
    } else {
        beginResetModel();
        std::erase_if(m_order, [this](std::uint32_t s) { return m_ids[s] == kDead; });
        rebuildPositions();
        endResetModel();
    }
    // Storage keeps the dead rows until they are half of it.
    const std::size_t dead = m_size - m_live;
    if (dead < kChunk || dead * 2 < m_size)
        return;
    if (m_cancel)
        m_cancel->store(true);
    ++m_generation;
    std::vector<std::int64_t> moved(m_size, -1);
    std::vector<std::shared_ptr<Chunk>> chunks;
    std::vector<std::uint32_t> ids;
    std::size_t size = 0;
    for (std::size_t s = 0; s < m_size; ++s) {
        if (m_ids[s] == kDead)
            continue;
        if (size % kChunk == 0)
            chunks.push_back(std::make_shared<Chunk>());
        (*chunks[size / kChunk])[size % kChunk] = row(s);
        moved[s] = static_cast<std::int64_t>(size);
        ids.push_back(m_ids[s]);
        ++size;
    }
    // The rows looked at stay the same rows, renumbered.
    const std::size_t covered = m_covered;
    m_covered = 0;
    for (std::size_t s = 0; s < std::min(covered, m_size); ++s)
        if (moved[s] >= 0)
            m_covered = static_cast<std::size_t>(moved[s]) + 1;
    m_chunks = std::move(chunks);
    m_ids = std::move(ids);
    m_size = size;
    for (std::uint32_t& s : m_order)
        s = static_cast<std::uint32_t>(moved[s]);
    if (m_other >= 0)
        m_other = moved[static_cast<std::size_t>(m_other)];
    for (std::size_t s = 0; s < m_size; ++s)
        *slot(m_ids[s]) = static_cast<std::uint32_t>(s);
    m_pos.assign(m_size, -1);
    rebuildPositions();
}

void TalkModel::rebuildPositions() {
    std::fill(m_pos.begin(), m_pos.end(), -1);
    for (std::size_t p = 0; p < m_order.size(); ++p)
        m_pos[m_order[p]] = static_cast<std::int32_t>(p);
}

bool TalkModel::matches(const Row& r, TalkType type, const QString& text, const TalkNames* names) {
    if (get(r.folded) != 0)
        return true;
    if (talkAddressText(r.a, type).contains(text, Qt::CaseInsensitive) ||
        talkAddressText(r.b, type).contains(text, Qt::CaseInsensitive))
        return true;
    return names && (names->lookup(r.a).contains(text, Qt::CaseInsensitive) ||
                     names->lookup(r.b).contains(text, Qt::CaseInsensitive));
}

void TalkModel::setFilterText(const QString& text) {
    const QString trimmed = text.trimmed();
    if (trimmed == m_filter)
        return;
    m_filter = trimmed;
    startJob();
}

void TalkModel::sort(int column, Qt::SortOrder order) {
    if (column >= columnCount())
        return;
    m_sortColumn = column;
    m_sortOrder = order;
    startJob();
}

void TalkModel::startJob() {
    if (m_job.valid()) {
        // The running pass is out of date: a new one follows it.
        m_cancel->store(true);
        m_jobPending = true;
        m_pollTimer.start();
        return;
    }
    m_jobPending = false;
    m_orderDirty = false;
    auto in = std::make_shared<JobInput>();
    in->chunks = m_chunks;
    in->ids = m_ids;
    in->other = m_other;
    in->type = m_type;
    in->conversations = m_conversations;
    in->kind = m_sortColumn >= 0 ? kind(m_sortColumn) : KindCount;
    in->descending = m_sortOrder == Qt::DescendingOrder;
    in->filter = m_filter;
    in->names = m_names;
    in->generation = m_generation;
    const std::uint64_t folds = m_folds;
    in->cancel = m_cancel = std::make_shared<std::atomic<bool>>(false);
    const std::size_t covered = m_size;
    m_job = std::async(std::launch::async, [in, covered, folds]() -> JobResult {
        // Behind the interface thread when processors are short: a pass may
        // take a while anyway, the window's events may not.
        setpriority(PRIO_PROCESS, 0, 10); // this thread only (Linux)
        JobResult out;
        out.folds = folds;
        out.generation = in->generation;
        out.covered = covered;
        out.filtered = !in->filter.isEmpty();
        auto rowAt = [&in](std::size_t s) -> const Row& {
            return (*in->chunks[s / kChunk])[s % kChunk];
        };
        std::vector<std::uint32_t>& order = out.order;
        order.reserve(covered);
        for (std::size_t s = 0; s < covered; ++s) {
            if (in->ids[s] == kDead || static_cast<std::int64_t>(s) == in->other)
                continue;
            if (out.filtered && !matches(rowAt(s), in->type, in->filter, in->names.get()))
                continue;
            order.push_back(static_cast<std::uint32_t>(s));
            if ((s & 0xffff) == 0 && in->cancel->load(std::memory_order_relaxed))
                return out;
        }
        const bool desc = in->descending;
        auto byKey = [desc](auto&& key) {
            return [desc, key](std::uint32_t x, std::uint32_t y) {
                const auto kx = key(x);
                const auto ky = key(y);
                if (kx != ky)
                    return desc ? ky < kx : kx < ky;
                return x < y;
            };
        };
        switch (in->kind) {
        case KindCount:
            break;
        case AddressA:
            std::sort(order.begin(), order.end(),
                      byKey([&](std::uint32_t s) { return std::tie(rowAt(s).a, rowAt(s).b); }));
            break;
        case AddressB:
            std::sort(order.begin(), order.end(),
                      byKey([&](std::uint32_t s) { return std::tie(rowAt(s).b, rowAt(s).a); }));
            break;
        case NameA:
        case NameB: {
            std::vector<QString> names(covered);
            if (in->names)
                for (std::uint32_t s : order)
                    names[s] = in->names->lookup(in->kind == NameA ? rowAt(s).a : rowAt(s).b);
            std::sort(order.begin(), order.end(),
                      byKey([&](std::uint32_t s) -> const QString& { return names[s]; }));
            break;
        }
        default: {
            // The counts move on meanwhile: the pass sorts a copy of them.
            const Kind k = in->kind;
            const bool conversations = in->conversations;
            std::vector<std::uint64_t> keys(covered);
            for (std::uint32_t s : order) {
                const Row& r = rowAt(s);
                std::uint64_t v = 0;
                switch (k) {
                case FramesOut:
                    v = get(r.frames[0]);
                    break;
                case BytesOut:
                    v = get(r.bytes[0]);
                    break;
                case FramesIn:
                    v = get(r.frames[1]);
                    break;
                case BytesIn:
                    v = get(r.bytes[1]);
                    break;
                case Frames:
                    v = get(r.frames[0]) + get(r.frames[1]);
                    break;
                case Bytes:
                    v = get(r.bytes[0]) + get(r.bytes[1]);
                    break;
                case FirstSeen:
                    v = static_cast<std::uint64_t>(get(r.first));
                    break;
                case DurationOrLast:
                    v = static_cast<std::uint64_t>(conversations ? get(r.last) - get(r.first)
                                                                 : get(r.last));
                    break;
                default:
                    v = get(r.bps[static_cast<std::size_t>(k - Rate2)]);
                    break;
                }
                keys[s] = v;
            }
            std::sort(order.begin(), order.end(),
                      byKey([&keys](std::uint32_t s) { return keys[s]; }));
            break;
        }
        }
        // Positions too: the interface thread only appends to them.
        out.pos.reserve(covered + covered / 4 + kChunk);
        out.pos.assign(covered, -1);
        for (std::size_t p = 0; p < order.size(); ++p)
            out.pos[order[p]] = static_cast<std::int32_t>(p);
        return out;
    });
    m_pollTimer.start();
}

void TalkModel::pollJob() {
    if (!m_job.valid()) {
        m_pollTimer.stop();
        return;
    }
    if (m_job.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
        return;
    JobResult result = m_job.get();
    m_pollTimer.stop();
    const bool cancelled = m_cancel && m_cancel->load();
    if (m_jobPending || cancelled || result.generation != m_generation) {
        startJob();
        return;
    }
    applyJob(std::move(result));
}

void TalkModel::applyJob(JobResult result) {
    std::vector<std::uint32_t> next = std::move(result.order);
    std::vector<std::int32_t> pos = std::move(result.pos);
    pos.resize(m_size, -1);
    if (result.folds != m_folds) {
        // Rows folded while the pass ran are gone (their ids may name new rows).
        std::erase_if(next, [this](std::uint32_t s) { return m_ids[s] == kDead; });
        std::fill(pos.begin(), pos.end(), -1);
        for (std::size_t p = 0; p < next.size(); ++p)
            pos[next[p]] = static_cast<std::int32_t>(p);
    }
    std::size_t covered = result.covered;
    if (m_filter.isEmpty()) {
        // Rows stored since the pass began follow, in the order they came.
        for (std::size_t s = covered; s < m_size; ++s)
            if (m_ids[s] != kDead && static_cast<std::int64_t>(s) != m_other) {
                pos[s] = static_cast<std::int32_t>(next.size());
                next.push_back(static_cast<std::uint32_t>(s));
            }
        covered = m_size;
    }
    if (m_other >= 0) {
        pos[static_cast<std::size_t>(m_other)] = static_cast<std::int32_t>(next.size());
        next.push_back(static_cast<std::uint32_t>(m_other));
    }

    // With the same filter the pass has looked at every row shown now and
    // maybe more: the extra rows are added at the end, then every row moves
    // to its place as the view's selection follows. Otherwise the view
    // starts afresh.
    const bool sameFilter = result.filtered == !m_filter.isEmpty() && m_shownFilter == m_filter;
    if (sameFilter && next.size() >= m_order.size()) {
        const std::size_t extra = next.size() - m_order.size();
        if (extra > 0) {
            // Shown for a moment as the rows the new order ends with; the
            // layout change below puts every row in its place.
            const int at = rowCount();
            beginInsertRows({}, at, at + static_cast<int>(extra) - 1);
            m_order.insert(m_order.end(), next.end() - static_cast<std::ptrdiff_t>(extra),
                           next.end());
            endInsertRows();
        }
        Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
        const QModelIndexList before = persistentIndexList();
        std::vector<std::uint32_t> storage;
        storage.reserve(static_cast<std::size_t>(before.size()));
        for (const QModelIndex& i : before)
            storage.push_back(m_order[static_cast<std::size_t>(i.row())]);
        m_order = std::move(next);
        m_pos = std::move(pos);
        QModelIndexList after;
        after.reserve(before.size());
        for (qsizetype i = 0; i < before.size(); ++i)
            after << index(m_pos[storage[static_cast<std::size_t>(i)]], before[i].column());
        changePersistentIndexList(before, after);
        m_covered = covered;
        Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
        return;
    }
    beginResetModel();
    m_order = std::move(next);
    m_pos = std::move(pos);
    m_covered = covered;
    m_shownFilter = m_filter;
    endResetModel();
}

void TalkModel::settle() {
    finishQueued();
    for (;;) {
        while (busy()) {
            if (m_job.valid())
                m_job.wait();
            if (m_job.valid())
                pollJob();
            else
                startJob();
        }
        // A pass that began before the last rows came leaves them to the next.
        if (!m_orderDirty || (m_sortColumn < 0 && m_filter.isEmpty()))
            return;
        startJob();
    }
}

} // namespace qarsilo
