#include "gui/addressbook/node_form.h"

#include "gui/widgets/address_book_art.h"

#include <QComboBox>
#include <QDialog>
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

QDialogButtonBox* layOutNodeForm(QDialog* dialog, const QString& title, const QString& subtitle,
                                 const NodeFormFields& f) {
    auto* bannerLabel = new QLabel(dialog);
    bannerLabel->setPixmap(addressbook_art::banner(title, subtitle, 620));

    auto* left = new QFormLayout;
    left->addRow(label(QStringLiteral("MAC Address: "), f.mac, dialog), f.mac);
    left->addRow(label(QStringLiteral("IP Address: "), f.ip, dialog), f.ip);
    left->addRow(label(f.ipv6Label, f.ipv6, dialog), f.ipv6);
    left->addRow(label(QStringLiteral("Name:"), f.name, dialog), f.name);
    left->addRow(label(QStringLiteral("Domain Name:"), f.domain, dialog), f.domain);
    left->addRow(label(QStringLiteral("Date && Time:"), f.date, dialog), f.date);

    auto* groups = new QGroupBox(QStringLiteral("Node Groups"), dialog);
    auto* groupForm = new QFormLayout(groups);
    groupForm->addRow(label(QStringLiteral("Location:"), f.location, groups), f.location);
    groupForm->addRow(label(QStringLiteral("Workgroup:"), f.workgroup, groups), f.workgroup);
    if (f.subnet)
        groupForm->addRow(label(QStringLiteral("Subnet:"), f.subnet, groups), f.subnet);

    auto* right = new QVBoxLayout;
    right->addWidget(groups);
    right->addWidget(label(QStringLiteral("Description:"), f.description, dialog));
    right->addWidget(f.description, 1);

    auto* columns = new QHBoxLayout;
    columns->addLayout(left, 3);
    columns->addLayout(right, 2);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);

    auto* layout = new QVBoxLayout(dialog);
    layout->setContentsMargins(0, 0, 0, 8);
    layout->addWidget(bannerLabel);
    auto* body = new QVBoxLayout;
    body->setContentsMargins(10, 4, 10, 0);
    body->addLayout(columns, 1);
    body->addWidget(f.type);
    body->addWidget(buttons);
    layout->addLayout(body, 1);
    return buttons;
}
