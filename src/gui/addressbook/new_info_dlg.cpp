#include "gui/addressbook/new_info_dlg.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

CNewInfoDlg::CNewInfoDlg(const QString& prompt, QWidget* parent)
    : QDialog(parent)
    , m_prompt(new QLabel(prompt, this))
    , m_answer(new QLineEdit(this)) {
    setWindowTitle(QStringLiteral("New Info"));
    m_prompt->setTextFormat(Qt::PlainText);
    m_prompt->setBuddy(m_answer);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_prompt);
    layout->addWidget(m_answer);
    layout->addStretch(1);
    layout->addWidget(buttons);
    setMinimumWidth(280);
}

QString CNewInfoDlg::answer() const {
    return m_answer->text();
}

QString CNewInfoDlg::prompt() const {
    return m_prompt->text();
}
