#include "core/capture/adapter_name.h"

namespace qarsilo {

namespace {
// Adapter names of the form "file:PATH" stand for a capture file that every
// window reads instead of a live adapter.
constexpr QLatin1String kCaptureFilePrefix("file:");
} // namespace

bool AdapterName::selectsSource() const {
    switch (kind) {
    case AdapterKind::None:
        return false;
    case AdapterKind::CaptureFile:
    case AdapterKind::Command:
        return !argument.isEmpty();
    case AdapterKind::Device:
    case AdapterKind::StandardInput:
        return true;
    }
    return false;
}

AdapterName parseAdapterName(const QString& adapterName) {
    if (adapterName.isEmpty())
        return {};
    if (adapterName.startsWith(kCaptureFilePrefix))
        return {AdapterKind::CaptureFile, adapterName.mid(kCaptureFilePrefix.size())};
    const QLatin1String command(kCommandAdapterPrefix);
    if (adapterName.startsWith(command))
        return {AdapterKind::Command, adapterName.mid(command.size())};
    if (adapterName == QLatin1String(kStandardInputAdapter))
        return {AdapterKind::StandardInput, {}};
    return {AdapterKind::Device, adapterName};
}

bool isCaptureFileAdapter(const QString& adapterName) {
    return parseAdapterName(adapterName).kind == AdapterKind::CaptureFile;
}

QString captureFilePath(const QString& adapterName) {
    const AdapterName name = parseAdapterName(adapterName);
    return name.kind == AdapterKind::CaptureFile ? name.argument : QString();
}

QString captureFileAdapterName(const QString& path) {
    return QString(kCaptureFilePrefix) + path;
}

bool isCommandAdapter(const QString& adapterName) {
    return parseAdapterName(adapterName).kind == AdapterKind::Command;
}

bool isStreamAdapter(const QString& adapterName) {
    return parseAdapterName(adapterName).isStream();
}

} // namespace qarsilo
