#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace qarsilo {

/// True for a dotted-decimal IPv4 address of four numbers 0 to 255.
bool isDottedIpv4(const QString& text);

/// The host name of `address` from the system's resolver (a reverse lookup,
/// which sends a query). Nothing for no answer; a text that is not an IPv4
/// address gives nothing without any query.
std::optional<QString> reverseLookup(const QString& address);

/// Looks the addresses up one after the other on a thread of its own and hands
/// each answer to `onResult` on `context`'s thread, in order, then calls
/// `onDone` there. Answers arriving after `context` is destroyed are dropped.
/// `lookup` replaces the resolver (tests).
void startReverseLookups(
    QStringList addresses, QObject* context,
    std::function<void(int index, const QString& address, const std::optional<QString>& name)>
        onResult,
    std::function<void()> onDone,
    std::function<std::optional<QString>(const QString&)> lookup = reverseLookup);

} // namespace qarsilo
