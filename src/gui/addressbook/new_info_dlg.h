#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;

/// "New Info": asks for one line of text under a prompt.
class CNewInfoDlg : public QDialog {
    Q_OBJECT
public:
    explicit CNewInfoDlg(const QString& prompt, QWidget* parent = nullptr);

    /// The answer exactly as typed (it may be empty).
    QString answer() const;
    QLineEdit* answerField() const { return m_answer; }
    QString prompt() const;

private:
    QLabel* m_prompt;
    QLineEdit* m_answer;
};
