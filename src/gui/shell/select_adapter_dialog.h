#pragma once

#include "core/app/settings_store.h"
#include "core/capture/adapter_list.h"

#include <QDialog>
#include <vector>

class QLabel;
class QLineEdit;
class QTreeWidget;
class QTreeWidgetItem;

/// "Select a network adapter": the capture devices with their descriptions.
/// Choosing a row makes it the selected adapter for this run at once; OK also
/// stores it as "Adapter Name" for the next runs.
class CSelectAdapterDlg : public QDialog {
    Q_OBJECT
public:
    /// `adapters` in the order to show; `current` is the adapter in use (its
    /// row is preselected, matched without regard to case).
    CSelectAdapterDlg(std::vector<qarsilo::AdapterInfo> adapters, QString currentAdapter,
                      qarsilo::SettingsStore store = qarsilo::SettingsStore(),
                      QWidget* parent = nullptr);

    /// The adapter the dialog holds now.
    const QString& currentAdapter() const { return m_current; }
    QTreeWidget* list() const { return m_list; }
    QLineEdit* currentField() const { return m_field; }
    /// A command whose standard output is a pcap stream (a "pipe:" adapter);
    /// it is the choice while no row is selected.
    QLineEdit* commandField() const { return m_command; }

public Q_SLOTS:
    void accept() override;

private Q_SLOTS:
    void onListClicked();
    void onListDoubleClicked(QTreeWidgetItem* item, int column);
    void onCommandEdited(const QString& text);

private:
    void fill();
    /// The first selected row, else the first row, else null.
    QTreeWidgetItem* chosenRow() const;
    /// The selected row, else the command, else the first row; empty for none.
    QString chosenAdapter() const;

    std::vector<qarsilo::AdapterInfo> m_adapters;
    QString m_current;
    qarsilo::SettingsStore m_store;
    QTreeWidget* m_list = nullptr;
    QLineEdit* m_field = nullptr;
    QLineEdit* m_command = nullptr;
};

/// Runs the dialog modally over `parent` with this machine's capture devices.
void runSelectAdapterDialog(QWidget* parent);
