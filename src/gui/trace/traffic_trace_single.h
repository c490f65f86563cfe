#pragma once

#include "core/addressbook/picked_node.h"
#include "core/capture/capture_session.h"
#include "core/trace/trace_model.h"
#include "gui/shell/capture_view.h"

#include <QElapsedTimer>
#include <QTimer>

#include <functional>
#include <memory>

class CMaskEdit;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QToolButton;

/// The network trace: one node in the middle of a board, the peers it talks
/// to on their places around it, each path in the colour of its last frame
/// and every frame running along its path. The capture thread only updates
/// the side node table and queues what to draw; the interface thread drains
/// the queue and steps the animations from one timer, and ages the peers
/// once a second.
class CTrafficTraceSingle : public CCaptureView {
    Q_OBJECT
public:
    /// The board's size in the window.
    static constexpr QSize kBoardSize{596, 656};
    /// Picks a node from the address book; the program gives the real one.
    using AddressPicker = qarsilo::NodePicker;

    explicit CTrafficTraceSingle(QWidget* parent = nullptr);
    /// Stops the capture and ends every animation before the board goes.
    ~CTrafficTraceSingle() override;

    bool isCapturing() const override { return m_running; }

    /// Start monitoring the MAC field's node; while monitoring, only re-reads
    /// the fields and stores the MAC. False when nothing captures.
    bool start() override;
    /// Stops the capture; the board and the peers stay until they age out.
    void stop() override;
    /// Stop, pick a node from the address book and start with it.
    void pickNode();
    void setAddressPicker(AddressPicker picker) { m_picker = std::move(picker); }

    qarsilo::TraceModel& model() { return m_model; }
    qarsilo::CaptureSession& session() { return m_session; }
    const qarsilo::TraceBoard& board() const { return m_board; }
    const qarsilo::TraceAnimator& animator() const { return m_animator; }
    QString monitoredLabel() const { return m_monitoredLabel; }
    int pathLife() const { return m_pathLife; }
    /// The log's lines without their time prefix.
    QStringList logLines() const;

    CMaskEdit* macField() const { return m_mac; }
    QToolButton* addrButton() const { return m_addr; }
    QComboBox* layerList() const { return m_layer; }
    QLineEdit* nodeLifeField() const { return m_nodeLife; }
    QLineEdit* pathLifeField() const { return m_pathLifeEdit; }
    QCheckBox* useNameBox() const { return m_useName; }
    QCheckBox* showPacketsBox() const { return m_showPackets; }
    QListWidget* log() const { return m_log; }
    QLabel* legend() const { return m_legend; }
    QWidget* boardWindow() const { return m_boardWnd; }

public Q_SLOTS:
    /// The one-second timer: redraws the header and ages the peers.
    void tick();
    /// The animation timer: draws what the capture queued and runs the
    /// animation steps that are due.
    void animate();

protected:
    void onInitialUpdate() override;

private:
    void readFields(bool report);
    bool readNumber(QLineEdit* field, int low, int high, int& value, bool report);
    void loadNames();
    void layerChanged(int layer);
    void useNameChanged();
    void drawQueued();
    void scheduleAnimation();
    void flushBoard();
    void addLog(const QString& line);

    // The board and the model outlive the session that feeds them.
    qarsilo::TraceModel m_model;
    qarsilo::TraceBoard m_board;
    qarsilo::TraceAnimator m_animator;
    qarsilo::CaptureSession m_session;
    bool m_running = false;
    QString m_monitoredMac = QStringLiteral("none");
    QString m_monitoredLabel = QStringLiteral("none");
    int m_nodeLifeValue = 5;
    int m_pathLife = 10;
    AddressPicker m_picker;

    QTimer m_tick;
    QTimer m_animTimer;
    QElapsedTimer m_clock;

    QWidget* m_boardWnd = nullptr;
    CMaskEdit* m_mac = nullptr;
    QToolButton* m_addr = nullptr;
    QComboBox* m_layer = nullptr;
    QLineEdit* m_nodeLife = nullptr;
    QLineEdit* m_pathLifeEdit = nullptr;
    QCheckBox* m_useName = nullptr;
    QCheckBox* m_showPackets = nullptr;
    QListWidget* m_log = nullptr;
    QLabel* m_legend = nullptr;
};
