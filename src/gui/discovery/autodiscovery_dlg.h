#pragma once

#include "core/addressbook/address_database.h"
#include "core/capture/capture_session.h"
#include "core/discovery/discovered_node.h"
#include "core/discovery/discovery_frame.h"

#include <QDialog>
#include <QHash>
#include <QPersistentModelIndex>
#include <QTimer>
#include <array>
#include <functional>

class CReportList;
class QCheckBox;
class QGroupBox;
class QLabel;
class QListWidget;
class QPushButton;

/// "Autodiscovery": listens for NetBIOS datagrams or IPv4 traffic, shows the
/// nodes, workgroups and subnets it finds, warns about stations with
/// conflicting addresses, compares what it found with the address book and
/// saves it there.
class CAutodiscoveryDlg : public QDialog {
    Q_OBJECT
public:
    /// Runs the group editor of the address book `fileName` modally over
    /// `parent` (where the local IP ranges are entered).
    using GroupEditorRunner = std::function<int(QWidget* parent, const QString& fileName)>;

    static constexpr int kNodeListId = 1031;
    static constexpr int kWorkgroupListId = 1032;
    static constexpr int kSubnetListId = 1033;

    explicit CAutodiscoveryDlg(QWidget* parent = nullptr,
                               QString fileName = qarsilo::AddressDatabase::defaultFileName());
    ~CAutodiscoveryDlg() override;

    /// The group editor every later dialog runs; none by default (then the
    /// editor is not offered).
    static void setDefaultGroupEditorRunner(GroupEditorRunner runner);
    /// The group editor of this dialog (tests).
    void setGroupEditorRunner(GroupEditorRunner runner) { m_runGroupEditor = std::move(runner); }

    qarsilo::DiscoveryMode mode() const { return m_mode; }
    bool running() const { return m_running; }
    qarsilo::CaptureSession& session() { return m_session; }

    CReportList* nodeList() const { return m_nodes; }
    /// Appends nodes to the node list.
    void addNodes(const QList<qarsilo::DiscoveredNode>& nodes);
    /// The nodes in the order the node list shows them.
    QList<qarsilo::DiscoveredNode> nodes() const;
    CReportList* workgroupList() const { return m_workgroups; }
    CReportList* subnetList() const { return m_subnets; }
    QListWidget* log() const { return m_log; }
    /// The log's lines, in order.
    QStringList logLines() const;
    /// The four activity lines.
    QStringList activity() const;
    QCheckBox* netbiosBox() const { return m_netbiosBox; }
    QCheckBox* ipBox() const { return m_ipBox; }
    QCheckBox* warnSuspiciousBox() const { return m_warnVirus; }
    QCheckBox* warnRouterBox() const { return m_warnRouter; }
    QPushButton* button(const QString& text) const;
    /// The tooltip a node cell shows: the maker for the MAC, why for a mark.
    QString nodeToolTip(int row, int column) const;

public Q_SLOTS:
    void start();
    void stop();
    /// The one-second refresh.
    void tick();
    void selectNetbios();
    void selectIp();
    void localRangeSelection();
    void clearDuplicateRows();
    void compareData();
    void saveNodes();
    void saveWorkgroups();
    void saveSubnets();
    void saveAll();
    void dnsLookup();
    void done(int result) override;

Q_SIGNALS:
    /// The reverse lookups of one "DNS Lookup" have all come back.
    void lookupsFinished();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void appendLog(const QString& line);
    void appendLog(const QStringList& lines);
    void setActivity(int line, const QString& text);
    bool openCapture();
    void endCapture();
    void drainNetbios();
    void showLists(bool nodes, bool groups);
    bool refuseDuringCapture(const char* caption);
    void saveGroups(qarsilo::GroupTable table, const char* caption, CReportList* list);
    static QString rowKey(const qarsilo::DiscoveredNode& node);
    /// Replaces the nodes, shown in the order of the current sort.
    void setNodes(const QList<qarsilo::DiscoveredNode>& nodes);
    /// The node shown in list row `row`; null when there is none.
    qarsilo::DiscoveredNode* nodeAt(int row);
    const qarsilo::DiscoveredNode* nodeAt(int row) const;

    const QString m_fileName;
    qarsilo::DiscoveryMode m_mode = qarsilo::DiscoveryMode::NetBios;
    bool m_running = false;
    int m_elapsed = 0;
    qarsilo::CaptureSession m_session{qarsilo::CaptureWindow::AutoDiscovery};
    QTimer m_timer;
    GroupEditorRunner m_runGroupEditor;
    // The node behind each row of the node list: the list sorts its texts,
    // and the index follows its row.
    struct ShownNode {
        QPersistentModelIndex at;
        qarsilo::DiscoveredNode node;
    };
    std::vector<ShownNode> m_shown;
    QHash<QString, QString> m_conflictWhy; // by rowKey of the marked row

    QCheckBox* m_netbiosBox = nullptr;
    QCheckBox* m_ipBox = nullptr;
    QCheckBox* m_warnVirus = nullptr;
    QCheckBox* m_warnRouter = nullptr;
    QCheckBox* m_domainLookupBox = nullptr;
    QList<QPushButton*> m_buttons;
    QPushButton* m_dnsButton = nullptr;
    std::array<QLabel*, 4> m_activity{};
    QListWidget* m_log = nullptr;
    CReportList* m_nodes = nullptr;
    CReportList* m_workgroups = nullptr;
    CReportList* m_subnets = nullptr;
    QPushButton* m_saveNodes = nullptr;
    QPushButton* m_saveWorkgroups = nullptr;
    QPushButton* m_saveSubnets = nullptr;
};

/// Runs the autodiscovery dialog modally over `parent`; returns its result.
int runAutodiscovery(QWidget* parent);
