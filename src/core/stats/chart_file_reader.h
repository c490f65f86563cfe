#pragma once

#include "core/capture/capture_session.h"
#include "core/stats/chart_capture_split.h"
#include "core/stats/distribution_tables.h"
#include "core/stats/file_seconds.h"

#include <QString>

#include <functional>

namespace qarsilo {

/// A chart window's bytes by second of a capture file, read as fast as
/// possible. The window's captures read the file once between them: a
/// two-capture window's filters are run on each frame read for both (see
/// ChartCaptureSplit), else each capture reads the file in turn. Each
/// capture adds its frames to its own current second, as the window's
/// threads do (see FileSeconds), and the seconds every capture has passed
/// are handed on while the file is still read.
class ChartFileReader {
public:
    using Bytes = FileSeconds::Bytes;
    /// Called on the reading thread for each second, in order; false ends the reading.
    using Draw = std::function<bool(long long second, const Bytes& bytes)>;

    explicit ChartFileReader(ChartKind kind);

    /// Whether a two-capture window reads the file once for both captures:
    /// by default when its filters can be split. Off, each capture reads the
    /// file in turn with its own filter.
    bool readsOnce() const { return m_readOnce; }
    void setReadOnce(bool on) { m_readOnce = on && m_split.usable(); }

    /// Reads `adapter` (a capture file's adapter name). `how` and `error`
    /// tell how the reading ended (the first failure of the captures).
    CaptureStartResult run(const QString& adapter, LoopEnd& how, QString& error, const Draw& draw);

private:
    // One reading of the file: by `window`'s capture `slot`, or (slot -1) for
    // every capture.
    CaptureStartResult pass(const QString& adapter, CaptureWindow window, int slot, LoopEnd& how,
                            QString& error, const Draw& draw);

    ChartKind m_kind;
    CaptureWindow m_window;
    ChartCaptureSplit m_split;
    bool m_readOnce = false;
    FileSeconds m_seconds;
    bool m_stopped = false;
};

} // namespace qarsilo
