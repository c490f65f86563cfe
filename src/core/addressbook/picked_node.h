#pragma once

#include <QString>
#include <functional>

class QWidget;

/// The node a caller picked in the address book: MAC, IPv4 address and
/// NetBIOS name of the first selected row, or MAC "none" when no row was
/// selected.
struct PickedNode {
    QString mac = QStringLiteral("none");
    QString ip;
    QString name;
};

namespace qarsilo {

/// Lets the operator pick a node over `parent` (the address book, run
/// modally); windows receive one from the program and never open the book
/// themselves.
using NodePicker = std::function<PickedNode(QWidget* parent)>;

} // namespace qarsilo
