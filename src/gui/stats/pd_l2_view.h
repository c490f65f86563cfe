#pragma once

#include "gui/stats/chart_view.h"

/// The chart window of the network layer protocols: Ethernet type or LLC SSAP of every frame.
class CPDL2View : public CChartView {
    Q_OBJECT
public:
    explicit CPDL2View(QWidget* parent = nullptr)
        : CChartView(qarsilo::ChartKind::NetworkLayer, parent) {}
};
