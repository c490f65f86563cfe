#include "gui/analysis/capture_decode_view.h"

#include "core/analysis/decode_tree.h"
#include "core/analysis/display_filter.h"
#include "core/analysis/hex_dump.h"
#include "core/app/app_state.h"
#include "core/app/commands.h"
#include "core/app/message_service.h"
#include "core/app/settings_store.h"
#include "core/app/toolbar_art.h"
#include "core/capture/adapter_name.h"
#include "core/capture/link_speed.h"
#include "gui/analysis/filter_wizard.h"
#include "gui/widgets/row_list_view.h"

#include <QDataStream>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QShortcut>
#include <QSplitter>
#include <QStyle>
#include <QTextCursor>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <chrono>
#include <thread>
#include <utility>

using namespace qarsilo;

namespace {

// The decode tree's image pairs, by TreeImage number.
const QList<QIcon>& treeIcons() {
    static const QList<QIcon> icons = [] {
        QList<QIcon> out;
        const QList<QImage> images = decodeTreeImages();
        for (int i = 0; i + 1 < images.size(); i += 2) {
            QIcon icon;
            icon.addPixmap(QPixmap::fromImage(images[i]), QIcon::Normal);
            icon.addPixmap(QPixmap::fromImage(images[i + 1]), QIcon::Selected);
            out << icon << icon; // the selected image number shows the same pair
        }
        return out;
    }();
    return icons;
}

constexpr int kOffsetRole = Qt::UserRole;
constexpr int kLengthRole = Qt::UserRole + 1;

void addNode(QTreeWidgetItem* parent, QTreeWidget* tree, const DecodeNode& node,
             std::unordered_map<const DecodeNode*, QTreeWidgetItem*>& items) {
    auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(tree);
    items[&node] = item;
    item->setText(0, node.text);
    item->setData(0, kOffsetRole, node.offset);
    item->setData(0, kLengthRole, node.length);
    const int image = int(node.image());
    if (image >= 0 && image < treeIcons().size())
        item->setIcon(0, treeIcons()[image]);
    for (const DecodeNode& child : node.children)
        addNode(item, tree, child, items);
    item->setExpanded(node.expandedInitially());
}

// Where byte `byte` of a frame stands in its hex dump (lines of "0000 : ",
// sixteen "XX " and sixteen characters, 72 with the line end).
constexpr int kDumpLine = 72;
int hexColumn(int byte) {
    return (byte / 16) * kDumpLine + 7 + (byte % 16) * 3;
}
int charColumn(int byte) {
    return (byte / 16) * kDumpLine + 55 + byte % 16;
}
// The byte at text position `pos`, or -1 (the offset column, the blanks).
int byteAtDumpPosition(int pos, int bytes) {
    const int line = pos / kDumpLine;
    const int col = pos % kDumpLine;
    int inLine = -1;
    if (col >= 7 && col < 55 && (col - 7) % 3 != 2)
        inLine = (col - 7) / 3;
    else if (col >= 55 && col < 71)
        inLine = col - 55;
    const int byte = inLine < 0 ? -1 : line * 16 + inLine;
    return byte < bytes ? byte : -1;
}
} // namespace

CCaptureDecodeView::CCaptureDecodeView(QWidget* parent)
    : CCaptureView(view::CaptureDecode, StartStop::Toggle,
                   {{cmd::AddressBookPlus, viewimage::AddressBookPlus}}, parent)
    , m_model(m_store)
    , m_session(CaptureWindow::CaptureDecodeView) {
    m_filter = SettingsStore().string(setting::filter);
    quint32 budgetMiB = 1024;
    SettingsStore().readNumber(setting::frameStoreBudget, budgetMiB);
    m_store.setMemoryBudget(std::size_t(std::max<quint32>(budgetMiB, 1)) << 20);
    m_linkSpeed = linkSpeedBps(app::selectedAdapter());

    // A fixed-pitch face so the hex dump lines up.
    QFont font(QStringLiteral("Courier New"));
    font.setStyleHint(QFont::TypeWriter);
    font.setPointSize(8);
    setFont(font);

    buildList();
    buildDetailPanes();
    buildBars();
    buildShortcuts();
    buildLayout();
    connectPanes();

    m_model.setTimeFormat(TimeFormat(storedTimeFormat()));
    fitTimeColumn();
    m_session.setFilter(m_filter);
    showCaptureFilter();
    m_scanTimer.setInterval(50);
    connect(&m_scanTimer, &QTimer::timeout, this, &CCaptureDecodeView::pollScan);

    m_session.setFileReplay(FileReplay::AsFastAsPossible);
    m_session.setHandler([this](const pcap_pkthdr& header, const std::uint8_t* bytes) {
        // A file started again goes on behind the frames it already gave.
        if (m_resume.admit()) {
            m_store.append(frameHeaderFrom(header), bytes);
            // The first rows are listed at once, not at the next tick.
            if (!m_firstListed.load(std::memory_order_relaxed)) {
                m_firstListed.store(true, std::memory_order_relaxed);
                QMetaObject::invokeMethod(this, &CCaptureDecodeView::tick, Qt::QueuedConnection);
            }
        } else {
            m_store.passOver(frameHeaderFrom(header));
        }
    });
    // The end of a file is listed at once, not at the next tick.
    m_session.setEndHandler([this](LoopEnd) {
        QMetaObject::invokeMethod(this, &CCaptureDecodeView::tick, Qt::QueuedConnection);
    });

    setUpRunners();

    m_timer.setInterval(100);
    connect(&m_timer, &QTimer::timeout, this, &CCaptureDecodeView::tick);
}

void CCaptureDecodeView::buildList() {
    // Rows of one height and nothing kept per row: a capture of any length
    // costs the list no memory and no time per frame.
    m_list = new RowListView(this);
    m_list->setModel(&m_model);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setAlternatingRowColors(true);
    m_list->setRowHeight(m_list->fontMetrics().height() + 4);
    m_list->horizontalHeader()->setHighlightSections(false);
    m_list->horizontalHeader()->setStretchLastSection(true);
    for (int c = 0; c < CaptureListModel::ColumnCount; ++c)
        m_list->setColumnWidth(c, CaptureListModel::columnWidth(c));
}

void CCaptureDecodeView::buildDetailPanes() {
    m_tree = new QTreeWidget(this);
    m_tree->setHeaderHidden(true);
    m_tree->setRootIsDecorated(true);
    m_tree->setDragDropMode(QAbstractItemView::NoDragDrop);

    m_dump = new QPlainTextEdit(this);
    m_dump->setReadOnly(true);
    m_dump->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_dump->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
}

void CCaptureDecodeView::buildBars() {
    // The display filter bar: a capture filter expression applied to the
    // stored frames. Green while it compiles, red (with libpcap's reason as
    // its tooltip) when it does not; Enter applies, Escape clears.
    m_filterBar = new QLineEdit(this);
    m_filterBar->setPlaceholderText(
        QStringLiteral("Display filter: capture filter expression, e.g. udp port 53 (Enter "
                       "applies, Escape clears)"));
    m_filterBar->setClearButtonEnabled(true);
    m_filterBar->setAccessibleName(QStringLiteral("Display filter"));
    connect(m_filterBar, &QLineEdit::textChanged, this, &CCaptureDecodeView::checkDisplayFilter);
    connect(m_filterBar, &QLineEdit::returnPressed, this,
            [this] { applyDisplayFilter(m_filterBar->text()); });

    // The capture filter in use; a click on it runs the filter wizard. Queued:
    // the new filter changes the label that sent the click.
    m_captureFilterLabel = new QLabel(this);
    m_captureFilterLabel->setTextFormat(Qt::RichText);
    m_captureFilterLabel->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
    m_captureFilterLabel->setWordWrap(true);
    m_captureFilterLabel->setAccessibleName(QStringLiteral("Capture filter"));
    m_captureFilterLabel->setToolTip(
        QStringLiteral("The capture filter in use; click it to change it in the filter wizard"));
    connect(
        m_captureFilterLabel, &QLabel::linkActivated, this, [this] { filterCommand(); },
        Qt::QueuedConnection);

    // Find: text in any column, from the current row on.
    m_findBar = new QLineEdit(this);
    m_findBar->setPlaceholderText(QStringLiteral(
        "Find: text in any column (Enter or F3 next, Shift+F3 previous, Escape closes)"));
    m_findBar->setAccessibleName(QStringLiteral("Find"));
    m_findBar->hide();
    connect(m_findBar, &QLineEdit::returnPressed, this, [this] { find(m_findBar->text(), true); });
}

void CCaptureDecodeView::buildShortcuts() {
    // Escape clears the display filter, and closes the find bar.
    auto* clearFilter = new QShortcut(QKeySequence(Qt::Key_Escape), m_filterBar, nullptr, nullptr,
                                      Qt::WidgetShortcut);
    connect(clearFilter, &QShortcut::activated, this, [this] {
        m_filterBar->clear();
        applyDisplayFilter(QString());
    });
    auto* closeFind = new QShortcut(QKeySequence(Qt::Key_Escape), m_findBar, nullptr, nullptr,
                                    Qt::WidgetShortcut);
    connect(closeFind, &QShortcut::activated, this, [this] {
        m_findBar->hide();
        m_list->setFocus();
    });
}

void CCaptureDecodeView::buildLayout() {
    // Panes the operator can resize; their sizes and the column widths are
    // kept in the settings.
    m_lowerSplitter = new QSplitter(Qt::Horizontal, this);
    m_lowerSplitter->addWidget(m_tree);
    m_lowerSplitter->addWidget(m_dump);
    m_lowerSplitter->setSizes({248, 305});
    m_splitter = new QSplitter(Qt::Vertical, this);
    m_splitter->addWidget(m_list);
    m_splitter->addWidget(m_lowerSplitter);
    m_splitter->setSizes({177, 173});
    m_splitter->setChildrenCollapsible(false);
    m_lowerSplitter->setChildrenCollapsible(false);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(2);
    layout->addWidget(m_captureFilterLabel);
    layout->addWidget(m_filterBar);
    layout->addWidget(m_findBar);
    layout->addWidget(m_splitter, 1);
}

void CCaptureDecodeView::connectPanes() {
    // Enter on a row shows it as a double-click does; so does moving the
    // current row with the mouse or the keys.
    connect(m_list, &QAbstractItemView::activated, this,
            [this](const QModelIndex& index) { showFrame(index.row()); });
    connect(m_list->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (current.isValid())
                    showFrame(current.row());
            });
    // A field shows its bytes; a byte shows its field.
    connect(m_tree, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* item) { highlightBytes(item); });
    connect(m_dump, &QPlainTextEdit::cursorPositionChanged, this,
            &CCaptureDecodeView::selectFieldAtCursor);
}

void CCaptureDecodeView::setUpRunners() {
    m_askFrameNumber = [](QWidget* parent, qulonglong last) -> qulonglong {
        bool ok = false;
        const int n =
            QInputDialog::getInt(parent, QStringLiteral("Go to Frame"),
                                 QStringLiteral("Frame number (1 to %1):").arg(last), 1, 1,
                                 int(std::min<qulonglong>(last, 2147483647ULL)), 1, &ok);
        return ok ? qulonglong(n) : 0;
    };
    m_saveChooser = [](QWidget* parent) {
        return QFileDialog::getSaveFileName(parent, QStringLiteral("Save Captured Frames"),
                                            QString(),
                                            QStringLiteral("pcap capture files (*.pcap)"));
    };

    m_filterWizard = [this](QWidget* parent) {
        // A new wizard each time: nothing of a previous run is remembered.
        CFilterWizard wizard(app::selectedAdapter(), parent);
        wizard.setNodePicker(m_picker);
        return wizard.run();
    };
}

CCaptureDecodeView::~CCaptureDecodeView() {
    m_timer.stop();
    if (m_layoutRestored) // a window never shown has no layout of the operator's
        saveLayout();
    cancelScan();
    m_session.stop();
}

void CCaptureDecodeView::onInitialUpdate() {
    m_timer.start();
    start();
}

bool CCaptureDecodeView::start() {
    if (m_session.isRunning())
        return true;
    m_session.setFilter(m_filter);
    showCaptureFilter();
    if (!m_resume.begin(app::selectedAdapter())) {
        // Reading it again would list every frame twice.
        if (host())
            host()->showStatusMessage(
                QStringLiteral("End of capture file: %1 frames (File > Open Capture File... reads "
                               "it again)")
                    .arg(m_store.size()));
        setButtons();
        return false;
    }
    // Read at every start, while nothing appends: a folder chosen meanwhile
    // serves the next spill.
    m_store.setSpillFolder(SettingsStore().string(setting::spillFolder));
    // A capture file read whole holds every frame where the store can read it
    // again; a filter leaves gaps the store cannot see, so then it copies.
    const QString adapter = app::selectedAdapter();
    m_store.setSource(isCaptureFileAdapter(adapter) && m_session.filterText().isEmpty()
                          ? captureFilePath(adapter)
                          : QString(),
                      quint32(m_session.params().snapLen));
    m_reportedEnd = false;
    m_firstListed.store(false, std::memory_order_relaxed);
    const CaptureStartResult result = m_session.start();
    if (!result.ok() && result.status != CaptureStatus::OpenFailed &&
        result.status != CaptureStatus::NotEthernet) {
        // The session reports a failed open itself; a filter libpcap rejects
        // would otherwise go unnoticed, with nothing captured.
        MessageService::message(QStringLiteral("The capture filter \"") + m_filter +
                                    QStringLiteral("\" cannot be used:\n") + result.error,
                                QStringLiteral("Error"), MessageService::Icon::Error);
    }
    setButtons();
    if (host())
        host()->setLinkSpeedText(linkSpeedText(m_linkSpeed));
    return result.ok();
}

void CCaptureDecodeView::stop() {
    m_resume.end(m_session.readsFile() && m_session.loopEnd() == LoopEnd::EndOfFile);
    m_session.stop();
    tick(); // frames stored before the stop are listed too
    setButtons();
}

bool CCaptureDecodeView::onViewCommand(int command) {
    switch (command) {
    case cmd::SaveFrames:
        saveCommand();
        return true;
    case cmd::Find:
        m_findBar->show();
        m_findBar->selectAll();
        m_findBar->setFocus();
        return true;
    case cmd::FindNext:
    case cmd::FindPrevious:
        if (m_findBar->text().isEmpty())
            return onViewCommand(cmd::Find);
        find(m_findBar->text(), command == cmd::FindNext);
        return true;
    case cmd::GoToFrame:
        goToFrameCommand();
        return true;
    case cmd::TimeAsCaptured:
    case cmd::TimeDateAndTime:
    case cmd::TimeSinceFirstFrame:
        m_model.setTimeFormat(TimeFormat(command - cmd::TimeAsCaptured));
        fitTimeColumn();
        return true;
    case cmd::AddressBookPlus:
        filterCommand();
        return true;
    default:
        return false;
    }
}

bool CCaptureDecodeView::isViewCommandEnabled(int command) const {
    switch (command) {
    case cmd::SaveFrames:
        return m_store.size() > 0;
    case cmd::Find:
    case cmd::FindNext:
    case cmd::FindPrevious:
    case cmd::GoToFrame:
        return m_model.rowCount() > 0;
    case cmd::AddressBookPlus:
        return true;
    default:
        return false;
    }
}

void CCaptureDecodeView::tick() {
    if (m_scan.running())
        return; // the list waits for the display filter's first pass
    QScrollBar* bar = m_list->verticalScrollBar();
    // Follow new frames only when the operator is at the end of the list and
    // has chosen nothing (asked without listing the selection, which may span
    // millions of rows).
    const bool atEnd = bar->value() >= bar->maximum();
    if (m_model.refresh() > 0 && atEnd && !m_list->selectionModel()->hasSelection())
        m_list->scrollToBottom();
    fitNumberColumn();
    if (!m_reportedEnd && host() && m_session.loopEnd() != LoopEnd::Running) {
        m_reportedEnd = true;
        // Frames still on their way to the spill file are counted too.
        m_store.flush();
        const QString text =
            m_session.loopEnd() == LoopEnd::EndOfFile && m_session.readsFile()
                ? QStringLiteral("End of capture file: %1 frames").arg(m_store.size())
                : QStringLiteral("Capture stopped: ") + m_session.loopError();
        // It stays until the next message.
        host()->showStatusMessage(text, 0);
        m_displayFilterError = false;
        // The capture has ended by itself: Start is offered again, not Stop.
        stop();
    }
    updateStatusPane();
    reportSpillFailure();
}

void CCaptureDecodeView::reportSourceChanged() {
    if (m_toldSourceChanged)
        return;
    const QString file = m_store.sourceChanged();
    if (file.isEmpty())
        return;
    m_toldSourceChanged = true;
    MessageService::message(
        QStringLiteral("The capture file %1 has changed since it was read: the frames read "
                       "back from it cannot be shown. Open it again with File > Open Capture "
                       "File...")
            .arg(QDir::toNativeSeparators(file)),
        QStringLiteral("Warning"), MessageService::Icon::Warning);
}

void CCaptureDecodeView::reportSpillFailure() {
    reportSourceChanged();
    if (m_toldSpillFailure)
        return;
    const FrameStore::SpillFailure failure = m_store.spillFailure();
    if (failure.folder.isEmpty())
        return;
    // Set first: the box runs its own event loop, in which the timer ticks again.
    m_toldSpillFailure = true;
    MessageService::message(
        QStringLiteral("The frames past the memory budget cannot be kept: the spill file in "
                       "%1 cannot be written (%2).\nFrames from here on are not stored. Choose "
                       "another folder with Tools > Spill Folder... and start the capture again.")
            .arg(QDir::toNativeSeparators(failure.folder), failure.reason),
        QStringLiteral("Warning"), MessageService::Icon::Warning);
}

void CCaptureDecodeView::updateStatusPane() {
    if (!host())
        return;
    QString text = QStringLiteral("Frames: %1").arg(m_store.size());
    if (m_model.filtered())
        text += QStringLiteral("  Shown: %1").arg(m_model.rowCount());
    text += QStringLiteral("  Dropped: %1").arg(m_session.droppedSoFar());
    // Frames captured but lost by the store (no memory, no spill file).
    if (const std::size_t lost = m_store.dropped())
        text += QStringLiteral("  Not stored: %1").arg(lost);
    host()->setViewStatusText(text);
}

void CCaptureDecodeView::checkDisplayFilter(const QString& text) {
    DisplayFilter probe;
    QString error;
    const bool ok = probe.compile(text, &error);
    QPalette colours = m_filterBar->palette();
    colours.setColor(QPalette::Base, text.trimmed().isEmpty() ? palette().color(QPalette::Base)
                                     : ok                     ? QColor(0xd0, 0xf0, 0xd0)
                                                              : QColor(0xf8, 0xd0, 0xd0));
    m_filterBar->setPalette(colours);
    m_filterBar->setToolTip(ok ? QString() : error);
}

bool CCaptureDecodeView::applyDisplayFilterFromHost(const QString& expression) {
    m_filterBar->setText(expression);
    return applyDisplayFilter(expression);
}

bool CCaptureDecodeView::applyDisplayFilter(const QString& expression) {
    auto filter = std::make_unique<DisplayFilter>();
    QString error;
    if (!filter->compile(expression, &error)) {
        if (host()) {
            host()->showStatusMessage(QStringLiteral("Display filter: ") + error, 0);
            m_displayFilterError = true;
        }
        return false;
    }
    // The reason a filter failed goes with it (Escape clears the bar).
    if (m_displayFilterError && host())
        host()->showStatusMessage(QString(), 0);
    m_displayFilterError = false;
    cancelScan();
    if (filter->isEmpty()) {
        m_model.showAll();
        m_displayFilter.reset();
        updateStatusPane();
        return true;
    }
    // The frames stored so far are tested on a thread of their own, with the
    // progress in the status bar; later ones as they come.
    m_scan.start(m_store, std::move(filter));
    m_scanTimer.start();
    return true;
}

void CCaptureDecodeView::pollScan() {
    if (!m_scan.running()) {
        m_scanTimer.stop();
        return;
    }
    if (!m_scan.finished()) {
        if (host())
            host()->showStatusMessage(
                QStringLiteral("Filtering: %1 of %2 frames").arg(m_scan.done()).arg(m_scan.end()),
                0);
        return;
    }
    finishScan();
}

void CCaptureDecodeView::finishScan() {
    m_scanTimer.stop();
    if (!m_scan.running())
        return;
    DisplayFilterScan::Result result = m_scan.take();
    m_displayFilter = std::move(result.filter);
    m_model.showOnly(m_displayFilter.get(), std::move(result.matches), result.end);
    if (host())
        host()->showStatusMessage(QStringLiteral("Display filter: %1 of %2 frames shown")
                                      .arg(m_model.rowCount())
                                      .arg(result.end));
    tick();
}

void CCaptureDecodeView::waitForDisplayFilter() {
    while (!m_scan.finished())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    finishScan();
}

void CCaptureDecodeView::cancelScan() {
    m_scanTimer.stop();
    m_scan.cancel();
}

bool CCaptureDecodeView::find(const QString& text, bool forward) {
    const int rows = m_model.rowCount();
    if (text.isEmpty() || rows == 0)
        return false;
    const int current =
        m_list->currentIndex().isValid() ? m_list->currentIndex().row() : (forward ? -1 : rows);
    for (int step = 1; step <= rows; ++step) {
        const int row = ((forward ? current + step : current - step) % rows + rows) % rows;
        for (int c = 0; c < CaptureListModel::ColumnCount; ++c) {
            if (m_model.index(row, c).data().toString().contains(text, Qt::CaseInsensitive)) {
                m_list->setCurrentIndex(m_model.index(row, 0));
                m_list->scrollTo(m_model.index(row, 0));
                return true;
            }
        }
    }
    if (host())
        host()->showStatusMessage(QStringLiteral("Not found: ") + text);
    return false;
}

bool CCaptureDecodeView::goToFrame(qulonglong number) {
    const int row = number == 0 ? -1 : m_model.rowOfFrame(std::size_t(number - 1));
    if (row < 0) {
        if (host())
            host()->showStatusMessage(QStringLiteral("Frame %1 is not in the list").arg(number));
        return false;
    }
    m_list->setCurrentIndex(m_model.index(row, 0));
    m_list->scrollTo(m_model.index(row, 0), QAbstractItemView::PositionAtCenter);
    return true;
}

void CCaptureDecodeView::setFrameNumberAsker(
    std::function<qulonglong(QWidget*, qulonglong)> asker) {
    m_askFrameNumber = std::move(asker);
}

void CCaptureDecodeView::goToFrameCommand() {
    const qulonglong last = m_store.size();
    const qulonglong number = m_askFrameNumber ? m_askFrameNumber(this, last) : 0;
    if (number > 0)
        goToFrame(number);
}

void CCaptureDecodeView::saveLayout() const {
    QByteArray state;
    QDataStream out(&state, QIODevice::WriteOnly);
    out << quint32(1) << m_splitter->saveState() << m_lowerSplitter->saveState()
        << m_list->horizontalHeader()->saveState();
    SettingsStore().writeString(setting::analyzerLayout, QString::fromLatin1(state.toBase64()));
}

void CCaptureDecodeView::showEvent(QShowEvent* event) {
    CView::showEvent(event);
    // Pane sizes mean something once the window has its size.
    if (!m_layoutRestored) {
        m_layoutRestored = true;
        QTimer::singleShot(0, this, &CCaptureDecodeView::restoreLayout);
    }
}

void CCaptureDecodeView::restoreLayout() {
    const QByteArray state =
        QByteArray::fromBase64(SettingsStore().string(setting::analyzerLayout).toLatin1());
    if (state.isEmpty())
        return;
    QDataStream in(state);
    quint32 version = 0;
    QByteArray outer;
    QByteArray lower;
    QByteArray columns;
    in >> version >> outer >> lower >> columns;
    // Anything unreadable leaves the layout as it first comes.
    if (in.status() != QDataStream::Ok || version != 1)
        return;
    m_splitter->restoreState(outer);
    m_lowerSplitter->restoreState(lower);
    m_list->horizontalHeader()->restoreState(columns);
    // Kept widths may predate the time format in use.
    fitTimeColumn();
}

void CCaptureDecodeView::fitTimeColumn() {
    // Digits of a face need not be alike: the widest stands for every one.
    const QFontMetrics fm(m_list->font());
    int digit = 0;
    for (char c = '0'; c <= '9'; ++c)
        digit = std::max(digit, fm.horizontalAdvance(QLatin1Char(c)));
    const QString pattern = CaptureListModel::timeTextPattern(m_model.timeFormat());
    const int text =
        fm.horizontalAdvance(pattern) +
        int(pattern.count(QLatin1Char('0'))) * (digit - fm.horizontalAdvance(QLatin1Char('0')));
    // The cell's text margins on both sides, its grid line and a little room.
    const int margin =
        m_list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, m_list) + 1;
    const int needed = text + 2 * margin + 1 + 2;
    if (m_list->columnWidth(CaptureListModel::Time) < needed)
        m_list->setColumnWidth(CaptureListModel::Time, needed);
}

void CCaptureDecodeView::fitNumberColumn() {
    int digits = 1;
    for (std::size_t n = m_store.size(); n >= 10; n /= 10)
        ++digits;
    const QFontMetrics fm(m_list->font());
    int digit = 0;
    for (char c = '0'; c <= '9'; ++c)
        digit = std::max(digit, fm.horizontalAdvance(QLatin1Char(c)));
    const int margin =
        m_list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, m_list) + 1;
    const int needed = digits * digit + 2 * margin + 1 + 2;
    if (m_list->columnWidth(CaptureListModel::Number) < needed)
        m_list->setColumnWidth(CaptureListModel::Number, needed);
}

void CCaptureDecodeView::showCaptureFilter() {
    const QString filter = m_session.filterText();
    m_captureFilterLabel->setText(QStringLiteral("Capture filter: <a href=\"change\">%1</a>")
                                      .arg(captureFilterText({filter}).toHtmlEscaped()));
    if (host())
        host()->setCaptureFilters({filter}, cmd::AddressBookPlus);
}

void CCaptureDecodeView::clearAll() {
    m_resume.forget();
    // A scan reads the store that is about to be emptied.
    m_scanTimer.stop();
    std::unique_ptr<DisplayFilter> pending = m_scan.cancel();
    if (pending)
        m_displayFilter = std::move(pending);
    m_model.reset();
    if (m_displayFilter)
        m_model.showOnly(m_displayFilter.get(), {}, 0);
    m_store.clear();
    m_toldSpillFailure = false;
    m_toldSourceChanged = false;
    m_tree->clear();
    m_dump->clear();
}

void CCaptureDecodeView::changeFilter(const QString& filter) {
    m_filter = filter;
    SettingsStore().writeString(setting::filter, filter);
    stop();
    clearAll();
    start();
}

void CCaptureDecodeView::filterCommand() {
    const std::optional<QString> filter = m_filterWizard ? m_filterWizard(this) : std::nullopt;
    if (filter)
        changeFilter(*filter);
}

void CCaptureDecodeView::showFrame(int row) {
    if (row < 0 || row >= m_model.rowCount())
        return;
    const FrameStore::Frame f = m_store.at(m_model.frameIndex(row));
    if (!f.bytes)
        reportSourceChanged();
    // The dump's lines end in CR LF, as scripts receive them; the box shows lines.
    QString dump = hexDump(f.header, f.bytes);
    dump.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (dump.endsWith(QLatin1Char('\n')))
        dump.chop(1);
    m_shownBytes = int(std::min<quint32>(f.header.capLen, f.header.wireLen));
    {
        const QSignalBlocker quiet(m_dump);
        m_dump->setPlainText(dump);
        m_dump->setExtraSelections({});
    }
    const QSignalBlocker quiet(m_tree);
    m_tree->clear();
    m_items.clear();
    m_decoded = decodeFrame(f.header, f.bytes);
    addNode(nullptr, m_tree, m_decoded, m_items);
}

void CCaptureDecodeView::highlightBytes(QTreeWidgetItem* item) {
    QList<QTextEdit::ExtraSelection> marks;
    const int offset = item ? item->data(0, kOffsetRole).toInt() : -1;
    const int length = item ? item->data(0, kLengthRole).toInt() : 0;
    if (offset >= 0) {
        QTextCharFormat format;
        format.setBackground(palette().highlight());
        format.setForeground(palette().highlightedText());
        const int end = std::min(offset + length, m_shownBytes);
        // One selection per line and column, hex and characters.
        for (int b = offset; b < end;) {
            const int lineEnd = std::min(end, (b / 16 + 1) * 16);
            for (const auto& [from, to] : {std::pair{hexColumn(b), hexColumn(lineEnd - 1) + 2},
                                           std::pair{charColumn(b), charColumn(lineEnd - 1) + 1}}) {
                QTextEdit::ExtraSelection mark;
                mark.format = format;
                mark.cursor = QTextCursor(m_dump->document());
                mark.cursor.setPosition(from);
                mark.cursor.setPosition(to, QTextCursor::KeepAnchor);
                marks << mark;
            }
            b = lineEnd;
        }
    }
    m_dump->setExtraSelections(marks);
    m_highlighted = {offset, length};
}

void CCaptureDecodeView::selectFieldAtCursor() {
    const int byte = byteAtDumpPosition(m_dump->textCursor().position(), m_shownBytes);
    if (byte < 0)
        return;
    selectFieldAtByte(byte);
}

void CCaptureDecodeView::selectFieldAtByte(int byte) {
    const DecodeNode* node = nodeAtByte(m_decoded, byte);
    const auto it = node ? m_items.find(node) : m_items.end();
    if (it == m_items.end())
        return;
    for (QTreeWidgetItem* up = it->second->parent(); up; up = up->parent())
        up->setExpanded(true);
    m_tree->setCurrentItem(it->second); // highlights its bytes
}

void CCaptureDecodeView::setSaveFileChooser(std::function<QString(QWidget*)> chooser) {
    m_saveChooser = std::move(chooser);
}

void CCaptureDecodeView::saveCommand() {
    QString path = m_saveChooser ? m_saveChooser(this) : QString();
    if (path.isEmpty())
        return;
    // A name without an extension gets the one other tools look for.
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".pcap");
    saveFrames(path);
}

bool CCaptureDecodeView::saveFrames(const QString& path) {
    QString error;
    const std::size_t count = m_store.size();
    if (!writePcapFile(m_store, count, path, &error)) {
        MessageService::message(QStringLiteral("Cannot save the frames to ") + path +
                                    QStringLiteral(":\n") + error,
                                QStringLiteral("Error"), MessageService::Icon::Error);
        return false;
    }
    if (host())
        host()->showStatusMessage(QStringLiteral("%1 frames saved to ").arg(count) + path);
    return true;
}
