#include "shell/view_registry.h"

#include "analysis/capture_decode_view.h"
#include "shell/commands.h"
#include "shell/qarsilo_view.h"

ViewRegistry ViewRegistry::builtin() {
    ViewRegistry r;
    r.add(qarsilo::view::Start, QStringLiteral("CqarsiloView"),
          [](QWidget* parent) -> CView* { return new CqarsiloView(parent); });
    r.add(qarsilo::view::CaptureDecode, QStringLiteral("CCaptureDecodeView"),
          [](QWidget* parent) -> CView* { return new CCaptureDecodeView(parent); });
    return r;
}

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
