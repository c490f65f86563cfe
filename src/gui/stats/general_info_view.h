#pragma once

#include "core/capture/capture_session.h"
#include "core/stats/general_stats.h"
#include "core/stats/top_users_model.h"
#include "gui/shell/capture_view.h"

#include <QMenu>
#include <QPointer>
#include <QTimer>

#include <array>

class CGraphPanel;
class QLabel;

class RowListView;

/// "General" network statistics: utilization, packets and bits per second
/// of the whole segment (current, average, peak and its time), three
/// scrolling graphs, and the frames of the last second in the Top Users list,
/// from which a station is handed to the analyzer, the single node view or
/// the trace view.
class CGeneralInfoView : public CCaptureView {
    Q_OBJECT
public:
    /// The twelve figures, by group.
    enum Field : int {
        CurrentUtilization,
        AverageUtilization,
        PeakUtilization,
        PeakUtilizationTime,
        CurrentPps,
        AveragePps,
        PeakPps,
        PeakPpsTime,
        CurrentBps,
        AverageBps,
        PeakBps,
        PeakBpsTime,
        FieldCount
    };
    enum Graph : int { UtilizationGraph, PacketsGraph, BitsGraph, GraphCount };

    explicit CGeneralInfoView(QWidget* parent = nullptr);
    ~CGeneralInfoView() override;

    bool isCapturing() const override { return !m_stopped; }

    /// Start: captures again; counters, averages and peaks go on.
    bool start() override;
    /// Stop: the list keeps the interrupted second's frames.
    void stop() override;
    bool capturing() const { return m_session.isRunning(); }

    /// A right-click on the list: only while stopped, it takes the selected
    /// row's Source MAC, stores it as "MAC Address" and lets the next
    /// context-menu request open the menu (when a row is selected).
    void listRightClicked();
    /// The context-menu request: opens "ListMenu" at `globalPos` when a
    /// right-click made it pending. Returns whether it opened.
    bool listMenuRequested(const QPoint& globalPos);
    /// The menu opened last, while open (tests).
    QMenu* listMenu() const { return m_menu; }
    QString selectedMac() const { return m_selectedMac; }

    /// The menu's commands.
    void captureAndDecode();
    void singleNode();
    void traceNode();

    qarsilo::GeneralStats& stats() { return m_stats; }
    qarsilo::TopUsersModel* model() { return &m_model; }
    qarsilo::CaptureSession& session() { return m_session; }
    RowListView* list() const { return m_list; }
    /// The 1000 ms timer that runs tick() (benchmarks tick it themselves).
    QTimer& timer() { return m_timer; }
    QLabel* field(Field f) const { return m_fields[static_cast<std::size_t>(f)]; }
    CGraphPanel* graph(Graph g) const { return m_graphs[static_cast<std::size_t>(g)]; }
    /// On a capture file: the status bar's text, the file second shown and its time.
    QString replayStatusText() const;
    bool replaysFile() const { return m_fileReplay; }
    /// The three labels after "of" in the utilization group.
    QList<QLabel*> linkSpeedLabels() const { return m_linkLabels; }

public Q_SLOTS:
    /// Every 1000 ms: nothing while stopped.
    void tick();

protected:
    void onInitialUpdate() override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void buildLayout();
    void fitListToFont();
    void showFigures();
    void switchFrameTo(int templateId);

    // The stats outlive the session that feeds them (members go in reverse order).
    qarsilo::GeneralStats m_stats;
    qarsilo::TopUsersModel m_model;
    qarsilo::CaptureSession m_session;
    QTimer m_timer;
    bool m_stopped = false;
    bool m_fileReplay = false;
    bool m_menuPending = false;
    QString m_selectedMac;
    QPointer<QMenu> m_menu;

    std::array<QLabel*, FieldCount> m_fields{};
    std::array<CGraphPanel*, GraphCount> m_graphs{};
    QList<QLabel*> m_linkLabels;
    RowListView* m_list = nullptr;
};
