#include "gui/shell/view_registry.h"

#include "core/app/commands.h"
#include "gui/analysis/capture_decode_view.h"
#include "gui/shell/qarsilo_view.h"
#include "gui/stats/general_info_view.h"
#include "gui/stats/packet_size_view.h"
#include "gui/stats/pd_app_view.h"
#include "gui/stats/pd_l2_view.h"
#include "gui/stats/pd_l3_view.h"
#include "gui/stats/pd_v4v6_l3_view.h"
#include "gui/stats/pd_v6_l3_view.h"
#include "gui/stats/single_node_view.h"
#include "gui/trace/traffic_trace_single.h"

ViewRegistry ViewRegistry::builtin() {
    ViewRegistry r;
    r.add(qarsilo::view::Start, QStringLiteral("CqarsiloView"),
          [](QWidget* parent) -> CView* { return new CqarsiloView(parent); });
    r.add(qarsilo::view::CaptureDecode, QStringLiteral("CCaptureDecodeView"),
          [](QWidget* parent) -> CView* { return new CCaptureDecodeView(parent); });
    r.add(qarsilo::view::PacketSize, QStringLiteral("CPacketSizeView"),
          [](QWidget* parent) -> CView* { return new CPacketSizeView(parent); });
    r.add(qarsilo::view::PDL2, QStringLiteral("CPDL2View"),
          [](QWidget* parent) -> CView* { return new CPDL2View(parent); });
    r.add(qarsilo::view::PDL3, QStringLiteral("CPDL3View"),
          [](QWidget* parent) -> CView* { return new CPDL3View(parent); });
    r.add(qarsilo::view::PDv6L3, QStringLiteral("PDv6L3View"),
          [](QWidget* parent) -> CView* { return new PDv6L3View(parent); });
    r.add(qarsilo::view::PDApplication, QStringLiteral("CPDAppView"),
          [](QWidget* parent) -> CView* { return new CPDAppView(parent); });
    r.add(qarsilo::view::PDv4v6L3, QStringLiteral("CPDv4v6L3View"),
          [](QWidget* parent) -> CView* { return new CPDv4v6L3View(parent); });
    r.add(qarsilo::view::TraceSingle, QStringLiteral("CTrafficTraceSingle"),
          [](QWidget* parent) -> CView* { return new CTrafficTraceSingle(parent); });
    r.add(qarsilo::view::GeneralInfo, QStringLiteral("CGeneralInfoView"),
          [](QWidget* parent) -> CView* { return new CGeneralInfoView(parent); });
    r.add(qarsilo::view::SingleNode, QStringLiteral("CSingleNodeView"),
          [](QWidget* parent) -> CView* { return new CSingleNodeView(parent); });
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
