#include "cli/output_writer.h"

#include "cli/cli_commands.h"
#include "cli/session_wait.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <poll.h>
#include <unistd.h>

namespace {
// How long a blocked output is still waited for after a signal.
constexpr auto kGraceAfterSignal = std::chrono::milliseconds(500);
} // namespace

OutputWriter::OutputWriter() {
    struct stat st {};
    // A file takes any write at once; pipes, sockets and terminals may not.
    m_mayBlock = ::fstat(1, &st) != 0 || !S_ISREG(st.st_mode);
}

bool OutputWriter::flush() {
    using Clock = std::chrono::steady_clock;
    std::size_t done = 0;
    bool waiting = false;
    Clock::time_point since;
    while (!m_failed && done < m_text.size()) {
        std::size_t piece = m_text.size() - done;
        if (m_mayBlock) {
            pollfd fd{1, POLLOUT, 0};
            const int n = ::poll(&fd, 1, 50);
            if (n < 0 && errno != EINTR) {
                rememberOutputError();
                m_failed = true;
                break;
            }
            if (n <= 0) {
                if (sessionInterrupted()) {
                    if (!waiting) {
                        waiting = true;
                        since = Clock::now();
                    } else if (Clock::now() - since >= kGraceAfterSignal) {
                        m_failed = m_abandoned = true;
                    }
                }
                continue;
            }
            // Room for PIPE_BUF bytes: a piece that size does not block.
            piece = std::min<std::size_t>(piece, PIPE_BUF);
        }
        const ssize_t written = ::write(1, m_text.data() + done, piece);
        if (written < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            rememberOutputError();
            m_failed = true;
            break;
        }
        done += static_cast<std::size_t>(written);
        waiting = false;
    }
    m_text.clear();
    return !m_failed;
}
