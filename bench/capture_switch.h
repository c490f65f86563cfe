#pragma once

// --capture process|helper for the live benchmarks: the device is opened in
// this process, or by the capture helper program that streams its frames here.

#include "core/capture/capture_session.h"

#include <QStringList>

#include <cstdio>

namespace qarsilo::bench {

/// Applies the switch; false (with a message) for an unknown value.
inline bool applyCaptureSwitch(const QStringList& args) {
    QString mode = QStringLiteral("helper");
    for (qsizetype i = 1; i + 1 < args.size(); ++i)
        if (args[i] == u"--capture")
            mode = args[i + 1];
    if (mode == u"process") {
        CaptureSession::setCaptureHelper(QStringLiteral(""));
    } else if (mode == u"helper") {
        CaptureSession::setCaptureHelper(QStringLiteral(QARSILO_CAPTURE_HELPER_PATH));
    } else {
        std::fprintf(stderr, "--capture takes process or helper, not %s\n", qPrintable(mode));
        return false;
    }
    std::printf("capture: %s\n", mode == u"process" ? "in process"
                                                    : qPrintable(QStringLiteral("helper ") +
                                                                 CaptureSession::captureHelper()));
    return true;
}

} // namespace qarsilo::bench
