#pragma once

#include <QString>

namespace qarsilo::app {

/// The device name every capture reads when it starts (a "file:" name selects a
/// capture file). Empty means no adapter is selected. Changed on the interface
/// thread only: at start-up and by the Select adapter dialog.
QString selectedAdapter();
void setSelectedAdapter(const QString& name);

/// The chart views' cumulative flag, toggled from the Network Charts menu.
/// Charts read it from their timers; atomic so a capture thread may read it too.
bool cumulative();
void setCumulative(bool on);

} // namespace qarsilo::app
