#include "gui/addressbook/book_location_dlg.h"

#include "core/addressbook/address_book_messages.h"
#include "core/addressbook/address_database.h"
#include "core/app/settings_store.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

using namespace qarsilo;

CBookLocationDlg::CBookLocationDlg(QWidget* parent, const QString& current)
    : QDialog(parent) {
    setWindowTitle(QStringLiteral("Address Book Location"));
    auto* label = new QLabel(
        QStringLiteral("&Address book database (empty: the file address.mdb in the working "
                       "directory; or a file name; or a shared book on a PostgreSQL server, "
                       "postgresql://user@host:port/dbname):"),
        this);
    label->setWordWrap(true);
    m_field = new QLineEdit(current, this);
    m_field->setPlaceholderText(QStringLiteral("address.mdb"));
    m_field->setMinimumWidth(420);
    label->setBuddy(m_field);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &CBookLocationDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(m_field);
    layout->addWidget(buttons);
}

QString CBookLocationDlg::location() const {
    return m_field->text().trimmed();
}

void CBookLocationDlg::accept() {
    // Checked by opening it: a location that does not work is not taken.
    const QString text = location();
    AddressDatabase db(text.isEmpty() ? QStringLiteral("address.mdb") : text);
    if (!openAddressBook(db)) {
        m_field->setFocus();
        return;
    }
    QDialog::accept();
}

bool changeBookLocation(QWidget* parent, SettingsStore& settings,
                        const std::function<int(QDialog&)>& run) {
    CBookLocationDlg dlg(parent, settings.string(setting::addressBook));
    if (run(dlg) != QDialog::Accepted)
        return false;
    if (!settings.writeString(setting::addressBook, dlg.location()))
        return false;
    AddressDatabase::setDefaultFileName(dlg.location());
    return true;
}

void useBookLocation(const SettingsStore& settings) {
    AddressDatabase::setDefaultFileName(settings.string(setting::addressBook).trimmed());
}
