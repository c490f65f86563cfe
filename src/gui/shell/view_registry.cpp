#include "gui/shell/view_registry.h"

void ViewRegistry::add(int templateId, QString className, Factory factory) {
    m_entries[templateId] = {std::move(className), std::move(factory)};
}

CView* ViewRegistry::create(int templateId, QWidget* parent) const {
    const auto it = m_entries.find(templateId);
    return it == m_entries.end() ? nullptr : it->second.factory(parent);
}

QString ViewRegistry::className(int templateId) const {
    const auto it = m_entries.find(templateId);
    return it == m_entries.end() ? QString() : it->second.className;
}
