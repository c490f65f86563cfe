#pragma once

#include "core/capture/capture_session.h"

#include <condition_variable>
#include <mutex>

/// Waits for a capture session that reads a file or a stream to reach the
/// end of its frames. Made before the session starts: it takes the session's
/// end handler.
class SessionEndWait {
public:
    explicit SessionEndWait(qarsilo::CaptureSession& session);

    /// Returns once the session's loop has ended. With `interruptible` (a
    /// stream, which may never end), SIGINT and SIGTERM also end the wait,
    /// so that what was read so far is still used; the signals' earlier
    /// handling comes back afterwards.
    void wait(bool interruptible);

private:
    std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_done = false;
};
