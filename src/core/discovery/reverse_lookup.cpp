#include "core/discovery/reverse_lookup.h"

#include <QMetaObject>
#include <QPointer>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>

namespace qarsilo {

bool isDottedIpv4(const QString& text) {
    // inet_pton takes exactly four decimal numbers (no octal, no short forms).
    in_addr a{};
    return inet_pton(AF_INET, text.toLatin1().constData(), &a) == 1 && text.size() <= 15;
}

std::optional<QString> reverseLookup(const QString& address) {
    if (!isDottedIpv4(address))
        return std::nullopt;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    inet_pton(AF_INET, address.toLatin1().constData(), &sa.sin_addr);
    char host[NI_MAXHOST] = {};
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&sa), sizeof sa, host, sizeof host, nullptr,
                    0, NI_NAMEREQD) != 0)
        return std::nullopt;
    return QString::fromLocal8Bit(host);
}

void startReverseLookups(
    QStringList addresses, QObject* context,
    std::function<void(int, const QString&, const std::optional<QString>&)> onResult,
    std::function<void()> onDone, std::function<std::optional<QString>(const QString&)> lookup) {
    // The resolver cannot be interrupted: the thread runs to its end on its
    // own and posts to the context, whose destruction discards what is pending.
    QPointer<QObject> guard(context);
    std::thread([addresses = std::move(addresses), guard, onResult = std::move(onResult),
                 onDone = std::move(onDone), lookup = std::move(lookup)] {
        for (int i = 0; i < addresses.size(); ++i) {
            std::optional<QString> name = lookup(addresses[i]);
            const QString address = addresses[i];
            if (guard.isNull())
                return;
            QMetaObject::invokeMethod(
                guard.data(), [onResult, i, address, name] { onResult(i, address, name); },
                Qt::QueuedConnection);
        }
        if (!guard.isNull())
            QMetaObject::invokeMethod(
                guard.data(), [onDone] { onDone(); }, Qt::QueuedConnection);
    }).detach();
}

} // namespace qarsilo
