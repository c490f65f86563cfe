#pragma once

#include <QDialog>
#include <functional>

class QLineEdit;
class QPushButton;

namespace qarsilo {
class SettingsStore;
}

/// "Address Book Location": where the address book lives, the settings'
/// "Address Book" value. Empty is the file address.mdb in the working
/// directory; a file name another file; a postgresql:// URL a book on a
/// PostgreSQL server. OK opens the book first: one that cannot be opened is
/// reported and the dialog stays, so the old value is kept.
class CBookLocationDlg : public QDialog {
    Q_OBJECT
public:
    CBookLocationDlg(QWidget* parent, const QString& current);

    QString location() const;
    QLineEdit* field() const { return m_field; }
    QPushButton* browseButton() const { return m_browse; }

    /// Asks for a book file, starting from `current`; empty when cancelled.
    /// Replaceable so tests never block on a file dialog; empty: the file dialog.
    using FileChooser = std::function<QString(QWidget* parent, const QString& current)>;
    static void setFileChooser(FileChooser chooser);
    /// "Browse...": puts the chosen file in the field.
    void browse();

    void accept() override;

private:
    QLineEdit* m_field = nullptr;
    QPushButton* m_browse = nullptr;
};

/// Runs the dialog with the value in `settings` (`run` runs it modally;
/// replaceable in tests); on OK stores the new value there and points every
/// later address book connection at it. Returns whether it changed.
bool changeBookLocation(QWidget* parent, qarsilo::SettingsStore& settings,
                        const std::function<int(QDialog&)>& run);
/// Points every address book connection at the settings' value (at start).
void useBookLocation(const qarsilo::SettingsStore& settings);
