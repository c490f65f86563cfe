#include "core/analysis/file_resume.h"

#include "core/capture/adapter_name.h"

namespace qarsilo {

bool FileResume::begin(const QString& adapter) {
    if (adapter != m_adapter) {
        // Another source: nothing of it has been read yet.
        m_adapter = isCaptureFileAdapter(adapter) ? adapter : QString();
        m_frames = 0;
        m_done = false;
    }
    if (!m_adapter.isEmpty() && m_done)
        return false;
    m_skip = m_frames;
    return true;
}

void FileResume::end(bool readToEnd) {
    if (readToEnd)
        m_done = true;
}

void FileResume::forget() {
    m_done = false;
    m_frames = 0;
}

} // namespace qarsilo
