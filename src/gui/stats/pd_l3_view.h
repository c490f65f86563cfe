#pragma once

#include "gui/stats/chart_view.h"

/// The chart window of the IPv4 protocols: the protocol field of IPv4 frames.
class CPDL3View : public CChartView {
    Q_OBJECT
public:
    explicit CPDL3View(QWidget* parent = nullptr)
        : CChartView(qarsilo::ChartKind::IPv4, parent) {}
};
