#pragma once

#include "gui/stats/chart_view.h"

/// The chart window of IPv4 against IPv6 transports, one capture each.
class CPDv4v6L3View : public CChartView {
    Q_OBJECT
public:
    explicit CPDv4v6L3View(QWidget* parent = nullptr)
        : CChartView(qarsilo::ChartKind::IPv4IPv6, parent) {}
};
