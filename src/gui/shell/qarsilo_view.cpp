#include "gui/shell/qarsilo_view.h"

#include "core/app/commands.h"

CqarsiloView::CqarsiloView(QWidget* parent)
    : CView(qarsilo::view::Start, parent) {
    setAutoFillBackground(true);
}

void CqarsiloView::onInitialUpdate() {
    setWindowTitle(QStringLiteral("Main View"));
}
