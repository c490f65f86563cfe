#include "addressbook/node_info_dlg.h"

#include "addressbook/address_book_art.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace {
QLabel* label(const QString& text, QWidget* buddy, QWidget* parent) {
    auto* l = new QLabel(text, parent);
    l->setBuddy(buddy);
    return l;
}
} // namespace

CNodeInfoDlg::CNodeInfoDlg(QWidget* parent)
    : QDialog(parent)
    , m_mac(new QLineEdit(this))
    , m_ip(new QLineEdit(this))
    , m_ipv6(new QLineEdit(this))
    , m_name(new QLineEdit(this))
    , m_domain(new QLineEdit(this))
    , m_description(new QPlainTextEdit(this))
    , m_date(new QLineEdit(this))
    , m_location(new QLineEdit(this))
    , m_workgroup(new QLineEdit(this))
    , m_subnet(new QLineEdit(this))
    , m_type(new QComboBox(this)) {
    setWindowTitle(QStringLiteral("Node Info"));
    setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
    m_mac->setReadOnly(true);
    m_date->setReadOnly(true);
    // An edit keeps the stored domain name; it is shown so that nothing
    // typed here could be silently dropped.
    m_domain->setReadOnly(true);
    m_description->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_description->setTabChangesFocus(true);
    m_ipv6->setMinimumWidth(
        QFontMetrics(m_ipv6->font())
            .horizontalAdvance(QStringLiteral("0000:0000:0000:0000:0000:0000:0000:0000")) +
        16);
    m_type->hide();

    auto* bannerLabel = new QLabel(this);
    bannerLabel->setPixmap(addressbook_art::banner(
        QStringLiteral("Node Info"), QStringLiteral("What the address book knows of a node"), 620));

    auto* left = new QFormLayout;
    left->addRow(label(QStringLiteral("MAC Address: "), m_mac, this), m_mac);
    left->addRow(label(QStringLiteral("IP Address: "), m_ip, this), m_ip);
    left->addRow(label(QStringLiteral("IPv6 Address"), m_ipv6, this), m_ipv6);
    left->addRow(label(QStringLiteral("Name:"), m_name, this), m_name);
    left->addRow(label(QStringLiteral("Domain Name:"), m_domain, this), m_domain);
    left->addRow(label(QStringLiteral("Date && Time:"), m_date, this), m_date);

    auto* groups = new QGroupBox(QStringLiteral("Node Groups"), this);
    auto* groupForm = new QFormLayout(groups);
    groupForm->addRow(label(QStringLiteral("Location:"), m_location, groups), m_location);
    groupForm->addRow(label(QStringLiteral("Workgroup:"), m_workgroup, groups), m_workgroup);
    groupForm->addRow(label(QStringLiteral("Subnet:"), m_subnet, groups), m_subnet);

    auto* right = new QVBoxLayout;
    right->addWidget(groups);
    right->addWidget(label(QStringLiteral("Description:"), m_description, this));
    right->addWidget(m_description, 1);

    auto* columns = new QHBoxLayout;
    columns->addLayout(left, 3);
    columns->addLayout(right, 2);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 8);
    layout->addWidget(bannerLabel);
    auto* body = new QVBoxLayout;
    body->setContentsMargins(10, 4, 10, 0);
    body->addLayout(columns, 1);
    body->addWidget(m_type);
    body->addWidget(buttons);
    layout->addLayout(body, 1);
    m_ip->setFocus();
}

void CNodeInfoDlg::setNode(const qarsilo::NodeRecord& node) {
    m_given = node;
    m_mac->setText(node.mac);
    m_ip->setText(node.ip);
    m_ipv6->setText(node.ipv6);
    m_name->setText(node.name);
    m_domain->setText(node.domainName);
    m_description->setPlainText(node.description);
    m_date->setText(node.date);
    m_location->setText(node.location);
    m_workgroup->setText(node.workgroup);
    m_subnet->setText(node.subnet);
}

qarsilo::NodeRecord CNodeInfoDlg::node() const {
    qarsilo::NodeRecord n = m_given;
    n.ip = m_ip->text();
    n.ipv6 = m_ipv6->text();
    n.name = m_name->text();
    n.description = m_description->toPlainText();
    n.date = m_date->text();
    n.location = m_location->text();
    n.workgroup = m_workgroup->text();
    n.subnet = m_subnet->text();
    return n;
}
