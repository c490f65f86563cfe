#pragma once

#include "gui/stats/chart_view.h"

/// The chart window of the IPv6 protocols: the next header field of IPv6 frames.
class PDv6L3View : public CChartView {
    Q_OBJECT
public:
    explicit PDv6L3View(QWidget* parent = nullptr)
        : CChartView(qarsilo::ChartKind::IPv6, parent) {}
};
