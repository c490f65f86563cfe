#pragma once

#include "gui/stats/chart_view.h"

/// The chart window of the packet size distribution: 13 frame size classes.
class CPacketSizeView : public CChartView {
    Q_OBJECT
public:
    explicit CPacketSizeView(QWidget* parent = nullptr)
        : CChartView(qarsilo::ChartKind::PacketSize, parent) {}
};
