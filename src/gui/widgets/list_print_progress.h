#pragma once

#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;

/// The window shown while pages go to the printer: what is printed where, a
/// busy animation, the pages done, the percentage and the time left. Cancel
/// asks the print loop to abort the document.
class CPrintProgressDlg : public QDialog {
    Q_OBJECT
public:
    /// `output` is "on PORT" or "to FILE".
    CPrintProgressDlg(const QString& docName, const QString& printerName, const QString& output,
                      int pageCount, QWidget* parent = nullptr);

    /// Shows page `page` of the job as started, with `secondsLeft` to go.
    void showPage(int page, int secondsLeft);
    bool cancelled() const { return m_cancelled; }

    QLabel* firstLine() const { return m_line; }
    QProgressBar* bar() const { return m_bar; }
    QLabel* percentage() const { return m_percent; }
    QLabel* status() const { return m_status; }
    QPushButton* cancelButton() const { return m_cancel; }

protected:
    void reject() override;

private:
    int m_pageCount;
    bool m_cancelled = false;
    QLabel* m_line;
    QProgressBar* m_busy;
    QProgressBar* m_bar;
    QLabel* m_percent;
    QLabel* m_status;
    QPushButton* m_cancel;
};
