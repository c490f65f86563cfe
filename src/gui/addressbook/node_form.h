#pragma once

#include <QString>

class QComboBox;
class QDialog;
class QDialogButtonBox;
class QLineEdit;
class QPlainTextEdit;
class QWidget;

/// The fields of one node, as the Add New Node and Node Info dialogs show them.
struct NodeFormFields {
    QWidget* mac;
    QWidget* ip;
    QWidget* ipv6;
    QString ipv6Label; ///< the two dialogs word it slightly differently
    QLineEdit* name;
    QLineEdit* domain;
    QLineEdit* date;
    QLineEdit* location;
    QLineEdit* workgroup;
    QLineEdit* subnet; ///< null where the dialog has no subnet field
    QPlainTextEdit* description;
    QComboBox* type;
};

/// Lays `dialog` out: the banner with `title` and `subtitle`, the addresses
/// and names on the left, the groups and the description on the right, OK and
/// Cancel below. Returns the buttons for the dialog to connect.
QDialogButtonBox* layOutNodeForm(QDialog* dialog, const QString& title, const QString& subtitle,
                                 const NodeFormFields& fields);
