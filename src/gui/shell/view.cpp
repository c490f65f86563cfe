#include "gui/shell/view.h"

CView::CView(int templateId, QWidget* parent)
    : QWidget(parent)
    , m_templateId(templateId) {}

CView::~CView() = default;

void CView::onInitialUpdate(CMainFrame*) {}

bool CView::onCommand(int) {
    return false;
}

bool CView::isCommandEnabled(int) const {
    return false;
}
