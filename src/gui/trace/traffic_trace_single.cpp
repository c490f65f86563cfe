#include "gui/trace/traffic_trace_single.h"

#include "core/addressbook/address_book_messages.h"
#include "core/app/commands.h"
#include "core/app/message_service.h"
#include "core/app/settings_store.h"
#include "core/trace/trace_colours.h"
#include "gui/widgets/mask_edit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPixmap>
#include <QToolButton>
#include <QToolTip>
#include <QVBoxLayout>

#include <algorithm>
#include <array>

using namespace qarsilo;

namespace {

const QString kMacTemplate = QStringLiteral("__:__:__:__:__:__");

// The layer this run used last: kept when the settings hold none.
int g_lastLayer = 0;

// Copies the board's image; everything on the board is drawn there first.
class BoardWindow final : public QWidget {
public:
    BoardWindow(const TraceBoard& board, QWidget* parent)
        : QWidget(parent)
        , m_board(board) {
        setFixedSize(board.size());
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.drawImage(QPoint(0, 0), m_board.image());
    }
    // A label elided on the board shows in full over its node.
    bool event(QEvent* event) override {
        if (event->type() == QEvent::ToolTip) {
            const auto* help = static_cast<QHelpEvent*>(event);
            const QString label = m_board.labelAt(help->pos());
            if (label.isEmpty())
                QToolTip::hideText();
            else
                QToolTip::showText(help->globalPos(), label, this);
            return true;
        }
        return QWidget::event(event);
    }

private:
    const TraceBoard& m_board;
};

// The bitmap of the address button: a small open book.
QPixmap addressButtonArt() {
    QImage image(20, 16, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.fillRect(1, 1, 8, 14, QColor(0x80, 0x00, 0x00));
    p.fillRect(11, 1, 8, 14, QColor(0x80, 0x00, 0x00));
    p.fillRect(2, 2, 6, 12, Qt::white);
    p.fillRect(12, 2, 6, 12, Qt::white);
    p.setPen(Qt::gray);
    for (int y = 4; y < 13; y += 3) {
        p.drawLine(3, y, 6, y);
        p.drawLine(13, y, 16, y);
    }
    return QPixmap::fromImage(image);
}

bool macFieldEmpty(const QString& text) {
    return text.isEmpty() || text == kMacTemplate;
}

} // namespace

CTrafficTraceSingle::CTrafficTraceSingle(QWidget* parent)
    : CCaptureView(view::TraceSingle, StartStop::Both, {}, parent)
    , m_board(kBoardSize, qGuiApp ? qGuiApp->devicePixelRatio() : 1.0)
    , m_animator(m_board, m_model)
    , m_session(CaptureWindow::TrafficTraceSingle) {
    setFont(QFont(QStringLiteral("MS Sans Serif"), 8));

    m_boardWnd = new BoardWindow(m_board, this);
    m_mac = new CMaskEdit(this);
    m_mac->setUp(CMaskEdit::kMacMask, CMaskEdit::kMacTemplate, kMacTemplate);
    m_mac->setExtraCharacters(CMaskEdit::kHexLetters);
    m_addr = new QToolButton(this);
    m_addr->setText(QStringLiteral("addr"));
    m_addr->setToolTip(QStringLiteral("Pick the node from the address book"));
    m_layer = new QComboBox(this);
    m_nodeLife = new QLineEdit(this);
    m_pathLifeEdit = new QLineEdit(this);
    m_useName = new QCheckBox(QStringLiteral("Use name if in Address Book"), this);
    m_showPackets = new QCheckBox(QStringLiteral("Show packets"), this);
    m_log = new QListWidget(this);
    m_log->setSelectionMode(QAbstractItemView::NoSelection);
    m_log->setFocusPolicy(Qt::StrongFocus);
    m_legend = new QLabel(this);
    m_legend->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    auto* macRow = new QHBoxLayout;
    macRow->addWidget(m_mac, 1);
    macRow->addWidget(m_addr);
    auto* options = new QGridLayout;
    auto* nodeLifeLabel = new QLabel(QStringLiteral("Node Life:"), this);
    auto* pathLifeLabel = new QLabel(QStringLiteral("Path Life:"), this);
    nodeLifeLabel->setBuddy(m_nodeLife);
    pathLifeLabel->setBuddy(m_pathLifeEdit);
    options->addWidget(nodeLifeLabel, 0, 0);
    options->addWidget(m_nodeLife, 0, 1);
    options->addWidget(pathLifeLabel, 1, 0);
    options->addWidget(m_pathLifeEdit, 1, 1);
    auto* layerLabel = new QLabel(QStringLiteral("Layer:"), this);
    layerLabel->setBuddy(m_layer);

    auto* side = new QVBoxLayout;
    side->addWidget(new QLabel(QStringLiteral("Settings"), this));
    side->addLayout(macRow);
    side->addWidget(layerLabel);
    side->addWidget(m_layer);
    side->addWidget(new QLabel(QStringLiteral("Options:"), this));
    side->addLayout(options);
    side->addWidget(m_useName);
    side->addWidget(m_showPackets);
    side->addWidget(new QLabel(QStringLiteral("Info:"), this));
    side->addWidget(m_log, 1);
    side->addWidget(m_legend);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(m_boardWnd, 0, Qt::AlignTop);
    layout->addLayout(side, 1);

    m_session.setHandler([this](const pcap_pkthdr& header, const std::uint8_t* bytes) {
        m_model.handleFrame(bytes, header.caplen);
    });

    m_tick.setInterval(1000);
    connect(&m_tick, &QTimer::timeout, this, &CTrafficTraceSingle::tick);
    m_animTimer.setSingleShot(true);
    m_animTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_animTimer, &QTimer::timeout, this, &CTrafficTraceSingle::animate);
    m_clock.start();
}

CTrafficTraceSingle::~CTrafficTraceSingle() {
    m_tick.stop();
    m_animTimer.stop();
    detachHost(); // the frame may be going too
    stop();
    m_model.setAnimationsAllowed(false);
    m_animator.endAll();
    // Animations queued but never started are counted as running too.
    for (const TraceEvent& e : m_model.takeEvents())
        if (e.animate)
            m_model.animationEnded();
}

void CTrafficTraceSingle::onInitialUpdate() {
    m_addr->setIcon(addressButtonArt());
    m_addr->setToolButtonStyle(Qt::ToolButtonIconOnly);

    QString mac;
    SettingsStore().readString(setting::macAddress, mac);
    // A text that is no address (another program's value) leaves the field empty.
    if (const std::optional<MacAddress> parsed = parseMacAddress(mac.trimmed()))
        m_mac->setUp(CMaskEdit::kMacMask, CMaskEdit::kMacTemplate, macAddressText(*parsed));

    for (int i = 0; i < kTraceLayerCount; ++i)
        m_layer->addItem(traceLayerName(i));
    quint32 stored = 0;
    if (SettingsStore().readNumber(setting::layer, stored) && stored < kTraceLayerCount)
        g_lastLayer = static_cast<int>(stored);
    m_layer->setCurrentIndex(g_lastLayer);
    m_model.setLayer(g_lastLayer);
    m_legend->setPixmap(QPixmap::fromImage(traceLegendImage(g_lastLayer)));

    m_nodeLife->setText(QStringLiteral("5"));
    m_pathLifeEdit->setText(QStringLiteral("10"));
    m_useName->setChecked(true);
    m_showPackets->setChecked(true);
    readFields(false);
    m_model.table().clear();

    connect(m_layer, &QComboBox::currentIndexChanged, this, &CTrafficTraceSingle::layerChanged);
    connect(m_useName, &QCheckBox::toggled, this, &CTrafficTraceSingle::useNameChanged);
    connect(m_showPackets, &QCheckBox::toggled, this, [this] { readFields(false); });
    // Values apply as they are typed; what is wrong is said when the operator
    // leaves the field, not at every keystroke.
    for (QLineEdit* field : {m_nodeLife, m_pathLifeEdit}) {
        connect(field, &QLineEdit::textChanged, this, [this] { readFields(false); });
        connect(field, &QLineEdit::editingFinished, this, [this] { readFields(true); });
    }
    connect(m_addr, &QToolButton::clicked, this, &CTrafficTraceSingle::pickNode);

    addLog(QStringLiteral("Networktrace Started"));
    setButtons();
}

bool CTrafficTraceSingle::readNumber(QLineEdit* field, int low, int high, int& value, bool report) {
    bool ok = false;
    const int typed = field->text().trimmed().toInt(&ok);
    if (!ok) {
        if (report) {
            // The field shows the value in use again before the box opens:
            // the focus leaving for the box (or Start) must not say it twice.
            field->setText(QString::number(value));
            MessageService::message(QStringLiteral("Please enter an integer."), {},
                                    MessageService::Icon::Warning);
        }
        return false;
    }
    if (typed < low || typed > high) {
        // A value outside the range would stall the animations or leave no
        // peer its place: the nearest bound is used, and shown.
        value = std::clamp(typed, low, high);
        if (report) {
            field->setText(QString::number(value));
            MessageService::message(
                QStringLiteral("Please enter an integer between %1 and %2.").arg(low).arg(high), {},
                MessageService::Icon::Warning);
        }
        return false;
    }
    value = typed;
    return true;
}

void CTrafficTraceSingle::readFields(bool report) {
    readNumber(m_nodeLife, 2, 10, m_nodeLifeValue, report);
    readNumber(m_pathLifeEdit, 1, 1000, m_pathLife, report);
    m_model.setNodeLife(m_nodeLifeValue);
    m_model.setShowPackets(m_showPackets->isChecked());
}

void CTrafficTraceSingle::loadNames() {
    addLog(QStringLiteral("Loading Addresses"));
    AddressNames names;
    AddressDatabase db;
    if (openAddressBook(db)) {
        if (!db.forEachNode([&names](const NodeRecord& n) { names.add(n.mac, n.name); }))
            reportReadFailure(db); // the names read so far stay
    }
    m_model.table().setNames(std::move(names));
}

bool CTrafficTraceSingle::start() {
    readFields(true);
    m_model.setAnimationsAllowed(true);
    const QString field = m_mac->text();
    if (m_running) {
        SettingsStore().writeString(setting::macAddress, field);
        return true;
    }
    if (macFieldEmpty(field)) {
        MessageService::message(QStringLiteral("Please Select node to monitor"),
                                QStringLiteral("Info"), MessageService::Icon::Warning);
        return false;
    }
    const std::optional<MacAddress> mac = parseMacAddress(field);
    if (!mac) {
        // A half-typed address would make a filter that matches nothing.
        MessageService::message(QStringLiteral("The MAC address %1 is not complete.").arg(field),
                                QStringLiteral("Info"), MessageService::Icon::Warning);
        return false;
    }
    // A new start watches afresh: the peers of an earlier run are gone from
    // the cleared board, so they leave the table too.
    m_model.table().clear();
    m_model.table().setNames({});
    if (m_useName->isChecked())
        loadNames();

    m_monitoredMac = macAddressText(*mac);
    m_model.setMonitored(*mac);
    m_model.resetCounts();
    m_session.setFilter(QStringLiteral("ether host ") + m_monitoredMac);
    if (host())
        host()->setCaptureFilters({m_session.filterText()});
    const CaptureStartResult result = m_session.start();
    if (result.ok()) {
        m_running = true;
        m_monitoredLabel = m_model.table().label(*mac);
        m_tick.start();
        scheduleAnimation();
    } else if (result.status != CaptureStatus::OpenFailed) {
        // The session tells a failed open itself; a refused filter would
        // otherwise leave the board silent.
        MessageService::message(QStringLiteral("Error opening selected adapter"),
                                QStringLiteral("Error"), MessageService::Icon::Error);
    }
    addLog(QStringLiteral("Monitoring ") + field);
    m_board.clear();
    m_board.drawHeader(field, m_model.table().label(*mac));
    flushBoard();
    SettingsStore().writeString(setting::macAddress, field);
    setButtons();
    return m_running;
}

void CTrafficTraceSingle::stop() {
    if (!m_running)
        return;
    addLog(QStringLiteral("Capture stopped"));
    m_session.stop();
    m_running = false;
    // The capture thread has ended: what it queued is drawn now, so nothing
    // of this run is left over for the next.
    drawQueued();
    m_board.writeStatus(QStringLiteral("Stopped"));
    flushBoard();
    scheduleAnimation();
    setButtons();
}

void CTrafficTraceSingle::pickNode() {
    m_model.setAnimationsAllowed(false);
    stop();
    const PickedNode picked = m_picker ? m_picker(this) : PickedNode();
    if (picked.mac == QLatin1String("none"))
        return;
    const std::optional<MacAddress> mac = parseMacAddress(picked.mac.trimmed());
    m_mac->setUp(CMaskEdit::kMacMask, CMaskEdit::kMacTemplate,
                 mac ? macAddressText(*mac) : picked.mac);
    m_model.setAnimationsAllowed(true);
    start();
}

void CTrafficTraceSingle::layerChanged(int layer) {
    if (layer < 0 || layer >= kTraceLayerCount)
        return;
    g_lastLayer = layer;
    m_model.setLayer(layer);
    for (const SideNode& node : m_model.table().entries())
        m_board.drawPath(node.slot, 0x000000);
    SettingsStore().writeNumber(setting::layer, static_cast<quint32>(layer));
    m_legend->setPixmap(QPixmap::fromImage(traceLegendImage(layer)));
    const QString field = m_mac->text();
    const std::optional<MacAddress> mac = parseMacAddress(field);
    m_board.drawHeader(field, mac ? m_model.table().label(*mac) : field);
    flushBoard();
}

void CTrafficTraceSingle::useNameChanged() {
    readFields(false);
    if (m_useName->isChecked())
        loadNames();
    else
        m_model.table().setNames({});
    if (m_running)
        m_monitoredLabel = m_model.table().label(m_model.monitored());
}

void CTrafficTraceSingle::drawQueued() {
    std::vector<TraceEvent> events = m_model.takeEvents();
    if (events.empty())
        return;
    const qint64 now = m_clock.elapsed();
    bool reported[2] = {false, false};
    // A slot's path and node are drawn once per batch, in its last frame's
    // colour: what an earlier frame drew would be covered at once.
    std::array<const TraceEvent*, kTraceSlots> last{};
    for (const TraceEvent& e : events) {
        if (e.slot < 0) {
            // Said once per batch: a burst would bury the log otherwise.
            const int which = e.direction == TraceDirection::Out ? 0 : 1;
            if (!reported[which])
                addLog(QStringLiteral("DEBUG: Checkinlist error %1").arg(which + 1));
            reported[which] = true;
            continue;
        }
        last[static_cast<std::size_t>(e.slot)] = &e;
    }
    for (const TraceEvent* e : last) {
        if (!e)
            continue;
        m_board.drawPath(e->slot, e->rgb);
        m_board.drawSideNode(e->slot, e->label);
    }
    for (const TraceEvent& e : events)
        if (e.animate)
            m_animator.start(e.slot, e.direction, e.rgb, m_pathLife, now);
}

void CTrafficTraceSingle::animate() {
    drawQueued();
    m_animator.advance(m_clock.elapsed());
    flushBoard();
    scheduleAnimation();
}

void CTrafficTraceSingle::scheduleAnimation() {
    // Frames are picked up every 10 ms; animation steps when they are due.
    constexpr qint64 kPoll = 10;
    qint64 wait = m_running ? kPoll : -1;
    const qint64 due = m_animator.nextDue();
    if (due >= 0)
        wait = std::clamp<qint64>(due - m_clock.elapsed(), 0, kPoll);
    if (wait < 0 && m_model.animations() == 0)
        return; // nothing captures and nothing moves
    m_animTimer.start(static_cast<int>(std::max<qint64>(wait, 0)));
}

void CTrafficTraceSingle::tick() {
    drawQueued();
    m_board.drawHeader(m_monitoredLabel, m_monitoredMac);
    if (const std::optional<std::vector<int>> removed = m_model.age()) {
        for (int slot : *removed) {
            m_board.eraseSideNode(slot);
            m_board.drawPath(slot, 0xFFFFFF);
        }
    }
    flushBoard();
}

void CTrafficTraceSingle::flushBoard() {
    const QRect changed = m_board.takeChanged();
    if (!changed.isEmpty())
        m_boardWnd->update(changed);
}

void CTrafficTraceSingle::addLog(const QString& line) {
    // A long watch must not grow the log without end.
    constexpr int kMaxLines = 5000;
    if (m_log->count() >= kMaxLines)
        delete m_log->takeItem(0);
    m_log->addItem(QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss")) +
                   QStringLiteral(" : ") + line);
    m_log->scrollToBottom();
}

QStringList CTrafficTraceSingle::logLines() const {
    QStringList out;
    for (int i = 0; i < m_log->count(); ++i)
        out << m_log->item(i)->text().mid(11);
    return out;
}
