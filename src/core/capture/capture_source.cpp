#include "core/capture/capture_source.h"

namespace qarsilo {

CaptureSource::~CaptureSource() {
    if (m_handle)
        pcap_close(m_handle);
}

std::optional<SourceResult> CaptureSource::openInBackground(const FrameSink&, bpf_program*) {
    return SourceResult{};
}

void CaptureSource::closeHandle() {
    if (m_handle) // none when a stream was stopped before its header
        pcap_close(m_handle);
    m_handle = nullptr;
}

QString pcapText(pcap_t* handle) {
    return QString::fromLocal8Bit(pcap_geterr(handle));
}

QString notEthernetText(int linkType) {
    const char* name = pcap_datalink_val_to_name(linkType);
    return QStringLiteral("its frames are not Ethernet (link type %1)")
        .arg(name ? QString::fromLatin1(name) : QString::number(linkType));
}

SourceResult liveOpenFailure(LiveOpenStatus status, const QString& error, int linkType,
                             const QString& source) {
    switch (status) {
    case LiveOpenStatus::NotEthernet: {
        const QString why = notEthernetText(linkType);
        return {CaptureStatus::NotEthernet, why, source + QStringLiteral(": ") + why};
    }
    case LiveOpenStatus::NetmaskFailed:
        return {CaptureStatus::NetmaskFailed, error, {}};
    case LiveOpenStatus::CompileFailed:
        return {CaptureStatus::CompileFailed, error, {}};
    case LiveOpenStatus::SetFilterFailed:
        return {CaptureStatus::SetFilterFailed, error, {}};
    case LiveOpenStatus::Ok:
    case LiveOpenStatus::OpenFailed:
        break;
    }
    return {CaptureStatus::OpenFailed, error, {}};
}

} // namespace qarsilo
