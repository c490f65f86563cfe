#include "core/capture/adapter_name.h"
#include "core/capture/native_path.h"

#include <sys/stat.h>

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

QString adapterNameText(const AdapterName& name) {
    switch (name.kind) {
    case AdapterKind::None:
        return {};
    case AdapterKind::Device:
        return name.argument;
    case AdapterKind::CaptureFile:
        return captureFileAdapterName(name.argument);
    case AdapterKind::Command:
        return QLatin1String(kCommandAdapterPrefix) + name.argument;
    case AdapterKind::StandardInput:
        return QLatin1String(kStandardInputAdapter);
    }
    return {};
}

SourceArgument parseSourceArgument(const QString& source, bool fileExists) {
    if (source == QLatin1String(kStandardInputAdapter))
        return {{AdapterKind::StandardInput, {}}, false};
    if (fileExists)
        return {{AdapterKind::CaptureFile, source}, isCommandAdapter(source)};
    const AdapterName name = parseAdapterName(source);
    if (name.kind != AdapterKind::Device)
        return {name, false};
    if (source.contains(QLatin1Char('/')) || source.endsWith(QLatin1String(".pcap")) ||
        source.endsWith(QLatin1String(".pcapng")) || source.endsWith(QLatin1String(".cap")))
        return {{AdapterKind::CaptureFile, source}, false};
    return {name, false};
}

SourceArgument parseSourceArgument(const QString& source) {
    // Names are checked as the file system holds them (not all are UTF-8).
    struct stat st {};
    const bool exists = !source.isEmpty() && ::stat(nativeFileName(source).constData(), &st) == 0;
    return parseSourceArgument(source, exists);
}

QString commandNotRunMessage(const QString& source) {
    return QStringLiteral("'%1' is the name of an existing file: it is read as that file and no "
                          "command is run (to run the command, rename or move the file)")
        .arg(displayFileName(source));
}

} // namespace qarsilo
