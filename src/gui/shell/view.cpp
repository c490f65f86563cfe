#include "gui/shell/view.h"

CView::CView(int templateId, QWidget* parent)
    : QWidget(parent)
    , m_templateId(templateId) {}

CView::~CView() = default;

void CView::initialUpdate(ViewHost* host) {
    m_host = host;
    onInitialUpdate();
}

void CView::onInitialUpdate() {}

bool CView::onCommand(int) {
    return false;
}

bool CView::isCommandEnabled(int) const {
    return false;
}

bool CView::applyDisplayFilterFromHost(const QString&) {
    return false;
}
