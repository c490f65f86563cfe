#include "gui/stats/talk_view.h"

#include "core/addressbook/address_database.h"
#include "core/app/app_state.h"
#include "core/app/commands.h"
#include "core/app/message_service.h"
#include "core/app/settings_store.h"
#include "core/capture/adapter_name.h"
#include "core/discovery/oui_table.h"
#include "core/lists/csv_writer.h"
#include "core/stats/single_node_stats.h"
#include "gui/stats/talk_table.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDateTime>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSaveFile>
#include <QShortcut>
#include <QTabWidget>
#include <QVBoxLayout>

using namespace qarsilo;

namespace {

constexpr const char* kTypeNames[] = {"Ethernet", "IPv4", "IPv6", "TCP", "UDP"};

CTalkView::FileChooser& exportChooser() {
    static CTalkView::FileChooser chooser;
    return chooser;
}

TalkTables::Options tableOptions(CTalkView::Mode mode) {
    TalkTables::Options o;
    o.conversations = mode == CTalkView::Mode::Conversations;
    o.endpoints = !o.conversations;
    quint32 limit = kDefaultTalkRowLimit;
    SettingsStore().readNumber(setting::talkRowLimit, limit);
    o.rowLimit = limit;
    return o;
}

// The station's MAC address of an IPv4 address (host order) as the address book has it.
quint32 ipv4Key(const TalkAddress& a) {
    return quint32(a.bytes[0]) << 24 | quint32(a.bytes[1]) << 16 | quint32(a.bytes[2]) << 8 |
           a.bytes[3];
}

} // namespace

CTalkView::CTalkView(Mode mode, QWidget* parent)
    : CCaptureView(mode == Mode::Conversations ? view::Conversations : view::Endpoints,
                   StartStop::Toggle, {}, parent)
    , m_mode(mode)
    , m_tables(std::make_unique<TalkTables>(tableOptions(mode)))
    , m_session(CaptureWindow::TalkView) {
    m_session.setHandler([this](const pcap_pkthdr& h, const std::uint8_t* b) {
        if (m_fileReplay)
            m_stamps.frame(h.ts.tv_sec);
        // One capture thread writes it.
        m_frames.store(m_frames.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
        m_tables->add(h, b);
    });
    buildLayout();
    loadNames();
    quint32 resolve = 1;
    SettingsStore().readNumber(setting::resolveNames, resolve);
    m_resolve->setChecked(resolve != 0);
    applyResolveNames(resolve != 0);

    m_pickTimer.setObjectName(QStringLiteral("pickUp"));
    m_pickTimer.setInterval(250 / kTalkTypeCount);
    connect(&m_pickTimer, &QTimer::timeout, this, &CTalkView::pickUpLater);
}

CTalkView::~CTalkView() {
    m_pickTimer.stop();
    m_session.stop();
    if (m_fetch.valid())
        m_fetch.wait();
}

QString CTalkView::tabTitle(TalkType type, std::size_t rows) {
    return QStringLiteral("%1 (%2)").arg(QLatin1String(kTypeNames[static_cast<int>(type)]),
                                         groupedNumber(rows));
}

void CTalkView::buildLayout() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    auto* bar = new QHBoxLayout;
    auto* filterLabel = new QLabel(QStringLiteral("&Filter:"), this);
    m_filter = new QLineEdit(this);
    m_filter->setPlaceholderText(QStringLiteral("Address or name (Ctrl+F; Escape clears)"));
    m_filter->setClearButtonEnabled(true);
    m_filter->setAccessibleName(QStringLiteral("Filter"));
    filterLabel->setBuddy(m_filter);
    m_resolve = new QCheckBox(QStringLiteral("&Resolve names"), this);
    m_resolve->setToolTip(
        QStringLiteral("Show the address book's names beside MAC and IPv4 addresses"));
    m_clear = new QPushButton(QStringLiteral("C&lear"), this);
    m_clear->setToolTip(QStringLiteral("Forget every row counted so far"));
    bar->addWidget(filterLabel);
    bar->addWidget(m_filter, 1);
    bar->addWidget(m_resolve);
    bar->addWidget(m_clear);
    layout->addLayout(bar);

    m_tabs = new QTabWidget(this);
    layout->addWidget(m_tabs, 1);
    const bool conversations = m_mode == Mode::Conversations;
    for (int t = 0; t < kTalkTypeCount; ++t) {
        const auto type = static_cast<TalkType>(t);
        auto* model = new TalkModel(*m_tables, type, conversations, this);
        model->setMacDescriber([](const QString& mac) { return OuiTable::system().describe(mac); });
        auto* table = new CTalkTable(model, m_tabs);
        QHeaderView* header = table->horizontalHeader();
        header->setSortIndicator(-1, Qt::AscendingOrder);
        header->setSortIndicatorShown(true);
        table->view()->setSortingEnabled(true);
        header->setHighlightSections(false);
        const QFontMetrics fm(font());
        for (int c = 0; c < model->columnCount(); ++c) {
            const TalkModel::Kind k = model->kind(c);
            QString sample = QStringLiteral("000,000,000");
            if (k == TalkModel::AddressA || k == TalkModel::AddressB)
                sample = type == TalkType::Ethernet ? QStringLiteral("00:00:00:00:00:00")
                         : type == TalkType::IPv4   ? QStringLiteral("000.000.000.000")
                         : type == TalkType::IPv6   ? QStringLiteral("0000:0000:0000::0000:0000")
                                                  : QStringLiteral("[0000:0000::0000:0000]:00000");
            else if (k == TalkModel::NameA || k == TalkModel::NameB)
                sample = QStringLiteral("NETBIOSNAME00");
            else if (k == TalkModel::FirstSeen ||
                     (k == TalkModel::DurationOrLast && !conversations))
                sample = QStringLiteral("0000-00-00 00:00:00.000");
            const int title = fm.horizontalAdvance(model->headerData(c, Qt::Horizontal).toString());
            header->resizeSection(c, std::max(fm.horizontalAdvance(sample), title + 24) + 12);
        }
        // The busiest rows first, as the command line lists them.
        for (int c = 0; c < model->columnCount(); ++c)
            if (model->kind(c) == TalkModel::Bytes)
                table->sortByColumn(c, Qt::DescendingOrder);
        connect(
            table, &CTalkTable::rowMenuRequested, this,
            [this, t](int row, int column, const QPoint& at) { showRowMenu(t, row, column, at); });
        auto* copy =
            new QShortcut(QKeySequence::Copy, table->view(), nullptr, nullptr, Qt::WidgetShortcut);
        connect(copy, &QShortcut::activated, this,
                [this, t] { QApplication::clipboard()->setText(selectedText(t)); });
        connect(model, &TalkModel::tableRowsChanged, this, [this, t, model] {
            m_tabs->setTabText(t, tabTitle(static_cast<TalkType>(t), model->tableRows()));
        });
        m_models[static_cast<std::size_t>(t)] = model;
        m_tableViews[static_cast<std::size_t>(t)] = table;
        m_tabs->addTab(table, tabTitle(type, 0));
    }

    // The view's focus goes to the shown table, where Ctrl+Tab and
    // Ctrl+Shift+Tab change tabs and the context menu key opens a row's menu.
    setFocusProxy(m_tableViews[0]);
    connect(m_tabs, &QTabWidget::currentChanged, this, [this](int tab) {
        if (tab >= 0 && tab < kTalkTypeCount)
            setFocusProxy(m_tableViews[static_cast<std::size_t>(tab)]);
    });
    // The lists keep Tab for themselves: the tab keys are shortcuts of the view.
    auto stepTab = [this](int step) {
        m_tabs->setCurrentIndex((m_tabs->currentIndex() + step + kTalkTypeCount) % kTalkTypeCount);
        m_tableViews[static_cast<std::size_t>(m_tabs->currentIndex())]->setFocus();
    };
    const QKeySequence next[] = {QKeySequence(Qt::CTRL | Qt::Key_Tab),
                                 QKeySequence(Qt::CTRL | Qt::Key_PageDown)};
    const QKeySequence previous[] = {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab),
                                     QKeySequence(Qt::CTRL | Qt::Key_Backtab),
                                     QKeySequence(Qt::CTRL | Qt::Key_PageUp)};
    for (const QKeySequence& key : next)
        connect(new QShortcut(key, this, nullptr, nullptr, Qt::WidgetWithChildrenShortcut),
                &QShortcut::activated, this, [stepTab] { stepTab(1); });
    for (const QKeySequence& key : previous)
        connect(new QShortcut(key, this, nullptr, nullptr, Qt::WidgetWithChildrenShortcut),
                &QShortcut::activated, this, [stepTab] { stepTab(-1); });
    connect(m_filter, &QLineEdit::textChanged, this, [this](const QString& text) {
        for (TalkModel* m : m_models)
            m->setFilterText(text);
    });
    auto* focusFilter =
        new QShortcut(QKeySequence::Find, this, nullptr, nullptr, Qt::WidgetWithChildrenShortcut);
    connect(focusFilter, &QShortcut::activated, this, [this] {
        m_filter->setFocus();
        m_filter->selectAll();
    });
    auto* clearFilter =
        new QShortcut(QKeySequence(Qt::Key_Escape), m_filter, nullptr, nullptr, Qt::WidgetShortcut);
    connect(clearFilter, &QShortcut::activated, m_filter, &QLineEdit::clear);
    connect(m_resolve, &QCheckBox::toggled, this, [this](bool on) {
        SettingsStore().writeNumber(setting::resolveNames, on ? 1 : 0);
        applyResolveNames(on);
    });
    connect(m_clear, &QPushButton::clicked, this, &CTalkView::clear);
}

void CTalkView::loadNames() {
    auto names = std::make_shared<TalkNames>();
    AddressDatabase db;
    if (!db.open()) {
        MessageService::message(db.lastError());
        m_names = names;
        return;
    }
    db.forEachNode([&](const NodeRecord& n) {
        const std::optional<MacBytes> mac = parseMac(n.mac);
        quint32 ip = 0;
        bool haveIp = false;
        const QStringList parts = n.ip.trimmed().split(QLatin1Char('.'));
        if (parts.size() == 4) {
            haveIp = true;
            for (const QString& p : parts) {
                bool ok = false;
                const uint v = p.toUInt(&ok);
                haveIp = haveIp && ok && v < 256;
                ip = ip << 8 | v;
            }
        }
        if (mac && !n.name.isEmpty() && n.name != QLatin1String("-"))
            names->byMac.insert(TalkNames::macKey(mac->data()), n.name);
        if (haveIp) {
            if (!n.name.isEmpty() && n.name != QLatin1String("-"))
                names->byIpv4.insert(ip, n.name);
            if (mac)
                m_macByIpv4.insert(ip, macText(*mac));
        }
    });
    db.close();
    m_names = names;
}

void CTalkView::applyResolveNames(bool on) {
    for (int t = 0; t < kTalkTypeCount; ++t) {
        TalkModel* m = m_models[static_cast<std::size_t>(t)];
        m->setNames(on ? m_names : nullptr);
        // Names exist for MAC and IPv4 addresses (and their ports).
        const bool shown = on && static_cast<TalkType>(t) != TalkType::IPv6;
        for (TalkModel::Kind k : {TalkModel::NameA, TalkModel::NameB})
            if (const int c = m->column(k); c >= 0)
                m_tableViews[static_cast<std::size_t>(t)]->setColumnHidden(c, !shown);
    }
}

void CTalkView::onInitialUpdate() {
    start();
    m_pickTimer.start();
}

bool CTalkView::start() {
    if (m_session.isRunning())
        return true;
    m_fileReplay = isCaptureFileAdapter(app::selectedAdapter());
    if (m_fileReplay) {
        // A capture file is read again from its start: its totals afresh.
        clear();
        m_session.setFileReplay(FileReplay::AsFastAsPossible);
    }
    m_stamps.reset();
    m_endAdvanced = false;
    m_advanced = 0;
    if (host())
        host()->setCaptureFilters({QString()});
    const bool ok = m_session.start().ok();
    setButtons();
    updateStatus();
    return ok;
}

void CTalkView::stop() {
    // The timer goes on taking what the capture counted last.
    m_session.stop();
    setButtons();
}

void CTalkView::clear() {
    m_tables->clear();
    m_frames.store(0, std::memory_order_relaxed);
    pickUp();
}

qint64 CTalkView::advanceSecond() {
    qint64 second = 0;
    if (m_fileReplay) {
        // The rates follow the file's clock; at its end its last second counts too.
        if (m_stamps.started() && !m_endAdvanced) {
            const bool ended = m_session.loopEnd() != LoopEnd::Running;
            second = m_stamps.newest() + (ended ? 1 : 0);
            m_endAdvanced = ended;
        }
    } else if (m_session.isRunning()) {
        second = QDateTime::currentSecsSinceEpoch();
    }
    if (second == 0 || second == m_advanced)
        return 0;
    m_advanced = second;
    return second;
}

CTalkView::Fetched CTalkView::fetch(TalkTables& tables, bool conversations, qint64 second,
                                    int type) {
    if (second > 0)
        tables.advanceTo(second);
    Fetched f;
    for (int t = 0; t < kTalkTypeCount; ++t) {
        if (type >= 0 && t != type)
            continue;
        const auto type = static_cast<TalkType>(t);
        if (conversations)
            f.conv[static_cast<std::size_t>(t)] = tables.conversationChanges(type);
        else
            f.ends[static_cast<std::size_t>(t)] = tables.endpointChanges(type);
    }
    return f;
}

void CTalkView::deliver(Fetched&& f) {
    for (int t = 0; t < kTalkTypeCount; ++t) {
        const auto at = static_cast<std::size_t>(t);
        // Tables not taken this time have nothing to apply.
        auto none = [](const auto& c) { return !c.cleared && c.ids.empty() && c.folded.empty(); };
        if (m_mode == Mode::Conversations) {
            if (!none(f.conv[at]))
                m_models[at]->queueChanges(std::move(f.conv[at]));
        } else if (!none(f.ends[at])) {
            m_models[at]->queueChanges(std::move(f.ends[at]));
        }
    }
}

void CTalkView::pickUpLater() {
    if (m_fetch.valid()) {
        if (m_fetch.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
            return;
        deliver(m_fetch.get());
    }
    updateStatus();
    // The next batch waits until the models have applied the last one.
    for (TalkModel* m : m_models)
        if (m->applying())
            return;
    const int type = m_nextType;
    m_nextType = (m_nextType + 1) % kTalkTypeCount;
    m_fetch = std::async(std::launch::async, &CTalkView::fetch, std::ref(*m_tables),
                         m_mode == Mode::Conversations, advanceSecond(), type);
}

void CTalkView::pickUp() {
    if (m_fetch.valid())
        deliver(m_fetch.get());
    deliver(fetch(*m_tables, m_mode == Mode::Conversations, advanceSecond(), -1));
    for (TalkModel* m : m_models)
        m->finishQueued();
    updateStatus();
}

void CTalkView::updateStatus() {
    if (!host())
        return;
    QString text = QStringLiteral("Frames: %1").arg(groupedNumber(framesCounted()));
    if (m_fileReplay && m_session.loopEnd() == LoopEnd::EndOfFile)
        text += QStringLiteral(" (end of file)");
    host()->setViewStatusText(text);
}

QString CTalkView::stationOf(int tab, int row, int column) const {
    const TalkModel* m = model(tab);
    if (row < 0 || row >= m->rowCount() || m->isOther(row))
        return {};
    const TalkModel::Kind k = m->kind(column < 0 ? 0 : column);
    const bool sideB = k == TalkModel::AddressB || k == TalkModel::NameB;
    const TalkAddress a = sideB ? m->addressB(row) : m->addressA(row);
    if (a.family == 0)
        return talkAddressText(a, TalkType::Ethernet);
    if (a.family == 4)
        return m_macByIpv4.value(ipv4Key(a));
    return {};
}

QMenu* CTalkView::rowMenu(int tab, int row, int column) {
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("TalkRowMenu"));
    TalkModel* m = model(tab);
    const QString filter = m->displayFilter(row);
    QAction* show =
        menu->addAction(QStringLiteral("Show Frames in Analyzer"), this, [this, filter] {
            if (host())
                host()->showFramesInAnalyzerLater(filter);
        });
    show->setEnabled(!filter.isEmpty() && host() && host()->hasView(view::CaptureDecode));
    const QString station = stationOf(tab, row, column);
    auto handOn = [this, station](int target) {
        SettingsStore().writeString(setting::macAddress, station);
        if (!host())
            return;
        if (target == view::TraceSingle)
            host()->switchToViewAndStartLater(target);
        else
            host()->switchToViewLater(target);
    };
    QAction* single = menu->addAction(QStringLiteral("Single Node Statistics"), this,
                                      [handOn] { handOn(view::SingleNode); });
    QAction* trace =
        menu->addAction(QStringLiteral("Trace"), this, [handOn] { handOn(view::TraceSingle); });
    single->setEnabled(!station.isEmpty() && host() && host()->hasView(view::SingleNode));
    trace->setEnabled(!station.isEmpty() && host() && host()->hasView(view::TraceSingle));
    if (station.isEmpty()) {
        const QString why = QStringLiteral("No MAC address is known for this address");
        single->setToolTip(why);
        trace->setToolTip(why);
    } else {
        single->setText(QStringLiteral("Single Node Statistics (%1)").arg(station));
        trace->setText(QStringLiteral("Trace (%1)").arg(station));
    }
    menu->setToolTipsVisible(true);
    menu->addSeparator();
    menu->addAction(QStringLiteral("Copy"), this,
                    [this, tab] { QApplication::clipboard()->setText(selectedText(tab)); });
    menu->addAction(QStringLiteral("Export CSV..."), this, [this, tab] {
        const QString suggested =
            QStringLiteral("%1-%2.csv")
                .arg(m_mode == Mode::Conversations ? QStringLiteral("conversations")
                                                   : QStringLiteral("endpoints"),
                     QString::fromLatin1(kTypeNames[tab]).toLower());
        const QString path =
            exportChooser()
                ? exportChooser()(this, suggested)
                : QFileDialog::getSaveFileName(this, QStringLiteral("Export CSV"), suggested,
                                               QStringLiteral("CSV files (*.csv);;All files (*)"));
        if (!path.isEmpty())
            exportCsv(tab, path);
    });
    return menu;
}

void CTalkView::showRowMenu(int tab, int row, int column, const QPoint& global) {
    QMenu* menu = rowMenu(tab, row, column);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(global);
}

QString CTalkView::selectedText(int tab) const {
    const TalkModel* m = model(tab);
    const QList<int> rows = table(tab)->selectedRows();
    QString text;
    for (int r : rows)
        text += m->exportRow(r).join(QLatin1Char('\t')) + QLatin1Char('\n');
    return text;
}

bool CTalkView::exportCsv(int tab, const QString& path) {
    const TalkModel* m = model(tab);
    QSaveFile file(path);
    QString error;
    bool ok = file.open(QIODevice::WriteOnly);
    // Written in blocks; a table of a million rows is never held as texts at once.
    if (ok)
        ok = file.write("\xEF\xBB\xBF", 3) == 3;
    QByteArray block = csvRecord(m->columnTitles()).toUtf8();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    for (int r = 0; ok && r < m->rowCount(); ++r) {
        block += csvRecord(m->exportRow(r)).toUtf8();
        if (block.size() >= 64 * 1024) {
            ok = file.write(block) == block.size();
            block.clear();
        }
    }
    QApplication::restoreOverrideCursor();
    if (ok && !block.isEmpty())
        ok = file.write(block) == block.size();
    ok = ok && file.commit();
    if (!ok) {
        error = file.errorString();
        file.cancelWriting();
        MessageService::message(QStringLiteral("Cannot export to %1:\n%2").arg(path, error),
                                QString(), MessageService::Icon::Error);
        return false;
    }
    if (host())
        host()->showStatusMessage(
            QStringLiteral("%1 rows exported to %2").arg(groupedNumber(m->rowCount()), path));
    return true;
}

void CTalkView::setExportFileChooser(FileChooser chooser) {
    exportChooser() = std::move(chooser);
}
