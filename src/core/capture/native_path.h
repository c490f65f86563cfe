#pragma once

#include <QByteArray>
#include <QString>

namespace qarsilo {

/// File names as the file system holds them: bytes, not always valid UTF-8.
/// A name is carried in a QString with every byte that is not part of valid
/// UTF-8 kept as a lone surrogate (U+DC80..U+DCFF), so that
/// nativeFileName(fileNameFromNative(bytes)) == bytes for every name. Valid
/// UTF-8 names read as they always do.
QString fileNameFromNative(const QByteArray& bytes);
/// The bytes to hand to the system (libpcap, open, stat) for `name`.
QByteArray nativeFileName(const QString& name);
/// `name` for a message: its undecodable bytes shown as "\xFF".
QString displayFileName(const QString& name);
/// Why the capture file `name` did not open, from libpcap's `error`: an empty
/// file says so rather than "truncated dump file".
QString captureFileOpenError(const QString& name, const QString& error);

} // namespace qarsilo
