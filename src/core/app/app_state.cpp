#include "core/app/app_state.h"

#include <QMutex>
#include <atomic>

namespace qarsilo::app {

namespace {
QMutex g_adapterLock;
QString g_adapter;
std::atomic<bool> g_cumulative{false};
} // namespace

QString selectedAdapter() {
    QMutexLocker lock(&g_adapterLock);
    return g_adapter;
}

void setSelectedAdapter(const QString& name) {
    QMutexLocker lock(&g_adapterLock);
    g_adapter = name;
}

bool cumulative() {
    return g_cumulative.load(std::memory_order_relaxed);
}

void setCumulative(bool on) {
    g_cumulative.store(on, std::memory_order_relaxed);
}

} // namespace qarsilo::app
