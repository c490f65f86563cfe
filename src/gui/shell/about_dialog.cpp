#include "gui/shell/about_dialog.h"

#include "core/app/toolbar_art.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QVBoxLayout>

CAboutDlg::CAboutDlg(QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(QStringLiteral("About qarsilo"));
    auto* image = new QLabel(this);
    image->setPixmap(QPixmap::fromImage(qarsilo::applicationImage()));
    auto* name = new QLabel(QStringLiteral("<b>qarsilo</b> network monitor"), this);
    auto* version = new QLabel(QStringLiteral("Ver 1.02"), this);
    version->setObjectName(QStringLiteral("version"));
    auto* about = new QLabel(
        QStringLiteral("Packet analyzer, segment and station statistics, traffic charts,\n"
                       "conversation trace and network address book."),
        this);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* texts = new QVBoxLayout;
    texts->addWidget(name);
    texts->addWidget(version);
    texts->addWidget(about);
    auto* top = new QHBoxLayout;
    top->addWidget(image, 0, Qt::AlignTop);
    top->addLayout(texts, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}
