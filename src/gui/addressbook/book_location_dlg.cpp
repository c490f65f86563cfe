#include "gui/addressbook/book_location_dlg.h"

#include "core/addressbook/address_book_messages.h"
#include "core/addressbook/address_database.h"
#include "core/app/settings_store.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

using namespace qarsilo;

namespace {

// Set by tests; empty: the file dialog.
CBookLocationDlg::FileChooser& fileChooser() {
    static CBookLocationDlg::FileChooser chooser;
    return chooser;
}

QString chooseBookFile(QWidget* parent, const QString& current) {
    if (fileChooser())
        return fileChooser()(parent, current);
    // A book that does not exist yet is made on first open: no overwrite question.
    return QFileDialog::getSaveFileName(
        parent, QStringLiteral("Address Book File"), current,
        QStringLiteral("Address books (*.mdb *.db *.sqlite);;All files (*)"), nullptr,
        QFileDialog::DontConfirmOverwrite);
}

} // namespace

void CBookLocationDlg::setFileChooser(FileChooser chooser) {
    fileChooser() = std::move(chooser);
}

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
    m_browse = new QPushButton(QStringLiteral("&Browse..."), this);
    m_browse->setAutoDefault(false);
    m_browse->setToolTip(QStringLiteral("Choose an address book file"));
    connect(m_browse, &QPushButton::clicked, this, &CBookLocationDlg::browse);
    auto* fieldRow = new QHBoxLayout;
    fieldRow->addWidget(m_field, 1);
    fieldRow->addWidget(m_browse);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &CBookLocationDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addLayout(fieldRow);
    layout->addWidget(buttons);
}

void CBookLocationDlg::browse() {
    const QString text = location();
    // A server's URL is no place to start a file dialog from.
    const QString start = text.isEmpty()                            ? QStringLiteral("address.mdb")
                          : AddressDatabase::isServerLocation(text) ? QString()
                                                                    : text;
    const QString chosen =
        chooseBookFile(this, start.isEmpty() ? start : QFileInfo(start).absoluteFilePath());
    if (!chosen.isEmpty())
        m_field->setText(chosen);
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
