#pragma once

#include "core/stats/talk_tables.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <atomic>
#include <functional>
#include <future>
#include <memory>
#include <vector>

namespace qarsilo {

namespace setting {
/// The conversations and endpoints windows: 1 (the default) shows the
/// address book's names beside the addresses, 0 does not.
inline const QString resolveNames = QStringLiteral("Resolve Names");
/// The rows each of their tables holds before the least recently active are
/// folded into "other"; 1000000 when absent, 0 for no limit.
inline const QString talkRowLimit = QStringLiteral("Talk Row Limit");
} // namespace setting
inline constexpr quint32 kDefaultTalkRowLimit = 1'000'000;

/// Station names by MAC address (the six bytes in a 64-bit number) and by
/// IPv4 address (host order).
struct TalkNames {
    QHash<quint64, QString> byMac;
    QHash<quint32, QString> byIpv4;
    /// The name of a MAC or IPv4 address (with or without a port); empty
    /// when unknown or for IPv6.
    QString lookup(const TalkAddress& address) const;
    static quint64 macKey(const std::uint8_t* sixBytes);
};

/// "1,234,567".
QString groupedNumber(std::uint64_t n);
/// Bits per second as iftop writes them: "960b", "12.5Kb", "1.23Mb", "2.00Gb".
QString bitRateText(std::uint64_t bitsPerSecond);

/// One table of a TalkTables (a type's conversations or endpoints) as rows
/// and columns. The rows come in batches from pickUp(); sorting and
/// filtering a large table run on a worker thread and are applied when done
/// (at most once a second while rows change), so the interface thread never
/// looks at every row itself. Rows picked up while a filter is set show once
/// the next filtering pass has looked at them. The "other" row always shows,
/// last.
class TalkModel : public QAbstractTableModel {
    Q_OBJECT
public:
    /// What a column shows; endpoints have no B columns and show the last
    /// time seen where conversations show the duration.
    enum Kind : int {
        AddressA,
        NameA,
        AddressB,
        NameB,
        FramesOut, ///< A to B, or sent
        BytesOut,
        FramesIn, ///< B to A, or received
        BytesIn,
        Frames,
        Bytes,
        FirstSeen,
        DurationOrLast,
        Rate2,
        Rate10,
        Rate40,
        KindCount
    };

    TalkModel(TalkTables& tables, TalkType type, bool conversations, QObject* parent = nullptr);
    ~TalkModel() override;

    TalkType type() const { return m_type; }
    bool conversations() const { return m_conversations; }
    Kind kind(int column) const;
    int column(Kind kind) const; ///< -1 when the model has no such column

    /// Takes the table's new and changed rows now, all of them (interface thread).
    void pickUp();
    /// Changes taken elsewhere (e.g. on a worker thread) for this model's
    /// table: applied a slice at a time from the event loop, each within a
    /// few milliseconds. The previous batch is finished first.
    void queueChanges(TalkChanges<ConversationRow>&& changes);
    void queueChanges(TalkChanges<EndpointRow>&& changes);
    /// Whether queued changes are still being applied.
    bool applying() const { return m_pendingRows; }
    /// Applies what is queued at once.
    void finishQueued();
    /// Rows in the table as last picked up, the "other" row not counted.
    std::size_t tableRows() const { return m_tableRows; }

    /// Names for the name columns (null: none).
    void setNames(std::shared_ptr<const TalkNames> names);
    /// The tooltip of a MAC address cell.
    void setMacDescriber(std::function<QString(const QString& macText)> describe);
    /// Shows only rows whose address or name texts hold `text` (any case).
    void setFilterText(const QString& text);
    QString filterText() const { return m_filter; }
    /// Column -1: the order the rows came in.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;
    int sortColumn() const { return m_sortColumn; }
    /// Whether a sorting or filtering pass is still to be shown.
    bool busy() const { return m_job.valid() || m_jobPending || m_pendingRows; }
    /// Applies what is queued, brings the order up to date and shows it
    /// (tests and benchmarks).
    void settle();

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    /// The texts of a cell as exported (plain numbers, times in full).
    QString exportText(int row, int column) const;
    QStringList columnTitles() const;
    QStringList exportRow(int row) const;
    bool isOther(int row) const;
    /// A conversation's A and B, or an endpoint's address (in both).
    TalkAddress addressA(int row) const;
    TalkAddress addressB(int row) const;
    /// The display filter that selects the row's frames; empty for "other".
    QString displayFilter(int row) const;
    /// A shown row's id in its table (kOtherRowId for "other"): it names the
    /// row across sorts and filters for as long as the row lives.
    std::uint32_t rowId(int row) const;
    /// Where the row `id` is shown now; -1 when it is not.
    int rowOfId(std::uint32_t id) const;

Q_SIGNALS:
    /// The table's row count changed (the tab's title).
    void tableRowsChanged();

private:
    struct Row {
        TalkAddress a;
        TalkAddress b;
        std::uint64_t frames[2]{};
        std::uint64_t bytes[2]{};
        qint64 first = 0;
        qint64 last = 0;
        std::array<std::uint64_t, 3> bps{};
        std::uint64_t folded = 0;
    };
    static constexpr std::size_t kChunk = 4096;
    using Chunk = std::array<Row, kChunk>;
    struct JobInput;
    struct JobResult {
        std::vector<std::uint32_t> order;
        std::vector<std::int32_t> pos; ///< by storage index, -1 for rows not in `order`
        std::uint64_t generation = 0;
        std::uint64_t folds = 0; ///< rows folded before the pass began
        std::size_t covered = 0;
        bool filtered = false;
    };

    const Row& row(std::size_t storage) const {
        return (*m_chunks[storage / kChunk])[storage % kChunk];
    }
    Row& row(std::size_t storage) { return (*m_chunks[storage / kChunk])[storage % kChunk]; }
    std::uint32_t append(std::uint32_t id);
    template <class R> void applySlice(TalkChanges<R>& changes, bool all);
    template <class R>
    void applyRows(const TalkChanges<R>& changes, std::size_t from, std::size_t to);
    void applyQueued(bool all);
    /// Shows the rows stored since the last call (no filter set).
    void showNewRows();
    /// Ids are the tables' row numbers, those of the IPv6 part with the top
    /// bit set, and kOtherRowId: two plain arrays map them to storage.
    std::uint32_t* slot(std::uint32_t id);
    std::uint32_t storageOf(std::uint32_t id) const;
    void removeFolded(const std::vector<std::uint32_t>& folded);
    void resetAll();
    static bool matches(const Row& r, TalkType type, const QString& text, const TalkNames* names);
    QString addressText(const Row& r, bool b) const;
    QString cellText(const Row& r, Kind k, bool exported) const;
    void startJob();
    void pollJob();
    void applyJob(JobResult result);
    void rebuildPositions();

    TalkTables& m_tables;
    TalkType m_type;
    bool m_conversations;
    std::vector<std::shared_ptr<Chunk>> m_chunks;
    std::size_t m_size = 0;                  ///< rows stored
    std::vector<std::uint32_t> m_byLowId;    ///< id to storage index, kNoRow when none
    std::vector<std::uint32_t> m_byHighId;   ///< the same for ids with the top bit set
    std::uint32_t m_otherSlot = 0xffffffffu; ///< the "other" row's storage index
    std::size_t m_live = 0;                  ///< rows stored and not folded
    std::vector<std::uint32_t> m_ids;        ///< storage index to id
    std::vector<std::uint32_t> m_order;      ///< shown rows, by storage index
    std::vector<std::int32_t> m_pos;         ///< storage index to shown row, -1
    std::size_t m_covered = 0;               ///< with a filter: the stored rows it has looked at
    std::size_t m_tableRows = 0;
    std::int64_t m_other = -1; ///< the "other" row's storage index
    std::uint64_t m_generation = 0;
    std::uint64_t m_folds = 0; ///< rows folded so far

    QString m_filter;
    QString m_shownFilter; ///< the filter the shown rows passed
    int m_sortColumn = -1;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
    bool m_orderDirty = false; ///< rows came or changed since the last sort or filter
    bool m_jobPending = false; ///< a pass is wanted once the running one ends
    bool m_filterChangedInJob = false;
    std::future<JobResult> m_job;
    std::shared_ptr<std::atomic<bool>> m_cancel;
    TalkChanges<ConversationRow> m_queuedConversations;
    TalkChanges<EndpointRow> m_queuedEndpoints;
    std::size_t m_queuedAt = 0;
    bool m_queuedStarted = false;
    bool m_pendingRows = false;
    QTimer m_sliceTimer;
    QTimer m_pollTimer;
    QTimer m_refreshTimer;
    std::shared_ptr<const TalkNames> m_names;
    std::function<QString(const QString&)> m_describe;
};

} // namespace qarsilo
