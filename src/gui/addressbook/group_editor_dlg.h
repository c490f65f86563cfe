#pragma once

#include "core/addressbook/address_database.h"

#include <QDialog>
#include <array>
#include <functional>
#include <optional>

class CReportList;
class QPushButton;

/// "Edit Menu": the group editor. Three lists (locations, workgroups, IP
/// ranges) with an Add and a Delete button under each; every add and delete
/// goes straight to the address book's group tables.
class CGroupEditorDlg : public QDialog {
    Q_OBJECT
public:
    /// Asks for one line of text under a prompt; nothing when cancelled.
    using Prompt = std::function<std::optional<QString>(QWidget* parent, const QString& prompt)>;

    /// List numbers under which the three lists keep their column widths.
    static constexpr int kLocationListId = 1021;
    static constexpr int kWorkgroupListId = 1022;
    static constexpr int kSubnetListId = 1023;

    explicit CGroupEditorDlg(QWidget* parent = nullptr,
                             QString fileName = qarsilo::AddressDatabase::defaultFileName());

    /// Replaces the "New Info" dialog (tests).
    void setPrompt(Prompt prompt) { m_prompt = std::move(prompt); }

    CReportList* list(qarsilo::GroupTable table) const;
    QPushButton* addButton(qarsilo::GroupTable table) const;
    QPushButton* deleteButton(qarsilo::GroupTable table) const;
    QPushButton* doneButton() const { return m_done; }

    /// The prompt the Add button of that list asks.
    static QString addPrompt(qarsilo::GroupTable table);

public Q_SLOTS:
    /// Asks for a name, adds it unless present, then reads the list again.
    void addTo(qarsilo::GroupTable table);
    /// Deletes the first selected name of the list after a confirmation.
    void deleteFrom(qarsilo::GroupTable table);
    /// Reads one list again from its table.
    void reload(qarsilo::GroupTable table);
    void done(int result) override;

private:
    struct Column {
        qarsilo::GroupTable table;
        CReportList* list = nullptr;
        QPushButton* add = nullptr;
        QPushButton* remove = nullptr;
    };
    const Column& column(qarsilo::GroupTable table) const;

    qarsilo::AddressDatabase m_db;
    std::array<Column, 3> m_columns;
    QPushButton* m_done = nullptr;
    Prompt m_prompt;
};
