#pragma once

#include <cstddef>
#include <string>

/// The standard output of a command that writes while it reads (on the
/// capture thread): whole pieces go out as they are complete, and a reader
/// that stops reading holds the writer up only until a caught signal (see
/// sessionInterrupted). Then the rest is dropped and the output has failed,
/// so the session can still be stopped. Nothing else may write the standard
/// output meanwhile.
class OutputWriter {
public:
    OutputWriter();

    /// The text not yet written.
    std::string& text() { return m_text; }
    /// Writes the text; false once a write failed or was given up.
    bool flush();
    bool failed() const { return m_failed; }
    /// The output was given up after a signal, not refused by the system.
    bool abandoned() const { return m_abandoned; }

private:
    bool m_mayBlock;
    bool m_failed = false;
    bool m_abandoned = false;
    std::string m_text;
};
