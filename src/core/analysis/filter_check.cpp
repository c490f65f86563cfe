#include "core/analysis/filter_check.h"

#include "core/capture/adapter_name.h"

namespace qarsilo {

namespace {
// The analyzer's snapshot length; some filters (e.g. on packet length) care.
constexpr int kSnapLen = 1514;
} // namespace

FilterCheck::FilterCheck(const QString& adapterName) {
    if (!adapterName.isEmpty() && !isCaptureFileAdapter(adapterName)) {
        char errbuf[PCAP_ERRBUF_SIZE] = {};
        const QByteArray device = adapterName.toLocal8Bit();
        // The adapter's own link type, when it can be opened here: opening
        // it only to learn that, without capturing a frame.
        if (pcap_t* live = pcap_create(device.constData(), errbuf)) {
            pcap_set_snaplen(live, kSnapLen);
            if (pcap_activate(live) >= 0)
                m_linkType = pcap_datalink(live);
            pcap_close(live);
        }
        bpf_u_int32 net = 0;
        bpf_u_int32 mask = 0;
        if (pcap_lookupnet(device.constData(), &net, &mask, errbuf) == 0)
            m_netmask = mask;
    }
    m_dead = pcap_open_dead(m_linkType, kSnapLen);
}

FilterCheck::~FilterCheck() {
    if (m_dead)
        pcap_close(m_dead);
}

QString FilterCheck::check(const QString& expression) const {
    if (expression.isEmpty())
        return {};
    if (!m_dead)
        return QStringLiteral("cannot compile filters");
    bpf_program program{};
    const QByteArray text = expression.toUtf8();
    if (pcap_compile(m_dead, &program, text.constData(), 0, m_netmask) == -1)
        return QString::fromLocal8Bit(pcap_geterr(m_dead));
    pcap_freecode(&program);
    return {};
}

} // namespace qarsilo
