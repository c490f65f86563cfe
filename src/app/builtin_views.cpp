#include "app/builtin_views.h"

#include "core/app/commands.h"
#include "gui/addressbook/address_book_dlg.h"
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
#include "gui/stats/talk_view.h"
#include "gui/trace/traffic_trace_single.h"

namespace {

// The windows that pick a node get the address book as their picker.
PickedNode pickFromAddressBook(QWidget* parent) {
    return runNodePicker(parent);
}

template <typename View> CView* withPicker(View* view, void (View::*set)(qarsilo::NodePicker)) {
    (view->*set)(pickFromAddressBook);
    return view;
}

} // namespace

ViewRegistry builtinViews() {
    ViewRegistry r;
    r.add(qarsilo::view::Start, QStringLiteral("CqarsiloView"),
          [](QWidget* parent) -> CView* { return new CqarsiloView(parent); });
    r.add(qarsilo::view::CaptureDecode, QStringLiteral("CCaptureDecodeView"),
          [](QWidget* parent) -> CView* {
              return withPicker(new CCaptureDecodeView(parent), &CCaptureDecodeView::setNodePicker);
          });
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
          [](QWidget* parent) -> CView* {
              return withPicker(new CTrafficTraceSingle(parent),
                                &CTrafficTraceSingle::setAddressPicker);
          });
    r.add(qarsilo::view::GeneralInfo, QStringLiteral("CGeneralInfoView"),
          [](QWidget* parent) -> CView* { return new CGeneralInfoView(parent); });
    r.add(qarsilo::view::SingleNode, QStringLiteral("CSingleNodeView"),
          [](QWidget* parent) -> CView* {
              return withPicker(new CSingleNodeView(parent), &CSingleNodeView::setPicker);
          });
    r.add(qarsilo::view::Conversations, QStringLiteral("CTalkView"), [](QWidget* parent) -> CView* {
        return new CTalkView(CTalkView::Mode::Conversations, parent);
    });
    r.add(qarsilo::view::Endpoints, QStringLiteral("CTalkView"), [](QWidget* parent) -> CView* {
        return new CTalkView(CTalkView::Mode::Endpoints, parent);
    });
    return r;
}
