#include "gui/analysis/filter_wizard_pages.h"

#include "gui/widgets/ip_address_edit.h"
#include "gui/widgets/mask_edit.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const QString kNoMac = QStringLiteral("00:00:00:00:00:00");
const QString kBroadcastMac = QStringLiteral("ff:ff:ff:ff:ff:ff");
const QString kNone = QStringLiteral("none");

QComboBox* directionList(QWidget* parent) {
    auto* list = new QComboBox(parent);
    list->addItems(
        {QString(), QStringLiteral("host"), QStringLiteral("dst"), QStringLiteral("src")});
    return list;
}

QCheckBox* checkBox(const char* text, QWidget* parent) {
    return new QCheckBox(QString::fromLatin1(text), parent);
}

QLabel* label(const char* text, QWidget* parent) {
    auto* l = new QLabel(QString::fromLatin1(text), parent);
    l->setWordWrap(true);
    return l;
}

// Check boxes side by side, then room to spare.
QHBoxLayout* rowOf(std::initializer_list<QWidget*> widgets) {
    auto* row = new QHBoxLayout;
    for (QWidget* w : widgets)
        row->addWidget(w);
    row->addStretch(1);
    return row;
}

// The address page's lower half: the address with its address book button,
// then the direction, each under its label.
QGridLayout* addressGrid(const char* addressText, QWidget* address, QWidget* book,
                         QWidget* direction, QWidget* parent) {
    auto* grid = new QGridLayout;
    auto* addressLabel = label(addressText, parent);
    addressLabel->setBuddy(address);
    grid->addWidget(addressLabel, 0, 0);
    grid->addWidget(address, 0, 1);
    grid->addWidget(book, 0, 2);
    auto* dirLabel = label("Direction :", parent);
    dirLabel->setBuddy(direction);
    grid->addWidget(dirLabel, 1, 0);
    grid->addWidget(direction, 1, 1);
    grid->setColumnStretch(3, 1);
    return grid;
}
} // namespace

CFilterPage::CFilterPage(const QString& title, QWidget* parent)
    : QWidget(parent)
    , m_body(new QVBoxLayout) {
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);
    auto* heading = new QLabel(title, this);
    QFont bold(QStringLiteral("MS Sans Serif"));
    bold.setPixelSize(16);
    bold.setWeight(QFont::Bold);
    heading->setFont(bold);
    heading->setWordWrap(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(heading);
    layout->addSpacing(8);
    layout->addLayout(m_body);
    layout->addStretch(1);
}

void CFilterPage::setState(bool next, bool finish, const QString& expression) {
    if (next == m_next && finish == m_finish && expression == m_expression)
        return;
    m_next = next;
    m_finish = finish;
    m_expression = expression;
    Q_EMIT changed();
}

// --- Welcome -----------------------------------------------------------------

CFilterWelcomePage::CFilterWelcomePage(QWidget* parent)
    : CFilterPage(QStringLiteral("Welcome to the Network Packet Filter Wizard"), parent)
    , m_yes(new QRadioButton(QStringLiteral("Yes"), this))
    , m_no(new QRadioButton(QStringLiteral("No"), this)) {
    body()->addWidget(
        label("The program will now guide you to filter the packet you want for you", this));
    body()->addSpacing(12);
    body()->addWidget(label("Do you want to filter networks packets ?", this));
    body()->addWidget(m_yes);
    body()->addWidget(m_no);
    m_yes->setChecked(true);
    setButtons(true, false);
    connect(m_yes, &QRadioButton::clicked, this, [this] { setButtons(true, false); });
    connect(m_no, &QRadioButton::clicked, this, [this] { setButtons(false, true); });
}

// --- Ethernet ----------------------------------------------------------------

CEthernetFilterPage::CEthernetFilterPage(QWidget* parent, NodePicker& picker)
    : CFilterPage(QStringLiteral("Ethernet Filter Setting"), parent)
    , m_picker(picker)
    , m_all(checkBox("All", this))
    , m_broadcast(checkBox("Broadcast", this))
    , m_multicast(checkBox("Multicast", this))
    , m_mac(new CMaskEdit(this))
    , m_book(new QPushButton(QStringLiteral("Address Book"), this))
    , m_direction(directionList(this)) {
    // A MAC address is hexadecimal: the letters a to f beside the mask's digits.
    m_mac->setUp(CMaskEdit::kMacMask, CMaskEdit::kMacTemplate, kNoMac);
    m_mac->setExtraCharacters(CMaskEdit::kHexLetters);
    // Room for the widest address the field takes.
    const QFontMetrics fm(m_mac->font());
    int widest = 0;
    for (QChar c : CMaskEdit::kHexLetters + QStringLiteral("0123456789"))
        widest = std::max(widest, fm.horizontalAdvance(c));
    m_mac->setMinimumWidth(12 * widest + 5 * fm.horizontalAdvance(QLatin1Char(':')) + 16);

    body()->addWidget(label("What type of Ethernet Traffic do you want ?", this));
    body()->addLayout(rowOf({m_all, m_broadcast, m_multicast}));
    body()->addSpacing(12);
    body()->addWidget(label("or Which specific address you would like to filter ?", this));
    body()->addLayout(addressGrid("MAC Address :", m_mac, m_book, m_direction, this));

    onAll(true);
    connect(m_all, &QCheckBox::clicked, this, &CEthernetFilterPage::onAll);
    connect(m_broadcast, &QCheckBox::clicked, this,
            [this](bool on) { onType(m_broadcast, on, QStringLiteral("ether broadcast")); });
    connect(m_multicast, &QCheckBox::clicked, this,
            [this](bool on) { onType(m_multicast, on, QStringLiteral("ether multicast")); });
    connect(m_book, &QPushButton::clicked, this, &CEthernetFilterPage::pick);
    connect(m_direction, &QComboBox::activated, this, &CEthernetFilterPage::chooseDirection);
    // Once a direction is chosen, the expression follows every edit of the address.
    connect(m_mac, &QLineEdit::textChanged, this, [this] {
        if (m_directionChosen)
            composeAddress();
    });
}

void CEthernetFilterPage::setAddressEnabled(bool on) {
    m_mac->setEnabled(on);
    m_direction->setEnabled(on);
    m_book->setEnabled(on);
}

void CEthernetFilterPage::onAll(bool on) {
    m_all->setChecked(on);
    m_broadcast->setChecked(on);
    m_multicast->setChecked(on);
    m_broadcast->setEnabled(!on);
    m_multicast->setEnabled(!on);
    setAddressEnabled(!on);
    setState(on, on, QString());
}

void CEthernetFilterPage::onType(QCheckBox* box, bool on, const QString& expression) {
    QCheckBox* other = box == m_broadcast ? m_multicast : m_broadcast;
    m_all->setEnabled(!on);
    other->setEnabled(!on);
    setAddressEnabled(!on);
    setState(false, on, on ? expression : QString());
}

void CEthernetFilterPage::pick() {
    const PickedNode node = m_picker ? m_picker(this) : PickedNode();
    if (node.mac != kNone)
        m_mac->setText(node.mac);
}

void CEthernetFilterPage::chooseDirection(int index) {
    if (index < 0 || index >= m_direction->count())
        return;
    m_direction->setCurrentIndex(index);
    m_directionChosen = true;
    composeAddress();
}

void CEthernetFilterPage::composeAddress() {
    const QString mac = m_mac->text();
    if (!mac.isEmpty() && mac.compare(kNoMac, Qt::CaseInsensitive) != 0 &&
        mac.compare(kBroadcastMac, Qt::CaseInsensitive) != 0)
        setState(false, true,
                 QStringLiteral("ether ") + m_direction->currentText() + QLatin1Char(' ') + mac);
    else
        setState(false, false, QString());
}

// --- Layer 3 -----------------------------------------------------------------

namespace {
struct Layer3Protocol {
    const char* box;
    const char* word;
};
constexpr Layer3Protocol kLayer3[] = {
    {"IPv4", "ip"},         {"IPv6", "ip6"},  {"ARP", "arp"},        {"RARP", "rarp"},
    {"AppleTalk", "atalk"}, {"AARP", "aarp"}, {"DEC NET", "decnet"}, {"ISO", "iso"},
};
} // namespace

CLayer3FilterPage::CLayer3FilterPage(QWidget* parent)
    : CFilterPage(QStringLiteral("Layer 3 Protocol Filter Setting"), parent)
    , m_all(checkBox("All", this)) {
    body()->addWidget(label("What type of Layer 3 Protocol you would like to filter ?", this));
    auto* grid = new QGridLayout;
    grid->addWidget(m_all, 0, 0);
    for (int i = 0; i < int(std::size(kLayer3)); ++i) {
        auto* box = checkBox(kLayer3[i].box, this);
        m_protocols << box;
        grid->addWidget(box, (i + 1) / 3, (i + 1) % 3);
        connect(box, &QCheckBox::clicked, this, [this, i](bool on) { onProtocol(i, on); });
    }
    grid->setColumnStretch(3, 1);
    body()->addLayout(grid);
    onAll(true);
    connect(m_all, &QCheckBox::clicked, this, &CLayer3FilterPage::onAll);
}

void CLayer3FilterPage::onAll(bool on) {
    m_all->setChecked(on);
    for (QCheckBox* box : m_protocols) {
        box->setChecked(on);
        box->setEnabled(!on);
    }
    setState(on, on, QString());
}

void CLayer3FilterPage::onProtocol(int index, bool on) {
    m_all->setEnabled(!on);
    for (int i = 0; i < m_protocols.size(); ++i)
        if (i != index)
            m_protocols[i]->setEnabled(!on);
    setState(false, on, on ? QString::fromLatin1(kLayer3[index].word) : QString());
}

// --- IP ----------------------------------------------------------------------

CIpFilterPage::CIpFilterPage(QWidget* parent, NodePicker& picker)
    : CFilterPage(QStringLiteral("Internet Protocol Filter Setting"), parent)
    , m_picker(picker)
    , m_both(new QRadioButton(QStringLiteral("Both"), this))
    , m_v4(new QRadioButton(QStringLiteral("version 4"), this))
    , m_v6(new QRadioButton(QStringLiteral("version 6"), this))
    , m_all(checkBox("All", this))
    , m_broadcast(checkBox("Broadcast", this))
    , m_multicast(checkBox("Multicast", this))
    , m_address(new CIpAddressEdit(this))
    , m_book(new QPushButton(QStringLiteral("Address Book"), this))
    , m_direction(directionList(this)) {
    // The address comes from the address book only.
    for (int i = 0; i < 4; ++i)
        m_address->fieldEdit(i)->setReadOnly(true);
    m_address->clear();

    body()->addWidget(label("What is version of Internet Protocol ?", this));
    body()->addLayout(rowOf({m_both, m_v4, m_v6}));
    body()->addSpacing(8);
    body()->addWidget(label("What type of IP Traffic do you want ?", this));
    body()->addLayout(rowOf({m_all, m_broadcast, m_multicast}));
    body()->addSpacing(8);
    body()->addWidget(label("or Which specific address you would like to filter ?", this));
    body()->addLayout(addressGrid("IP Address :", m_address, m_book, m_direction, this));

    m_both->setChecked(true);
    setTypesInitial(false);
    // The last page: there is nothing to go on to.
    setState(false, true, QString());

    for (QRadioButton* r : {m_both, m_v4, m_v6})
        connect(r, &QRadioButton::clicked, this, &CIpFilterPage::onVersion);
    connect(m_all, &QCheckBox::clicked, this, &CIpFilterPage::onAll);
    connect(m_broadcast, &QCheckBox::clicked, this,
            [this](bool on) { onType(m_broadcast, on, QStringLiteral("broadcast")); });
    connect(m_multicast, &QCheckBox::clicked, this,
            [this](bool on) { onType(m_multicast, on, QStringLiteral("multicast")); });
    connect(m_book, &QPushButton::clicked, this, &CIpFilterPage::pick);
    connect(m_direction, &QComboBox::activated, this, &CIpFilterPage::chooseDirection);
}

void CIpFilterPage::setAddressEnabled(bool on) {
    m_address->setEnabled(on);
    m_direction->setEnabled(on);
    m_book->setEnabled(on);
}

void CIpFilterPage::setTypesInitial(bool allEnabled) {
    m_all->setChecked(true);
    m_all->setEnabled(allEnabled);
    m_broadcast->setChecked(true);
    m_multicast->setChecked(true);
    m_broadcast->setEnabled(false);
    m_multicast->setEnabled(false);
    setAddressEnabled(false);
}

void CIpFilterPage::onVersion() {
    // Each version starts with all its traffic: the boxes then say "All", and
    // so does the expression (no type word or address left from before).
    m_typeWord.clear();
    m_directionWord.clear();
    m_direction->setCurrentIndex(0);
    if (m_v6->isChecked())
        m_versionWord = QStringLiteral("ip6");
    else if (m_v4->isChecked())
        m_versionWord = QStringLiteral("ip");
    else
        m_versionWord.clear();
    setTypesInitial(m_v4->isChecked());
    setButtons(false, true);
    compose();
}

void CIpFilterPage::onAll(bool on) {
    m_typeWord.clear();
    if (on) {
        setTypesInitial(true);
        setButtons(false, true);
    } else {
        m_broadcast->setChecked(false);
        m_multicast->setChecked(false);
        m_broadcast->setEnabled(true);
        m_multicast->setEnabled(true);
        setAddressEnabled(true);
        setButtons(false, false);
    }
    compose();
}

void CIpFilterPage::onType(QCheckBox* box, bool on, const QString& word) {
    QCheckBox* other = box == m_broadcast ? m_multicast : m_broadcast;
    if (on)
        m_all->setChecked(false);
    m_all->setEnabled(!on);
    other->setEnabled(!on);
    setAddressEnabled(!on);
    m_typeWord = on ? word : QString();
    setButtons(false, on);
    compose();
}

void CIpFilterPage::pick() {
    const PickedNode node = m_picker ? m_picker(this) : PickedNode();
    if (node.ip.isEmpty())
        return;
    const QStringList parts = node.ip.split(QLatin1Char('.'));
    bool ok = parts.size() == 4;
    int f[4] = {};
    for (int i = 0; ok && i < 4; ++i) {
        f[i] = parts[i].toInt(&ok);
        ok = ok && f[i] >= 0 && f[i] <= 255;
    }
    // A node without an IPv4 address ("-") gives nothing to filter on.
    if (!ok)
        return;
    m_addressText = node.ip;
    m_address->setAddress(f[0], f[1], f[2], f[3]);
    if (!m_directionWord.isEmpty())
        updateFinishForAddress();
    compose();
}

void CIpFilterPage::updateFinishForAddress() {
    setButtons(false, !m_directionWord.isEmpty() && !m_addressText.isEmpty() &&
                          m_addressText != QStringLiteral("0.0.0.0"));
}

void CIpFilterPage::chooseDirection(int index) {
    if (index < 0 || index >= m_direction->count())
        return;
    m_direction->setCurrentIndex(index);
    m_directionWord = m_direction->itemText(index);
    updateFinishForAddress();
    compose();
}

void CIpFilterPage::compose() {
    QString e;
    if (m_versionWord == QStringLiteral("ip6"))
        e = m_versionWord;
    else if (m_versionWord == QStringLiteral("ip")) {
        if (!m_typeWord.isEmpty())
            e = m_versionWord + QLatin1Char(' ') + m_typeWord;
        else if (!m_directionWord.isEmpty() && !m_addressText.isEmpty())
            e = m_versionWord + QLatin1Char(' ') + m_directionWord + QLatin1Char(' ') +
                m_addressText;
        else
            e = m_versionWord;
    }
    setExpression(e);
}
