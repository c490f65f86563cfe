#pragma once

#include "gui/stats/chart_view.h"

/// The chart window of the application protocols: TCP and UDP ports, one capture each.
class CPDAppView : public CChartView {
    Q_OBJECT
public:
    explicit CPDAppView(QWidget* parent = nullptr)
        : CChartView(qarsilo::ChartKind::Application, parent) {}
};
