#pragma once

#include "core/lists/list_print_layout.h"

#include <QDialog>

class QComboBox;
class QLineEdit;
class QPrinter;
class QPushButton;
class QSpinBox;
class QTabWidget;

/// "List print": the page header, page number format, footer, the three
/// fonts with their sizes, and the margins, then print, preview or cancel.
class CListPrintDlg : public QDialog {
    Q_OBJECT
public:
    enum Choice { Cancel, Print, Preview };

    /// Shows `settings`; "printer setup .." sets up `printer`.
    CListPrintDlg(const qarsilo::PrintSettings& settings, QPrinter& printer,
                  QWidget* parent = nullptr);

    /// How the dialog was left.
    Choice choice() const { return m_choice; }
    /// The settings as the fields show them.
    qarsilo::PrintSettings settings() const;

    /// The sizes offered in the size lists.
    static const QList<int>& sizes();

    QTabWidget* tabs() const { return m_tabs; }
    QLineEdit* headerText() const { return m_header; }
    QLineEdit* pageFormat() const { return m_page; }
    QLineEdit* footerText() const { return m_footer; }
    QComboBox* headFont() const { return m_headFont; }
    QComboBox* headSize() const { return m_headSize; }
    QComboBox* footFont() const { return m_footFont; }
    QComboBox* footSize() const { return m_footSize; }
    QComboBox* printFont() const { return m_printFont; }
    QComboBox* printSize() const { return m_printSize; }
    QSpinBox* marginTop() const { return m_top; }
    QSpinBox* marginRight() const { return m_right; }
    QSpinBox* marginLeft() const { return m_left; }
    QSpinBox* marginBottom() const { return m_bottom; }
    QPushButton* printButton() const { return m_print; }
    QPushButton* previewButton() const { return m_preview; }
    QPushButton* setupButton() const { return m_setup; }
    QPushButton* cancelButton() const { return m_cancel; }

private:
    void leave(Choice choice);
    void printerSetup();

    QPrinter& m_printer;
    qarsilo::PrintSettings m_initial;
    Choice m_choice = Cancel;
    QTabWidget* m_tabs;
    QLineEdit* m_header;
    QLineEdit* m_page;
    QLineEdit* m_footer;
    QComboBox* m_headFont;
    QComboBox* m_headSize;
    QComboBox* m_footFont;
    QComboBox* m_footSize;
    QComboBox* m_printFont;
    QComboBox* m_printSize;
    QSpinBox* m_top;
    QSpinBox* m_right;
    QSpinBox* m_left;
    QSpinBox* m_bottom;
    QPushButton* m_print;
    QPushButton* m_preview;
    QPushButton* m_setup;
    QPushButton* m_cancel;
};
