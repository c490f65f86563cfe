#include "cli/cli_commands.h"
#include "cli/session_wait.h"
#include "core/capture/adapter_name.h"
#include "core/capture/capture_session.h"
#include "core/capture/native_path.h"

#include <sys/stat.h>

#include <chrono>
#include <csignal>

using namespace qarsilo;

QString sourceAdapter(const QString& source) {
    if (isCaptureFileAdapter(source) || isStreamAdapter(source))
        return source;
    // Names are checked as the file system holds them (not all are UTF-8).
    struct stat st {};
    if (::stat(nativeFileName(source).constData(), &st) == 0 || source.contains(QLatin1Char('/')) ||
        source.endsWith(QLatin1String(".pcap")) || source.endsWith(QLatin1String(".pcapng")) ||
        source.endsWith(QLatin1String(".cap")))
        return captureFileAdapterName(source);
    return source;
}

namespace {
volatile std::sig_atomic_t g_sessionInterrupted = 0;

extern "C" void onSessionInterrupt(int) {
    g_sessionInterrupted = 1;
}
} // namespace

SessionEndWait::SessionEndWait(CaptureSession& session) {
    session.setEndHandler([this](LoopEnd) {
        {
            std::lock_guard guard(m_lock);
            m_done = true;
        }
        m_wake.notify_all();
    });
}

void SessionEndWait::wait(bool interruptible) {
    struct sigaction action {};
    struct sigaction oldInt {};
    struct sigaction oldTerm {};
    action.sa_handler = &onSessionInterrupt;
    if (interruptible) {
        g_sessionInterrupted = 0;
        sigaction(SIGINT, &action, &oldInt);
        sigaction(SIGTERM, &action, &oldTerm);
    }
    {
        std::unique_lock guard(m_lock);
        while (!m_done && !(interruptible && g_sessionInterrupted))
            m_wake.wait_for(guard, std::chrono::milliseconds(50));
    }
    if (interruptible) {
        sigaction(SIGINT, &oldInt, nullptr);
        sigaction(SIGTERM, &oldTerm, nullptr);
    }
}
