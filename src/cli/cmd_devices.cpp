#include "cli/cli_commands.h"

#include "core/capture/adapter_list.h"
#include "core/capture/link_speed.h"

#include <cstdio>

// One line per capture device: name, description and link speed text, tab separated.
int runDevices(const QStringList& args) {
    if (!args.isEmpty()) {
        std::fprintf(stderr, "qarsilo-cli devices: unexpected argument '%s'\n",
                     qPrintable(args.first()));
        return 2;
    }
    QString error;
    const auto devices = qarsilo::pcapDevices(&error);
    if (!error.isEmpty()) {
        std::fprintf(stderr, "qarsilo-cli devices: cannot list capture devices: %s\n",
                     qPrintable(error));
        return 1;
    }
    const qarsilo::SysfsNet sysfs;
    for (const auto& adapter : qarsilo::captureAdapters(devices, sysfs)) {
        const QString line = adapter.name + QLatin1Char('\t') + adapter.description +
                             QLatin1Char('\t') +
                             qarsilo::linkSpeedText(qarsilo::linkSpeedBps(adapter.name, sysfs));
        std::printf("%s\n", line.toLocal8Bit().constData());
    }
    return 0;
}
