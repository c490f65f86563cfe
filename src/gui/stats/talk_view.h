#pragma once

#include "core/capture/capture_session.h"
#include "core/stats/talk_model.h"
#include "core/stats/talk_tables.h"
#include "core/stats/tick_clock.h"
#include "gui/shell/capture_view.h"

#include <QHash>
#include <QTimer>

#include <array>
#include <atomic>
#include <functional>
#include <future>
#include <memory>

class QCheckBox;
class QLineEdit;
class QMenu;
class QPushButton;
class QTabWidget;
class CTalkTable;

/// "Conversations" or "Endpoints": a tab per address kind (Ethernet, IPv4,
/// IPv6, TCP, UDP) listing the traffic between each pair of addresses, or of
/// each address, since Start. Sorted by any column, filtered by address or
/// name; a right-click shows a row's frames in the analyzer, hands its
/// station to the single node statistics or the trace, copies or exports.
class CTalkView : public CCaptureView {
    Q_OBJECT
public:
    enum class Mode { Conversations, Endpoints };
    /// Asks where to export a table; empty: nothing is written.
    using FileChooser = std::function<QString(QWidget* parent, const QString& suggested)>;

    explicit CTalkView(Mode mode, QWidget* parent = nullptr);
    ~CTalkView() override;

    Mode mode() const { return m_mode; }
    bool isCapturing() const override { return m_session.isRunning(); }
    bool start() override;
    void stop() override;
    /// Forgets every row and frame counted so far.
    void clear();

    qarsilo::TalkTables& tables() { return *m_tables; }
    qarsilo::CaptureSession& session() { return m_session; }
    qarsilo::TalkModel* model(int tab) const { return m_models[static_cast<std::size_t>(tab)]; }
    CTalkTable* table(int tab) const { return m_tableViews[static_cast<std::size_t>(tab)]; }
    QTabWidget* tabs() const { return m_tabs; }
    QLineEdit* filterBox() const { return m_filter; }
    QCheckBox* resolveNamesBox() const { return m_resolve; }
    QPushButton* clearButton() const { return m_clear; }
    /// Frames the capture handed to the tables since Start or Clear.
    std::uint64_t framesCounted() const { return m_frames.load(std::memory_order_relaxed); }

    /// The right-click menu of a row of a tab (`column` chooses side B of a
    /// conversation); the caller owns it.
    QMenu* rowMenu(int tab, int row, int column);
    /// The station a row's command hands on (a MAC address text), or empty.
    QString stationOf(int tab, int row, int column) const;
    /// "Copy": the selected rows of a tab, tab-separated, titles first.
    QString selectedText(int tab) const;
    /// "Export CSV...": the whole tab as shown; false on failure (told).
    bool exportCsv(int tab, const QString& path);
    static void setExportFileChooser(FileChooser chooser);

    /// "TCP (1,234)".
    static QString tabTitle(qarsilo::TalkType type, std::size_t rows);

public Q_SLOTS:
    /// The tables' changes into the models, all of them, now.
    void pickUp();

protected:
    void onInitialUpdate() override;

private:
    void buildLayout();
    void loadNames();
    void applyResolveNames(bool on);
    void showRowMenu(int tab, int row, int column, const QPoint& global);
    /// Every 50 ms, one table after the other (each every 250 ms): its changes
    /// are taken on a worker thread (the tables' lock is held meanwhile) and
    /// handed to its model, which applies them a slice at a time. One table's
    /// copied rows are in hand at a time, not five.
    void pickUpLater();
    struct Fetched {
        std::array<qarsilo::TalkChanges<qarsilo::ConversationRow>, qarsilo::kTalkTypeCount> conv;
        std::array<qarsilo::TalkChanges<qarsilo::EndpointRow>, qarsilo::kTalkTypeCount> ends;
    };
    /// The second the rates are to be advanced to before the next changes; 0: none.
    qint64 advanceSecond();
    /// One table's changes (`type`), or every table's (-1).
    static Fetched fetch(qarsilo::TalkTables& tables, bool conversations, qint64 second, int type);
    void deliver(Fetched&& fetched);
    void updateStatus();

    Mode m_mode;
    std::unique_ptr<qarsilo::TalkTables> m_tables;
    qarsilo::CaptureSession m_session;
    qarsilo::FileStamps m_stamps;
    bool m_fileReplay = false;
    bool m_endAdvanced = false;
    std::atomic<std::uint64_t> m_frames{0};
    std::array<qarsilo::TalkModel*, qarsilo::kTalkTypeCount> m_models{};
    std::array<CTalkTable*, qarsilo::kTalkTypeCount> m_tableViews{};
    std::shared_ptr<const qarsilo::TalkNames> m_names;
    QHash<quint32, QString> m_macByIpv4; ///< from the address book, for IPv4 rows' stations
    QTabWidget* m_tabs = nullptr;
    QLineEdit* m_filter = nullptr;
    QCheckBox* m_resolve = nullptr;
    QPushButton* m_clear = nullptr;
    qint64 m_advanced = 0;
    int m_nextType = 0; ///< the table the next timed pick-up takes
    QTimer m_pickTimer;
    // Declared last: it goes first, before the tables it reads.
    std::future<Fetched> m_fetch;
};
