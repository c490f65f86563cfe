#pragma once

#include <QString>

#include <cstddef>

namespace qarsilo {

/// What is known of the capture file read last, so that a new start neither
/// lists its frames twice nor reads a finished file again. The interface
/// thread calls begin(), end() and forget() while nothing captures; the
/// capture thread calls admit() for each frame while it runs.
class FileResume {
public:
    /// A start from `adapter` (an adapter name or "file:..."). False when it
    /// is the capture file read to its end: reading it again would list every
    /// frame twice. Otherwise the frames of it listed already are passed over.
    bool begin(const QString& adapter);
    /// One frame of the running read: false for one the file gave before
    /// (pass it over), true for a new one (counted as listed).
    bool admit() {
        if (m_skip > 0) {
            --m_skip;
            return false;
        }
        ++m_frames;
        return true;
    }
    /// The read stopped; `readToEnd` when it was a file that reached its end.
    void end(bool readToEnd);
    /// The list was emptied: the file's frames are to be listed again.
    void forget();

    /// "file:..." of the file; empty for a device.
    const QString& adapter() const { return m_adapter; }
    /// Its frames listed.
    std::size_t frames() const { return m_frames; }
    /// Read to its end.
    bool finished() const { return m_done; }
    /// Frames the running read still passes over.
    std::size_t skip() const { return m_skip; }

private:
    QString m_adapter;
    std::size_t m_frames = 0; ///< capture thread, while running
    bool m_done = false;
    std::size_t m_skip = 0; ///< capture thread, while running
};

} // namespace qarsilo
