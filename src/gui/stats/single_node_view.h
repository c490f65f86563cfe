#pragma once

#include "core/addressbook/address_database.h"
#include "core/addressbook/picked_node.h"
#include "core/capture/capture_session.h"
#include "core/stats/single_node_stats.h"
#include "core/stats/tick_clock.h"
#include "gui/shell/capture_view.h"

#include <QPointer>
#include <QTimer>

#include <array>
#include <functional>
#include <memory>

class CGraphPanel;
class QLabel;

/// "Single" node statistics: one station's receive, send and total
/// utilization of the link (current, average over the running minute, peak
/// and its time), its bits per second and its last partners, from a "To" and
/// a "From" capture. "Address Book+" picks another station.
class CSingleNodeView : public CCaptureView {
    Q_OBJECT
public:
    /// Texts of the "Node Information" group.
    enum Info : int {
        NodeName,
        NodeIp,
        NodeMac,
        LastSentToMac,
        LastSentToIp,
        LastReceivedFromMac,
        LastReceivedFromIp,
        InfoCount
    };
    /// Fields of each utilization group.
    enum Field : int { Bps, Current, Average, Peak, PeakTime, FieldCount };
    /// Runs the address book as a picker; the program gives the real one.
    using Picker = qarsilo::NodePicker;

    /// "To" and "From", by capture slot.
    static constexpr int kToSlot = 0;
    static constexpr int kFromSlot = 1;

    explicit CSingleNodeView(QWidget* parent = nullptr);
    ~CSingleNodeView() override;

    bool isCapturing() const override { return m_running; }

    /// Start: the "From" capture, then the "To" capture. A node that is no MAC
    /// address starts nothing: the operator is asked to pick one.
    bool start() override;
    void stop() override;
    /// "Address Book+": picks a station and watches it instead.
    void pickNode();
    void setPicker(Picker picker) { m_picker = std::move(picker); }

    const QString& nodeMac() const { return m_nodeMac; }
    const QString& nodeName() const { return m_nodeName; }
    const QString& nodeIp() const { return m_nodeIp; }
    const std::vector<qarsilo::AddressEntry>& addressList() const { return m_addresses; }

    qarsilo::SingleNodeStats& stats() { return m_stats; }
    qarsilo::CaptureSession& session(int slot) {
        return *m_sessions[static_cast<std::size_t>(slot & 1)];
    }
    QLabel* info(Info i) const { return m_info[static_cast<std::size_t>(i)]; }
    /// A field of a group: SingleNodeStats::Total, Receive or Send.
    QLabel* field(int direction, Field f) const;
    CGraphPanel* graph(int direction) const;

    /// On a capture file: the status bar's text, the file second shown and its time.
    QString replayStatusText() const;
    bool replaysFile() const { return m_fileReplay; }

    /// The text that asks for a node when the stored one is no MAC address.
    static QString noNodeText(const QString& mac);

public Q_SLOTS:
    /// Every 1000 ms: nothing while stopped.
    void tick();

protected:
    void onInitialUpdate() override;
    bool onViewCommand(int command) override;
    bool isViewCommandEnabled(int command) const override;

private:
    void buildLayout();
    void loadAddresses();
    void showNode();
    /// The figures and partners of the last tick in the fields.
    void showFigures();
    bool startCaptures();
    void stopCaptures(bool toFirst);

    // The stats outlive the sessions that feed them.
    qarsilo::SingleNodeStats m_stats;
    std::array<std::unique_ptr<qarsilo::CaptureSession>, 2> m_sessions;
    qarsilo::AddressDatabase m_db;
    std::vector<qarsilo::AddressEntry> m_addresses;
    QString m_nodeMac;
    QString m_nodeName;
    QString m_nodeIp;
    bool m_running = false;
    // A capture file: the peaks are shown at the file's second they were
    // ticked in (0: no peak), while the minutes still run on the timer.
    bool m_fileReplay = false;
    qarsilo::FileStamps m_stamps;
    bool m_haveFileSecond = false;
    qint64 m_fileSecond = 0;
    std::array<double, 3> m_seenPeak{};
    std::array<qint64, 3> m_filePeakTime{};
    QTimer m_timer;
    Picker m_picker;

    std::array<QLabel*, InfoCount> m_info{};
    std::array<std::array<QLabel*, FieldCount>, 3> m_fields{};
    std::array<CGraphPanel*, 3> m_graphs{};
};
