#pragma once

#include "core/addressbook/picked_node.h"

#include <QWidget>
#include <functional>

class CIpAddressEdit;
class CMaskEdit;
class QCheckBox;
class QComboBox;
class QPushButton;
class QRadioButton;
class QVBoxLayout;

/// Picks one node from the address book (the wizard's "Address Book" buttons).
using NodePicker = qarsilo::NodePicker;

/// One page of the filter wizard: a bold title on a white page, its own
/// filter expression, and whether it offers "Next >" and "Finish".
class CFilterPage : public QWidget {
    Q_OBJECT
public:
    CFilterPage(const QString& title, QWidget* parent);

    const QString& expression() const { return m_expression; }
    bool nextEnabled() const { return m_next; }
    bool finishEnabled() const { return m_finish; }

Q_SIGNALS:
    /// The expression or the offered buttons changed.
    void changed();

protected:
    void setState(bool next, bool finish, const QString& expression);
    void setButtons(bool next, bool finish) { setState(next, finish, m_expression); }
    void setExpression(const QString& expression) { setState(m_next, m_finish, expression); }
    QVBoxLayout* body() const { return m_body; }

private:
    QVBoxLayout* m_body;
    QString m_expression;
    bool m_next = true;
    bool m_finish = true;
};

/// "Welcome to the Network Packet Filter Wizard": Yes goes on, No finishes
/// with no filter.
class CFilterWelcomePage : public CFilterPage {
    Q_OBJECT
public:
    explicit CFilterWelcomePage(QWidget* parent);
    QRadioButton* yes() const { return m_yes; }
    QRadioButton* no() const { return m_no; }

private:
    QRadioButton* m_yes;
    QRadioButton* m_no;
};

/// "Ethernet Filter Setting": all traffic, broadcast, multicast, or one MAC
/// address in a direction.
class CEthernetFilterPage : public CFilterPage {
    Q_OBJECT
public:
    CEthernetFilterPage(QWidget* parent, NodePicker& picker);
    QCheckBox* all() const { return m_all; }
    QCheckBox* broadcast() const { return m_broadcast; }
    QCheckBox* multicast() const { return m_multicast; }
    CMaskEdit* mac() const { return m_mac; }
    QPushButton* addressBook() const { return m_book; }
    QComboBox* direction() const { return m_direction; }
    /// A direction chosen in the list, as the operator would.
    void chooseDirection(int index);

private:
    void onAll(bool on);
    void onType(QCheckBox* box, bool on, const QString& expression);
    void pick();
    void setAddressEnabled(bool on);
    /// The expression of the MAC address in the chosen direction.
    void composeAddress();

    NodePicker& m_picker;
    bool m_directionChosen = false;
    QCheckBox* m_all;
    QCheckBox* m_broadcast;
    QCheckBox* m_multicast;
    CMaskEdit* m_mac;
    QPushButton* m_book;
    QComboBox* m_direction;
};

/// "Layer 3 Protocol Filter Setting": one network-layer protocol.
class CLayer3FilterPage : public CFilterPage {
    Q_OBJECT
public:
    explicit CLayer3FilterPage(QWidget* parent);
    QCheckBox* all() const { return m_all; }
    /// The protocol boxes in order: IPv4, IPv6, ARP, RARP, AppleTalk, AARP,
    /// DEC NET, ISO.
    const QList<QCheckBox*>& protocols() const { return m_protocols; }

private:
    void onAll(bool on);
    void onProtocol(int index, bool on);

    QCheckBox* m_all;
    QList<QCheckBox*> m_protocols;
};

/// "Internet Protocol Filter Setting": IP version, then IPv4 broadcast,
/// multicast or one address (from the address book) in a direction.
class CIpFilterPage : public CFilterPage {
    Q_OBJECT
public:
    CIpFilterPage(QWidget* parent, NodePicker& picker);
    QRadioButton* both() const { return m_both; }
    QRadioButton* version4() const { return m_v4; }
    QRadioButton* version6() const { return m_v6; }
    QCheckBox* all() const { return m_all; }
    QCheckBox* broadcast() const { return m_broadcast; }
    QCheckBox* multicast() const { return m_multicast; }
    CIpAddressEdit* address() const { return m_address; }
    QPushButton* addressBook() const { return m_book; }
    QComboBox* direction() const { return m_direction; }
    void chooseDirection(int index);

private:
    void onVersion();
    void onAll(bool on);
    void onType(QCheckBox* box, bool on, const QString& word);
    void pick();
    void setTypesInitial(bool allEnabled);
    void setAddressEnabled(bool on);
    void updateFinishForAddress();
    void compose();

    NodePicker& m_picker;
    QRadioButton* m_both;
    QRadioButton* m_v4;
    QRadioButton* m_v6;
    QCheckBox* m_all;
    QCheckBox* m_broadcast;
    QCheckBox* m_multicast;
    CIpAddressEdit* m_address;
    QPushButton* m_book;
    QComboBox* m_direction;
    QString m_versionWord;
    QString m_typeWord;
    QString m_directionWord;
    QString m_addressText;
};
