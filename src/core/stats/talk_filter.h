#pragma once

#include "core/stats/talk_tables.h"

#include <QString>

namespace qarsilo {

/// Display filters (libpcap's language, as the analyzer takes them) that
/// select the frames a conversations or endpoints row counted.
///
/// Exact for Ethernet; for IP, TCP and UDP on frames with up to two VLAN
/// tags. Not selected, although counted: TCP and UDP over IPv6 behind
/// extension headers (libpcap tests the ports only right after the fixed
/// IPv6 header). The "other" row has no filter (an empty text).
QString talkConversationFilter(TalkType type, const TalkAddress& a, const TalkAddress& b);
QString talkEndpointFilter(TalkType type, const TalkAddress& address);

} // namespace qarsilo
