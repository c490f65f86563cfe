#include "analysis/capture_decode_view.h"

#include "analysis/decode_tree.h"
#include "analysis/filter_wizard.h"
#include "analysis/hex_dump.h"
#include "capture/link_speed.h"
#include "settings/adapter_list.h"
#include "settings/settings_store.h"
#include "shell/app_state.h"
#include "shell/commands.h"
#include "shell/main_frame.h"
#include "shell/toolbar_art.h"
#include "ui/message_service.h"

#include <QFileDialog>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTableView>
#include <QTreeWidget>
#include <QVBoxLayout>

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

void addNode(QTreeWidgetItem* parent, QTreeWidget* tree, const DecodeNode& node) {
    auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(tree);
    item->setText(0, node.text);
    const int image = int(node.image());
    if (image >= 0 && image < treeIcons().size())
        item->setIcon(0, treeIcons()[image]);
    for (const DecodeNode& child : node.children)
        addNode(item, tree, child);
    item->setExpanded(node.expandedInitially());
}

QFrame* separator(QFrame::Shape shape, QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(shape);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}
} // namespace

CCaptureDecodeView::CCaptureDecodeView(QWidget* parent)
    : CView(view::CaptureDecode, parent)
    , m_model(m_store)
    , m_session(CaptureWindow::CaptureDecodeView) {
    m_filter = SettingsStore().string(setting::filter);
    m_linkSpeed = linkSpeedBps(app::selectedAdapter());

    // A fixed-pitch face so the hex dump lines up.
    QFont font(QStringLiteral("Courier New"));
    font.setStyleHint(QFont::TypeWriter);
    font.setPointSize(8);
    setFont(font);

    m_list = new QTableView(this);
    m_list->setModel(&m_model);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setShowGrid(false);
    m_list->setWordWrap(false);
    m_list->setAlternatingRowColors(true);
    m_list->verticalHeader()->hide();
    // Every row has one height: the list never measures rows one by one.
    m_list->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_list->verticalHeader()->setDefaultSectionSize(m_list->fontMetrics().height() + 4);
    m_list->horizontalHeader()->setHighlightSections(false);
    m_list->horizontalHeader()->setStretchLastSection(true);
    for (int c = 0; c < CaptureListModel::ColumnCount; ++c)
        m_list->setColumnWidth(c, CaptureListModel::columnWidth(c));

    m_tree = new QTreeWidget(this);
    m_tree->setHeaderHidden(true);
    m_tree->setRootIsDecorated(true);
    m_tree->setDragDropMode(QAbstractItemView::NoDragDrop);

    m_dump = new QPlainTextEdit(this);
    m_dump->setReadOnly(true);
    m_dump->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_dump->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    auto* lower = new QHBoxLayout;
    lower->addWidget(m_tree, 248);
    lower->addWidget(separator(QFrame::VLine, this));
    lower->addWidget(m_dump, 305);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(m_list, 177);
    layout->addWidget(separator(QFrame::HLine, this));
    layout->addLayout(lower, 173);

    // Enter on a row shows it as a double-click does.
    connect(m_list, &QAbstractItemView::activated, this,
            [this](const QModelIndex& index) { showFrame(index.row()); });

    m_session.setFileReplay(FileReplay::AsFastAsPossible);
    m_session.setHandler([this](const pcap_pkthdr& header, const std::uint8_t* bytes) {
        m_store.append(frameHeaderFrom(header), bytes);
    });

    m_saveChooser = [](QWidget* parent) {
        return QFileDialog::getSaveFileName(parent, QStringLiteral("Save Captured Frames"),
                                            QString(),
                                            QStringLiteral("pcap capture files (*.pcap)"));
    };

    m_filterWizard = [](QWidget* parent) {
        // A new wizard each time: nothing of a previous run is remembered.
        CFilterWizard wizard(app::selectedAdapter(), parent);
        return wizard.run();
    };

    m_timer.setInterval(100);
    connect(&m_timer, &QTimer::timeout, this, &CCaptureDecodeView::tick);
}

CCaptureDecodeView::~CCaptureDecodeView() {
    m_timer.stop();
    m_session.stop();
}

void CCaptureDecodeView::onInitialUpdate(CMainFrame* frame) {
    m_frame = frame;
    m_timer.start();
    start();
}

bool CCaptureDecodeView::start() {
    if (m_session.isRunning())
        return true;
    m_session.setFilter(m_filter);
    m_reportedEnd = false;
    const CaptureStartResult result = m_session.start();
    if (!result.ok() && result.status != CaptureStatus::OpenFailed) {
        // The session reports a failed open itself; a filter libpcap rejects
        // would otherwise go unnoticed, with nothing captured.
        MessageService::message(QStringLiteral("The capture filter \"") + m_filter +
                                    QStringLiteral("\" cannot be used:\n") + result.error,
                                QStringLiteral("Error"), MessageService::Icon::Error);
    }
    setButtons();
    if (m_frame)
        m_frame->setLinkSpeedText(linkSpeedText(m_linkSpeed));
    return result.ok();
}

void CCaptureDecodeView::stop() {
    m_session.stop();
    tick(); // frames stored before the stop are listed too
    setButtons();
}

void CCaptureDecodeView::setButtons() {
    if (!m_frame)
        return;
    if (m_session.isRunning())
        m_frame->setViewButtons(
            {{cmd::Stop, viewimage::Stop}, {cmd::AddressBookPlus, viewimage::AddressBookPlus}});
    else
        m_frame->setViewButtons(
            {{cmd::Start, viewimage::Start}, {cmd::AddressBookPlus, viewimage::AddressBookPlus}});
}

bool CCaptureDecodeView::onCommand(int command) {
    switch (command) {
    case cmd::Start:
        start();
        return true;
    case cmd::Stop:
        stop();
        return true;
    case cmd::SaveFrames:
        saveCommand();
        return true;
    case cmd::AddressBookPlus:
        filterCommand();
        return true;
    default:
        return false;
    }
}

bool CCaptureDecodeView::isCommandEnabled(int command) const {
    switch (command) {
    case cmd::Start:
        return !m_session.isRunning();
    case cmd::Stop:
        return m_session.isRunning();
    case cmd::SaveFrames:
        return m_store.size() > 0;
    case cmd::AddressBookPlus:
        return true;
    default:
        return false;
    }
}

void CCaptureDecodeView::tick() {
    QScrollBar* bar = m_list->verticalScrollBar();
    // Follow new frames only when the operator is at the end of the list.
    const bool atEnd = bar->value() >= bar->maximum();
    if (m_model.refresh() > 0 && atEnd && m_list->selectionModel()->selectedRows().isEmpty())
        m_list->scrollToBottom();
    if (!m_reportedEnd && m_frame && m_session.loopEnd() != LoopEnd::Running) {
        m_reportedEnd = true;
        const QString text =
            m_session.loopEnd() == LoopEnd::EndOfFile
                ? QStringLiteral("End of capture file: %1 frames").arg(m_store.size())
                : QStringLiteral("Capture stopped: ") + m_session.loopError();
        m_frame->showStatusMessage(text);
    }
}

void CCaptureDecodeView::clearAll() {
    m_model.reset();
    m_store.clear();
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
    if (row < 0 || std::size_t(row) >= m_store.size())
        return;
    const FrameStore::Frame f = m_store.at(std::size_t(row));
    // The dump's lines end in CR LF, as scripts receive them; the box shows lines.
    QString dump = hexDump(f.header, f.bytes);
    dump.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (dump.endsWith(QLatin1Char('\n')))
        dump.chop(1);
    m_dump->setPlainText(dump);
    m_tree->clear();
    addNode(nullptr, m_tree, decodeFrame(f.header, f.bytes));
}

void CCaptureDecodeView::setSaveFileChooser(std::function<QString(QWidget*)> chooser) {
    m_saveChooser = std::move(chooser);
}

void CCaptureDecodeView::saveCommand() {
    const QString path = m_saveChooser ? m_saveChooser(this) : QString();
    if (!path.isEmpty())
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
    if (m_frame)
        m_frame->showStatusMessage(QStringLiteral("%1 frames saved to ").arg(count) + path);
    return true;
}
