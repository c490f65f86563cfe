#include "gui/addressbook/add_node_dlg.h"

#include "core/addressbook/node_filter.h"
#include "gui/addressbook/node_form.h"
#include "gui/widgets/address_book_art.h"
#include "gui/widgets/ip_address_edit.h"
#include "gui/widgets/mask_edit.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QVBoxLayout>

CAddNodeDlg::CAddNodeDlg(QWidget* parent)
    : QDialog(parent)
    , m_mac(new CMaskEdit(this))
    , m_ip(new CIpAddressEdit(this))
    , m_ipv6(new CMaskEdit(this))
    , m_name(new QLineEdit(this))
    , m_domain(new QLineEdit(this))
    , m_description(new QPlainTextEdit(this))
    , m_date(new QLineEdit(this))
    , m_location(new QLineEdit(this))
    , m_workgroup(new QLineEdit(this))
    , m_type(new QComboBox(this)) {
    setWindowTitle(QStringLiteral("Add New Node"));
    setFont(QFont(QStringLiteral("MS Sans Serif"), 8));

    // MAC and IPv6 addresses are hexadecimal: the letters a to f are typed
    // beside the digits the masks name.
    m_mac->setUp(kMacMask, kMacTemplate, qarsilo::kEmptyMac);
    m_mac->setExtraCharacters(kHexLetters);
    m_ipv6->setUp(kIpv6Mask, kIpv6Template, qarsilo::kEmptyIpv6);
    m_ipv6->setExtraCharacters(kHexLetters);
    const QFontMetrics fm(m_ipv6->font());
    m_ipv6->setMinimumWidth(fm.horizontalAdvance(kIpv6Template) + 16);
    m_mac->setMinimumWidth(QFontMetrics(m_mac->font()).horizontalAdvance(kMacTemplate) + 16);
    m_description->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_description->setTabChangesFocus(true);
    m_date->setReadOnly(true);
    m_type->addItem(QStringLiteral("-"));
    m_type->hide();

    QDialogButtonBox* buttons = layOutNodeForm(
        this, QStringLiteral("Add New Node"), QStringLiteral("A node of the network address book"),
        {m_mac, m_ip, m_ipv6, QStringLiteral("IPv6 Address "), m_name, m_domain, m_date, m_location,
         m_workgroup, nullptr, m_description, m_type});
    connect(buttons, &QDialogButtonBox::accepted, this, &CAddNodeDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    m_mac->setFocus();
}

void CAddNodeDlg::setDate(const QString& date) {
    m_date->setText(date);
}

void CAddNodeDlg::setMac(const QString& mac) {
    m_mac->setUp(kMacMask, kMacTemplate, mac.isEmpty() ? qarsilo::kEmptyMac : mac);
}

void CAddNodeDlg::setIpv6(const QString& ipv6) {
    m_ipv6->setUp(kIpv6Mask, kIpv6Template, ipv6.isEmpty() ? qarsilo::kEmptyIpv6 : ipv6);
}

void CAddNodeDlg::accept() {
    const auto f = m_ip->fields();
    m_node = {};
    // Lower case, as autodiscovery writes addresses: one node, one spelling.
    m_node.mac = m_mac->text().toLower();
    m_node.ipv6 = m_ipv6->text().toLower();
    m_node.ip = qarsilo::ipv4Text(f[0], f[1], f[2], f[3]);
    m_node.subnet = qarsilo::subnetText(f[0], f[1], f[2]);
    m_node.name = m_name->text();
    m_node.domainName = m_domain->text();
    m_node.date = m_date->text();
    m_node.description = m_description->toPlainText();
    m_node.location = m_location->text();
    m_node.workgroup = m_workgroup->text();
    QDialog::accept();
}
