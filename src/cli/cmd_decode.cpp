#include "cli/cli_commands.h"

#include "core/analysis/decode_tree.h"
#include "core/analysis/frame.h"
#include "core/analysis/hex_dump.h"
#include "core/capture/adapter_name.h"
#include "core/capture/capture_source.h"
#include "core/capture/native_path.h"

#include <pcap/pcap.h>

#include <cstdio>

using namespace qarsilo;

namespace {

constexpr const char* kUsage = "usage: qarsilo-cli decode SOURCE N\n"
                               "  SOURCE  a capture file (pcap or pcapng)\n"
                               "  N       the frame to decode, counted from 1\n";

int fail(int code, const QString& message) {
    std::fprintf(stderr, "qarsilo-cli decode: %s\n", qPrintable(message));
    return code;
}

// Digits only: "+1", " 1" or "1e3" are not frame numbers.
bool parseFrameNumber(const QString& text, qulonglong& number) {
    if (text.isEmpty() || text.size() > 19)
        return false;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    number = text.toULongLong();
    return number >= 1;
}

class PcapFile {
public:
    explicit PcapFile(pcap_t* p)
        : m_p(p) {}
    ~PcapFile() {
        if (m_p)
            pcap_close(m_p);
    }
    PcapFile(const PcapFile&) = delete;
    PcapFile& operator=(const PcapFile&) = delete;
    pcap_t* get() const { return m_p; }

private:
    pcap_t* m_p;
};

} // namespace

// Frame N of SOURCE as the analyzer shows it after a double-click: the decode
// tree (two blanks of indent per level, one node per line), then the hex dump
// line by line (the text box's "\r\n" line ends become "\n").
int runDecode(const QStringList& args) {
    if (args.size() != 2) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const AdapterName picked = fileOrStreamSource(args[0]);
    // libpcap reads "-" as the standard input; a command is not run here.
    const QString path = picked.kind == AdapterKind::CaptureFile ? picked.argument : args[0];
    qulonglong wanted = 0;
    if (!parseFrameNumber(args[1], wanted)) {
        std::fprintf(stderr, "qarsilo-cli decode: N must be a frame number from 1 up, not '%s'\n%s",
                     qPrintable(args[1]), kUsage);
        return 2;
    }

    char errbuf[PCAP_ERRBUF_SIZE] = {};
    const PcapFile file(pcap_open_offline(nativeFileName(path).constData(), errbuf));
    if (!file.get()) {
        return fail(1, QStringLiteral("cannot open capture file '%1': %2")
                           .arg(displayFileName(path),
                                captureFileOpenError(path, QString::fromLocal8Bit(errbuf))));
    }
    const int linkType = pcap_datalink(file.get());
    if (linkType != DLT_EN10MB) {
        // libpcap names only the link types it knows; the others go by number.
        return fail(1, QStringLiteral("cannot decode '%1': %2")
                           .arg(displayFileName(path), notEthernetText(linkType)));
    }

    pcap_pkthdr* header = nullptr;
    const u_char* bytes = nullptr;
    qulonglong number = 0;
    int rc = 0;
    while ((rc = pcap_next_ex(file.get(), &header, &bytes)) == 1) {
        if (++number == wanted)
            break;
    }
    if (rc == PCAP_ERROR) {
        return fail(1, QStringLiteral("reading '%1' failed after %2 frames: %3")
                           .arg(displayFileName(path))
                           .arg(number)
                           .arg(QString::fromLocal8Bit(pcap_geterr(file.get()))));
    }
    if (rc != 1) {
        return fail(1, QStringLiteral("'%1' holds %2 frames; there is no frame %3")
                           .arg(displayFileName(path))
                           .arg(number)
                           .arg(wanted));
    }

    const FrameHeader frame = frameHeaderFrom(*header);
    QString dump = hexDump(frame, bytes);
    dump.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    const QByteArray out = (decodeTreeText(decodeFrame(frame, bytes)) + dump).toUtf8();
    if (std::fwrite(out.constData(), 1, static_cast<std::size_t>(out.size()), stdout) !=
            static_cast<std::size_t>(out.size()) ||
        std::fflush(stdout) != 0) {
        rememberOutputError();
        return 1; // finishOutput says why
    }
    return 0;
}
