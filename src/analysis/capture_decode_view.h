#pragma once

#include "analysis/capture_list_model.h"
#include "analysis/frame_store.h"
#include "capture/capture_session.h"
#include "shell/view.h"

#include <QTimer>
#include <functional>
#include <optional>

class QPlainTextEdit;
class QTableView;
class QTreeWidget;

/// The packet analyzer: captures every frame that passes the stored filter,
/// lists it, keeps a copy, and shows the chosen frame as a decode tree and a
/// hex dump. Captures from the moment it is shown.
class CCaptureDecodeView : public CView {
    Q_OBJECT
public:
    explicit CCaptureDecodeView(QWidget* parent = nullptr);
    ~CCaptureDecodeView() override;

    void onInitialUpdate(CMainFrame* frame) override;
    bool onCommand(int command) override;
    bool isCommandEnabled(int command) const override;

    /// Starts capturing (the Start command); false when the adapter or the
    /// filter failed, which the operator has been told.
    bool start();
    /// Stops capturing; the list, the store, the tree and the dump stay.
    void stop();
    bool capturing() const { return m_session.isRunning(); }

    /// Uses `filter` from now on: stops, stores it as "Filter", empties the
    /// list, the store, the tree and the dump, and starts again.
    void changeFilter(const QString& filter);
    const QString& filter() const { return m_filter; }

    /// Shows the dump and the tree of list row `row` (0-based).
    void showFrame(int row);
    /// Writes the stored frames to a pcap file; false (the operator told why) on failure.
    bool saveFrames(const QString& path);
    /// Asks where to save; replaceable so tests never block on a dialog.
    void setSaveFileChooser(std::function<QString(QWidget*)> chooser);

    /// Runs the filter wizard: the new filter, or nothing when cancelled.
    using FilterWizardRunner = std::function<std::optional<QString>(QWidget* parent)>;
    /// Replaces the filter wizard (tests).
    void setFilterWizardRunner(FilterWizardRunner runner) { m_filterWizard = std::move(runner); }
    /// The filter button: runs the wizard and, when it is finished, changes
    /// the filter to its expression.
    void filterCommand();

    const qarsilo::FrameStore& store() const { return m_store; }
    qarsilo::CaptureListModel* model() { return &m_model; }
    qarsilo::CaptureSession& session() { return m_session; }
    QTableView* list() const { return m_list; }
    QTreeWidget* tree() const { return m_tree; }
    QPlainTextEdit* dump() const { return m_dump; }
    qint64 linkSpeed() const { return m_linkSpeed; }

public Q_SLOTS:
    /// Brings new frames into the list (runs every 100 ms).
    void tick();

private:
    void setButtons();
    void clearAll();
    void saveCommand();

    // The store outlives the session that fills it: members are destroyed in
    // reverse order, and the session is stopped before anything else goes.
    qarsilo::FrameStore m_store;
    qarsilo::CaptureListModel m_model;
    qarsilo::CaptureSession m_session;
    QString m_filter;
    qint64 m_linkSpeed = 0;
    CMainFrame* m_frame = nullptr;
    QTimer m_timer;
    bool m_reportedEnd = false;
    std::function<QString(QWidget*)> m_saveChooser;
    FilterWizardRunner m_filterWizard;

    QTableView* m_list = nullptr;
    QTreeWidget* m_tree = nullptr;
    QPlainTextEdit* m_dump = nullptr;
};
