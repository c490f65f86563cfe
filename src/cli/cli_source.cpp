#include "cli/cli_commands.h"
#include "cli/session_wait.h"
#include "core/capture/adapter_name.h"
#include "core/capture/capture_session.h"
#include "core/capture/stream_source.h"

#include <cstdio>

#include <atomic>
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
// Set by the handler; read by the waiting thread and by writers on the
// capture thread. Atomics without locks are safe in a handler.
std::atomic<int> g_sessionInterrupted{0};
// While start waits for a stream's header, a signal ends the stream's command.
std::atomic<int> g_sessionStarting{0};
static_assert(std::atomic<int>::is_always_lock_free);

constexpr std::array<int, 3> kCaughtSignals{SIGINT, SIGTERM, SIGHUP};

extern "C" void onSessionInterrupt(int) {
    g_sessionInterrupted = 1;
    if (g_sessionStarting)
        StreamSource::signalChildGroups(SIGTERM);
}
} // namespace

bool sessionInterrupted() {
    return g_sessionInterrupted != 0;
}

SessionEndWait::SessionEndWait(CaptureSession& session)
    : SessionEndWait(session, false) {}

SessionEndWait::SessionEndWait(CaptureSession& session, bool interruptible)
    : m_interruptible(interruptible) {
    session.setEndHandler([this](LoopEnd) {
        {
            std::lock_guard guard(m_lock);
            m_done = true;
        }
        m_wake.notify_all();
    });
    if (interruptible) {
        g_sessionStarting = 1;
        catchSignals();
    }
}

void SessionEndWait::catchSignals() {
    // Without SA_RESTART: a write to a blocked output returns at the signal.
    struct sigaction action {};
    action.sa_handler = &onSessionInterrupt;
    sigemptyset(&action.sa_mask);
    g_sessionInterrupted = 0;
    for (std::size_t i = 0; i < kCaughtSignals.size(); ++i)
        sigaction(kCaughtSignals[i], &action, &m_old[i]);
    m_caught = true;
}

SessionEndWait::~SessionEndWait() {
    release();
}

void SessionEndWait::wait() {
    // Start has returned: Stop ends the command from here on.
    g_sessionStarting = 0;
    std::unique_lock guard(m_lock);
    while (!m_done && !(m_interruptible && g_sessionInterrupted))
        m_wake.wait_for(guard, std::chrono::milliseconds(50));
}

void SessionEndWait::wait(bool interruptible) {
    const bool catchHere = interruptible && !m_caught;
    if (catchHere)
        catchSignals();
    m_interruptible = interruptible;
    wait();
    if (catchHere)
        release();
}

void SessionEndWait::release() {
    g_sessionStarting = 0;
    if (!m_caught)
        return;
    for (std::size_t i = 0; i < kCaughtSignals.size(); ++i)
        sigaction(kCaughtSignals[i], &m_old[i], nullptr);
    m_caught = false;
}
