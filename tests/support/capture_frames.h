#pragma once

#include "core/analysis/frame.h"

#include <QFile>
#include <QString>
#include <cstdint>
#include <cstring>
#include <memory>
#include <pcap/pcap.h>
#include <vector>

namespace qarsilo::test {

/// One frame of a capture file, in a buffer of exactly its captured length, so
/// that AddressSanitizer catches any read past the captured bytes.
struct CapturedFrame {
    FrameHeader header;
    std::unique_ptr<std::uint8_t[]> bytes;
};

/// Appends every frame of an Ethernet capture file to `frames`. Returns what
/// went wrong, or an empty text.
inline QString readCaptureFile(const QString& path, std::vector<CapturedFrame>& frames) {
    char errbuf[PCAP_ERRBUF_SIZE] = {};
    pcap_t* p = pcap_open_offline(QFile::encodeName(path).constData(), errbuf);
    if (!p)
        return QString::fromLocal8Bit(errbuf);
    if (pcap_datalink(p) != DLT_EN10MB) {
        pcap_close(p);
        return QStringLiteral("link type is not Ethernet");
    }
    pcap_pkthdr* h = nullptr;
    const u_char* data = nullptr;
    int rc;
    while ((rc = pcap_next_ex(p, &h, &data)) == 1) {
        CapturedFrame f{frameHeaderFrom(*h), std::make_unique<std::uint8_t[]>(h->caplen)};
        std::memcpy(f.bytes.get(), data, h->caplen);
        frames.push_back(std::move(f));
    }
    const QString error = rc == PCAP_ERROR ? QString::fromLocal8Bit(pcap_geterr(p)) : QString();
    pcap_close(p);
    return error;
}

} // namespace qarsilo::test
