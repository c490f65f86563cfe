#include "core/stats/chart_file_reader.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace qarsilo {

ChartFileReader::ChartFileReader(ChartKind kind)
    : m_kind(kind)
    , m_window(chartKindInfo(kind).window)
    , m_split(m_window)
    , m_readOnce(m_split.usable()) {}

CaptureStartResult ChartFileReader::run(const QString& adapter, LoopEnd& how, QString& error,
                                        const Draw& draw) {
    const int captures = captureWindowParams(m_window).sessions;
    m_seconds.reset(captures);
    // One thread adds for every capture: none may wait for another.
    m_seconds.cancel();
    m_stopped = false;
    if (captures == 1)
        return pass(adapter, m_window, 0, how, error, draw);
    if (m_readOnce)
        return pass(adapter, ChartCaptureSplit::reader(), -1, how, error, draw);
    for (int slot = 0; slot < captures; ++slot) {
        LoopEnd end = LoopEnd::Running;
        QString why;
        const CaptureStartResult started = pass(adapter, m_window, slot, end, why, draw);
        if (!started.ok() || m_stopped)
            return started;
        if (end == LoopEnd::Error && how != LoopEnd::Error) {
            how = end;
            error = why;
        }
    }
    return {};
}

CaptureStartResult ChartFileReader::pass(const QString& adapter, CaptureWindow window, int slot,
                                         LoopEnd& how, QString& error, const Draw& draw) {
    const int captures = captureWindowParams(m_window).sessions;
    const bool split = slot < 0;
    CaptureSession session(window, std::max(slot, 0));
    session.setFileReplay(FileReplay::AsFastAsPossible);
    if (split) {
        session.setHandler([this](const pcap_pkthdr& h, const std::uint8_t* bytes) {
            const unsigned taken = m_split.takenBy(h, bytes);
            for (int i = 0; i < 2; ++i)
                if (taken & (1u << i))
                    m_seconds.add(i, h.ts.tv_sec, chartFrameShare(m_kind, i, h, bytes));
        });
    } else {
        const int at = std::max(slot, 0);
        session.setHandler([this, at](const pcap_pkthdr& h, const std::uint8_t* bytes) {
            m_seconds.add(at, h.ts.tv_sec, chartFrameShare(m_kind, at, h, bytes));
        });
    }
    std::mutex lock;
    std::condition_variable wake;
    bool ended = false;
    session.setEndHandler([&, split, slot](LoopEnd) {
        for (int i = 0; i < captures; ++i)
            if (split || i == std::max(slot, 0))
                m_seconds.finish(i);
        {
            std::lock_guard hold(lock);
            ended = true;
        }
        wake.notify_one();
    });
    const CaptureStartResult started = session.start(adapter);
    if (!started.ok())
        return started;
    for (bool last = false; !last;) {
        {
            std::unique_lock hold(lock);
            wake.wait_for(hold, std::chrono::milliseconds(2), [&] { return ended; });
            last = ended;
        }
        for (const FileSeconds::Second& s : m_seconds.take()) {
            if (!draw(s.second, s.bytes)) {
                m_stopped = true;
                session.stop();
                return started;
            }
        }
    }
    session.stop();
    how = session.loopEnd();
    error = session.loopError();
    return started;
}

} // namespace qarsilo
