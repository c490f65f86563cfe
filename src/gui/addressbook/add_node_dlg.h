#pragma once

#include "core/addressbook/node_record.h"
#include "gui/widgets/mask_edit.h"

#include <QDialog>

class CIpAddressEdit;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;

/// "Add New Node": the values of a node to add. The MAC and IPv6 fields are
/// masked; the address control gives IP and its /24 range (SUBNET) on OK.
class CAddNodeDlg : public QDialog {
    Q_OBJECT
public:
    // The masks live with the masked edit; these names are kept for the dialogs.
    static inline const QString& kMacMask = CMaskEdit::kMacMask;
    static inline const QString& kMacTemplate = CMaskEdit::kMacTemplate;
    static inline const QString& kIpv6Mask = CMaskEdit::kIpv6Mask;
    static inline const QString& kIpv6Template = CMaskEdit::kIpv6Template;
    static inline const QString& kHexLetters = CMaskEdit::kHexLetters;

    explicit CAddNodeDlg(QWidget* parent = nullptr);

    /// Set by the opener before the dialog runs.
    void setDate(const QString& date);
    /// A MAC to start with (else "00:00:00:00:00:00").
    void setMac(const QString& mac);
    /// An IPv6 text to start with (else eight groups of "0000").
    void setIpv6(const QString& ipv6);

    /// The values after OK: MAC and IPv6 as their fields hold them (letters in
    /// lower case), IP and SUBNET from the address control, the other texts
    /// as typed. TYPE is left empty: the opener decides it.
    qarsilo::NodeRecord node() const { return m_node; }

    CMaskEdit* macField() const { return m_mac; }
    CIpAddressEdit* ipField() const { return m_ip; }
    CMaskEdit* ipv6Field() const { return m_ipv6; }
    QLineEdit* nameField() const { return m_name; }
    QLineEdit* domainField() const { return m_domain; }
    QPlainTextEdit* descriptionField() const { return m_description; }
    QLineEdit* dateField() const { return m_date; }
    QLineEdit* locationField() const { return m_location; }
    QLineEdit* workgroupField() const { return m_workgroup; }

public Q_SLOTS:
    void accept() override;

private:
    CMaskEdit* m_mac;
    CIpAddressEdit* m_ip;
    CMaskEdit* m_ipv6;
    QLineEdit* m_name;
    QLineEdit* m_domain;
    QPlainTextEdit* m_description;
    QLineEdit* m_date;
    QLineEdit* m_location;
    QLineEdit* m_workgroup;
    QComboBox* m_type;
    qarsilo::NodeRecord m_node;
};
