#pragma once

#include "core/addressbook/picked_node.h"
#include "core/analysis/capture_list_model.h"
#include "core/analysis/decode_tree.h"
#include "core/analysis/display_filter.h"
#include "core/analysis/display_filter_scan.h"
#include "core/analysis/file_resume.h"
#include "core/analysis/frame_store.h"
#include "core/capture/capture_session.h"
#include "gui/shell/capture_view.h"

#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QSplitter;
class QTreeWidget;
class QTreeWidgetItem;
class RowListView;

/// The packet analyzer: captures every frame that passes the stored filter,
/// lists it, keeps a copy, and shows the chosen frame as a decode tree and a
/// hex dump. Captures from the moment it is shown.
class CCaptureDecodeView : public CCaptureView {
    Q_OBJECT
public:
    explicit CCaptureDecodeView(QWidget* parent = nullptr);
    ~CCaptureDecodeView() override;

    bool isCapturing() const override { return m_session.isRunning(); }

    /// Starts capturing (the Start command); false when the adapter or the
    /// filter failed, which the operator has been told.
    bool start() override;
    /// Stops capturing; the list, the store, the tree and the dump stay.
    void stop() override;

    /// Uses `filter` from now on: stops, stores it as "Filter", empties the
    /// list, the store, the tree and the dump, and starts again.
    void changeFilter(const QString& filter);
    const QString& filter() const { return m_filter; }

    /// Shows the dump and the tree of list row `row` (0-based).
    void showFrame(int row);
    /// Marks the bytes of the field `item` stands for in the hex dump.
    void highlightBytes(QTreeWidgetItem* item);
    /// Selects the deepest field of the shown frame that covers byte `byte`.
    void selectFieldAtByte(int byte);
    /// The bytes marked in the dump (offset -1: none).
    std::pair<int, int> highlightedBytes() const { return m_highlighted; }

    /// Shows only the stored frames that match `expression` (a capture filter
    /// expression; empty shows all). False when it does not compile (the
    /// status bar says why). The stored frames are filtered on a thread of
    /// their own; waitForDisplayFilter() waits for it (tests).
    bool applyDisplayFilter(const QString& expression);
    /// Another view's display filter: shown in the bar and applied.
    bool applyDisplayFilterFromHost(const QString& expression) override;
    void waitForDisplayFilter();
    QLineEdit* displayFilterBar() const { return m_filterBar; }
    /// The capture filter in use, above the list; its link runs the filter wizard.
    QLabel* captureFilterLabel() const { return m_captureFilterLabel; }
    /// Selects the next (or previous) row, wrapping, with `text` in any column.
    bool find(const QString& text, bool forward);
    /// Selects frame `number` (from 1) when the list shows it.
    bool goToFrame(qulonglong number);
    /// Asks for a frame number (0: cancelled); replaceable for tests.
    void setFrameNumberAsker(std::function<qulonglong(QWidget*, qulonglong)> asker);
    QSplitter* splitter() const { return m_splitter; }
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
    /// Picks a node for the wizard's address book buttons; the program gives the real one.
    void setNodePicker(qarsilo::NodePicker picker) { m_picker = std::move(picker); }

    const qarsilo::FrameStore& store() const { return m_store; }
    qarsilo::CaptureListModel* model() { return &m_model; }
    qarsilo::CaptureSession& session() { return m_session; }
    RowListView* list() const { return m_list; }
    QTreeWidget* tree() const { return m_tree; }
    QPlainTextEdit* dump() const { return m_dump; }
    qint64 linkSpeed() const { return m_linkSpeed; }

public Q_SLOTS:
    /// Brings new frames into the list (runs every 100 ms).
    void tick();

protected:
    void showEvent(QShowEvent* event) override;
    void onInitialUpdate() override;
    bool onViewCommand(int command) override;
    bool isViewCommandEnabled(int command) const override;

private:
    // The constructor's steps, in the order the widgets are made.
    void buildList();
    void buildDetailPanes();
    void buildBars();
    void buildShortcuts();
    void buildLayout();
    void connectPanes();
    void setUpRunners();

    void clearAll();
    void saveCommand();
    void goToFrameCommand();
    void updateStatusPane();
    void showCaptureFilter();
    /// Widens the Time column to the longest text of the time format in use.
    void fitTimeColumn();
    /// Widens the No. column when the frame numbers gain a digit.
    void fitNumberColumn();
    /// Tells the operator, once per capture, why the store lost frames.
    void reportSpillFailure();
    /// Tells the operator, once, that frames could not be read back from a
    /// capture file that changed.
    void reportSourceChanged();
    void checkDisplayFilter(const QString& text);
    void pollScan();
    void finishScan();
    void cancelScan();
    void selectFieldAtCursor();
    void saveLayout() const;
    void restoreLayout();

    // The store outlives the session that fills it: members are destroyed in
    // reverse order, and the session is stopped before anything else goes.
    qarsilo::FrameStore m_store;
    qarsilo::CaptureListModel m_model;
    qarsilo::CaptureSession m_session;
    QString m_filter;
    qint64 m_linkSpeed = 0;
    QTimer m_timer;
    bool m_reportedEnd = false;
    std::atomic<bool> m_firstListed{false}; ///< the capture thread asked for the first rows
    bool m_toldSpillFailure = false;
    bool m_toldSourceChanged = false;
    bool m_displayFilterError = false; ///< the status bar shows why a display filter failed
    qarsilo::FileResume m_resume;      ///< what a new start of the file read last goes on from
    std::function<QString(QWidget*)> m_saveChooser;
    std::function<qulonglong(QWidget*, qulonglong)> m_askFrameNumber;

    // The shown frame's tree, each node's item, and the bytes marked.
    qarsilo::DecodeNode m_decoded;
    std::unordered_map<const qarsilo::DecodeNode*, QTreeWidgetItem*> m_items;
    int m_shownBytes = 0;
    std::pair<int, int> m_highlighted{-1, 0};

    // The display filter in use, and the first pass of a new one.
    std::unique_ptr<qarsilo::DisplayFilter> m_displayFilter;
    qarsilo::DisplayFilterScan m_scan;
    QTimer m_scanTimer;
    FilterWizardRunner m_filterWizard;
    qarsilo::NodePicker m_picker;

    RowListView* m_list = nullptr;
    QTreeWidget* m_tree = nullptr;
    QPlainTextEdit* m_dump = nullptr;
    QLineEdit* m_filterBar = nullptr;
    QLabel* m_captureFilterLabel = nullptr;
    QLineEdit* m_findBar = nullptr;
    QSplitter* m_splitter = nullptr;
    QSplitter* m_lowerSplitter = nullptr;
    bool m_layoutRestored = false;
};
