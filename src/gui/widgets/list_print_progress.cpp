#include "gui/widgets/list_print_progress.h"

#include "core/lists/list_print_layout.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

CPrintProgressDlg::CPrintProgressDlg(const QString& docName, const QString& printerName,
                                     const QString& output, int pageCount, QWidget* parent)
    : QDialog(parent)
    , m_pageCount(pageCount)
    , m_line(new QLabel(
          QStringLiteral("Printing %1 on %2 on %3  ..").arg(docName, printerName, output), this))
    , m_busy(new QProgressBar(this))
    , m_bar(new QProgressBar(this))
    , m_percent(new QLabel(this))
    , m_status(new QLabel(this))
    , m_cancel(new QPushButton(QStringLiteral("Cancel"), this)) {
    setWindowTitle(QStringLiteral("Stampa di %1 in corso ..").arg(docName));
    m_line->setWordWrap(true);
    // A bar without a range runs as an animation of its own.
    m_busy->setRange(0, 0);
    m_busy->setTextVisible(false);
    m_busy->setMaximumHeight(8);
    m_bar->setRange(0, pageCount);
    m_bar->setValue(0);
    m_bar->setTextVisible(false);
    auto* barRow = new QHBoxLayout;
    barRow->addWidget(m_bar, 1);
    barRow->addWidget(m_percent);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_line);
    layout->addWidget(m_busy);
    layout->addLayout(barRow);
    layout->addWidget(m_status);
    layout->addWidget(m_cancel, 0, Qt::AlignRight);
    connect(m_cancel, &QPushButton::clicked, this, &CPrintProgressDlg::reject);
    setMinimumWidth(380);
}

void CPrintProgressDlg::showPage(int page, int secondsLeft) {
    m_bar->setValue(page);
    m_percent->setText(QStringLiteral("%1 %").arg(m_pageCount > 0 ? page * 100 / m_pageCount : 0));
    m_status->setText(QStringLiteral("Page %1 of %2, %3 left to end ..")
                          .arg(page)
                          .arg(m_pageCount)
                          .arg(qarsilo::timeLeftText(secondsLeft, m_pageCount)));
}

void CPrintProgressDlg::reject() {
    // Closing the window cancels the job; the print loop closes it.
    m_cancelled = true;
}
