#pragma once

#include "core/addressbook/node_record.h"

#include <QDialog>

class QComboBox;
class QLineEdit;
class QPlainTextEdit;

/// "Node Info": shows a stored node and lets the operator change its IP, IPv6,
/// name, description, date (set by the opener), location, workgroup and IP
/// range. MAC, domain name and type are shown but not changed.
class CNodeInfoDlg : public QDialog {
    Q_OBJECT
public:
    explicit CNodeInfoDlg(QWidget* parent = nullptr);

    /// Fills the fields from `node`; its date should already be the moment the
    /// dialog opens.
    void setNode(const qarsilo::NodeRecord& node);
    /// The node with the edited values; MAC, DOMAINNAME and TYPE as given.
    qarsilo::NodeRecord node() const;

    QLineEdit* macField() const { return m_mac; }
    QLineEdit* ipField() const { return m_ip; }
    QLineEdit* ipv6Field() const { return m_ipv6; }
    QLineEdit* nameField() const { return m_name; }
    QLineEdit* domainField() const { return m_domain; }
    QPlainTextEdit* descriptionField() const { return m_description; }
    QLineEdit* dateField() const { return m_date; }
    QLineEdit* locationField() const { return m_location; }
    QLineEdit* workgroupField() const { return m_workgroup; }
    QLineEdit* subnetField() const { return m_subnet; }

private:
    QLineEdit* m_mac;
    QLineEdit* m_ip;
    QLineEdit* m_ipv6;
    QLineEdit* m_name;
    QLineEdit* m_domain;
    QPlainTextEdit* m_description;
    QLineEdit* m_date;
    QLineEdit* m_location;
    QLineEdit* m_workgroup;
    QLineEdit* m_subnet;
    QComboBox* m_type;
    qarsilo::NodeRecord m_given;
};
