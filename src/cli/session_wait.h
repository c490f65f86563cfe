#pragma once

#include "core/capture/capture_session.h"

#include <signal.h>

#include <array>
#include <condition_variable>
#include <mutex>

/// Waits for a capture session that reads a file or a stream to reach the
/// end of its frames. Made before the session starts: it takes the session's
/// end handler.
///
/// With `interruptible` (a stream, which may never end, or a device), SIGINT,
/// SIGTERM and SIGHUP are caught from construction until release(): they end
/// the wait, so that what was read so far is still used. One that comes
/// while start still waits for a stream's capture header ends the stream's
/// command, so that start returns at once. A hang-up is one more way a
/// stream ends (a closed terminal or ssh connection).
class SessionEndWait {
public:
    /// Catches no signal before wait(bool).
    explicit SessionEndWait(qarsilo::CaptureSession& session);
    SessionEndWait(qarsilo::CaptureSession& session, bool interruptible);
    /// Releases the signals.
    ~SessionEndWait();
    SessionEndWait(const SessionEndWait&) = delete;
    SessionEndWait& operator=(const SessionEndWait&) = delete;

    /// Returns once the session's loop has ended or a caught signal came.
    void wait();
    /// As wait(), catching the signals for the wait only when `interruptible`.
    void wait(bool interruptible);
    /// The signals' earlier handling comes back (after the session's stop:
    /// until then a signal must not end the program with its command running).
    void release();

private:
    std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_done = false;
    bool m_interruptible;
    bool m_caught = false;
    void catchSignals();
    std::array<struct sigaction, 3> m_old{}; // SIGINT, SIGTERM, SIGHUP
};

/// A signal caught by a SessionEndWait came (since the last one was made).
/// Safe from any thread.
bool sessionInterrupted();
