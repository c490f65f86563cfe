#include "cli/cli_commands.h"
#include "cli/session_wait.h"
#include "core/capture/adapter_name.h"
#include "core/capture/capture_session.h"

#include <cstdio>

#include <chrono>
#include <csignal>

using namespace qarsilo;

QString sourceAdapter(const QString& source) {
    return adapterNameText(sourceArgument(source).name);
}

SourceArgument sourceArgument(const QString& source) {
    const SourceArgument parsed = parseSourceArgument(source);
    if (parsed.commandNotRun)
        std::fprintf(stderr, "qarsilo-cli: %s\n", qPrintable(commandNotRunMessage(source)));
    return parsed;
}

AdapterName fileOrStreamSource(const QString& source) {
    AdapterName name = sourceArgument(source).name;
    if (name.kind == AdapterKind::Device)
        name = {AdapterKind::CaptureFile, source};
    return name;
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
