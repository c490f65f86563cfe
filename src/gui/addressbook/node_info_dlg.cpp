#include "gui/addressbook/node_info_dlg.h"

#include "gui/addressbook/node_form.h"
#include "gui/widgets/address_book_art.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QVBoxLayout>

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

    QDialogButtonBox* buttons = layOutNodeForm(
        this, QStringLiteral("Node Info"), QStringLiteral("What the address book knows of a node"),
        {m_mac, m_ip, m_ipv6, QStringLiteral("IPv6 Address"), m_name, m_domain, m_date, m_location,
         m_workgroup, m_subnet, m_description, m_type});
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
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
