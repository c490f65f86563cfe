#include "gui/widgets/list_print_dlg.h"

#include <QComboBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPageSetupDialog>
#include <QPrinter>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

using qarsilo::PrintSettings;

namespace {

QComboBox* fontList(const QString& stored, QWidget* parent) {
    auto* list = new QComboBox(parent);
    list->addItems(QFontDatabase::families());
    int at = list->findText(stored, Qt::MatchFixedString);
    // A stored name that is not installed shows the font the list prints
    // in instead (ListPageLayout::resolvedFont), not whichever family sorts first.
    if (at < 0)
        at = list->findText(qarsilo::ListPageLayout::resolvedFont(stored, 8).family(),
                            Qt::MatchFixedString);
    list->setCurrentIndex(at >= 0 ? at : 0);
    return list;
}

QComboBox* sizeList(int stored, QWidget* parent) {
    auto* list = new QComboBox(parent);
    list->setEditable(true);
    for (int s : CListPrintDlg::sizes())
        list->addItem(QString::number(s));
    list->setValidator(new QIntValidator(1, 200, list));
    list->setEditText(QString::number(stored));
    return list;
}

int sizeOf(const QComboBox* list, int fallback) {
    bool ok = false;
    const int v = list->currentText().toInt(&ok);
    return ok && v > 0 ? v : fallback;
}

QSpinBox* marginField(int value, QWidget* parent) {
    auto* field = new QSpinBox(parent);
    field->setRange(0, 100);
    field->setSuffix(QStringLiteral(" mm"));
    field->setValue(value);
    return field;
}

} // namespace

const QList<int>& CListPrintDlg::sizes() {
    static const QList<int> s = {6, 8, 9, 10, 11, 12, 14, 16, 18, 20, 22};
    return s;
}

CListPrintDlg::CListPrintDlg(const PrintSettings& settings, QPrinter& printer, QWidget* parent)
    : QDialog(parent)
    , m_printer(printer)
    , m_initial(settings)
    , m_tabs(new QTabWidget(this))
    , m_header(new QLineEdit(settings.pageHead, this))
    , m_page(new QLineEdit(settings.pageFormat, this))
    , m_footer(new QLineEdit(settings.pageFooter, this))
    , m_headFont(fontList(settings.headFont, this))
    , m_headSize(sizeList(settings.headSize, this))
    , m_footFont(fontList(settings.footFont, this))
    , m_footSize(sizeList(settings.footSize, this))
    , m_printFont(fontList(settings.printFont, this))
    , m_printSize(sizeList(settings.printSize, this))
    , m_top(marginField(settings.marginTop, this))
    , m_right(marginField(settings.marginRight, this))
    , m_left(marginField(settings.marginLeft, this))
    , m_bottom(marginField(settings.marginBottom, this))
    , m_print(new QPushButton(QStringLiteral("print .."), this))
    , m_preview(new QPushButton(QStringLiteral("print preview.."), this))
    , m_setup(new QPushButton(QStringLiteral("printer setup .."), this))
    , m_cancel(new QPushButton(QStringLiteral("cancel"), this)) {
    setWindowTitle(QStringLiteral("List print"));

    auto* texts = new QWidget(m_tabs);
    auto* grid = new QGridLayout(texts);
    const auto row = [&](int r, const char* title, QWidget* field, QComboBox* font,
                         QComboBox* size) {
        auto* l = new QLabel(QString::fromLatin1(title), texts);
        l->setBuddy(field);
        grid->addWidget(l, r, 0);
        grid->addWidget(field, r, 1);
        if (font) {
            grid->addWidget(font, r, 2);
            grid->addWidget(size, r, 3);
        }
    };
    row(0, "Header:", m_header, m_headFont, m_headSize);
    row(1, "Page format:", m_page, nullptr, nullptr);
    row(2, "Footer:", m_footer, m_footFont, m_footSize);
    auto* content = new QLabel(QStringLiteral("Content:"), texts);
    content->setBuddy(m_printFont);
    grid->addWidget(content, 3, 0);
    grid->addWidget(m_printFont, 3, 2);
    grid->addWidget(m_printSize, 3, 3);
    grid->setColumnStretch(1, 1);
    // Room for a header such as the default one without scrolling it.
    const int textWidth = fontMetrics().horizontalAdvance(QLatin1Char('x')) * 32;
    for (QLineEdit* field : {m_header, m_page, m_footer})
        field->setMinimumWidth(textWidth);
    grid->setRowStretch(4, 1);
    m_tabs->addTab(texts, QStringLiteral("Headers and Fonts"));

    auto* margins = new QWidget(m_tabs);
    auto* form = new QFormLayout(margins);
    form->addRow(QStringLiteral("&Top:"), m_top);
    form->addRow(QStringLiteral("&Right:"), m_right);
    form->addRow(QStringLiteral("&Left:"), m_left);
    form->addRow(QStringLiteral("&Bottom:"), m_bottom);
    m_tabs->addTab(margins, QStringLiteral("Margins"));

    auto* buttons = new QVBoxLayout;
    for (QPushButton* b : {m_print, m_preview, m_setup, m_cancel})
        buttons->addWidget(b);
    buttons->addStretch(1);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(m_tabs, 1);
    layout->addLayout(buttons);
    m_print->setDefault(true);

    connect(m_print, &QPushButton::clicked, this, [this] { leave(Print); });
    connect(m_preview, &QPushButton::clicked, this, [this] { leave(Preview); });
    connect(m_setup, &QPushButton::clicked, this, &CListPrintDlg::printerSetup);
    connect(m_cancel, &QPushButton::clicked, this, [this] { leave(Cancel); });
}

PrintSettings CListPrintDlg::settings() const {
    PrintSettings s = m_initial;
    s.pageHead = m_header->text();
    s.pageFormat = m_page->text();
    s.pageFooter = m_footer->text();
    s.headFont = m_headFont->currentText();
    s.headSize = sizeOf(m_headSize, m_initial.headSize);
    s.footFont = m_footFont->currentText();
    s.footSize = sizeOf(m_footSize, m_initial.footSize);
    s.printFont = m_printFont->currentText();
    s.printSize = sizeOf(m_printSize, m_initial.printSize);
    s.marginTop = m_top->value();
    s.marginRight = m_right->value();
    s.marginLeft = m_left->value();
    s.marginBottom = m_bottom->value();
    return s;
}

void CListPrintDlg::leave(Choice choice) {
    m_choice = choice;
    if (choice == Cancel)
        reject();
    else
        accept();
}

void CListPrintDlg::printerSetup() {
    QPageSetupDialog setup(&m_printer, this);
    setup.exec();
}
