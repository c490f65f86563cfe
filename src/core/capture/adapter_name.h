#pragma once

#include <QString>

#include <cstdint>

namespace qarsilo {

/// What an adapter name selects. Names are case-sensitive: "File:x" is a device.
enum class AdapterKind : std::uint8_t {
    None,          ///< the empty name: no adapter selected
    Device,        ///< a live device, the name as libpcap knows it
    CaptureFile,   ///< "file:PATH"
    Command,       ///< "pipe:COMMAND": the pcap stream COMMAND writes
    StandardInput, ///< "-": the pcap stream on the standard input
};

/// An adapter name taken apart: its kind and what follows the prefix (the
/// path, the command, or the whole device name; empty for None and "-").
struct AdapterName {
    AdapterKind kind = AdapterKind::None;
    QString argument;

    bool isStream() const {
        return kind == AdapterKind::Command || kind == AdapterKind::StandardInput;
    }
    /// False for the empty name and for a bare "file:" or "pipe:".
    bool selectsSource() const;
    bool operator==(const AdapterName&) const = default;
};

/// Adapter names of the form "pipe:COMMAND" read the pcap stream COMMAND
/// writes on its standard output (run by /bin/sh in a process group of its own).
inline constexpr const char* kCommandAdapterPrefix = "pipe:";
/// The adapter name that reads a pcap stream from the standard input.
inline constexpr const char* kStandardInputAdapter = "-";

/// The prefix decides, nothing else: a "pipe:" name is a command even when a
/// file of that name exists.
AdapterName parseAdapterName(const QString& adapterName);

bool isCaptureFileAdapter(const QString& adapterName);
/// The path of a "file:" adapter name (empty for live adapters).
QString captureFilePath(const QString& adapterName);
/// The adapter name that selects the capture file at `path`.
QString captureFileAdapterName(const QString& path);
bool isCommandAdapter(const QString& adapterName);
/// A stream source: a "pipe:" command or the standard input.
bool isStreamAdapter(const QString& adapterName);

/// The adapter name an AdapterName stands for (the inverse of parseAdapterName).
QString adapterNameText(const AdapterName& name);

/// A SOURCE argument of the command line (or of `qarsilo FILE`) taken apart.
/// Unlike a stored adapter name, an argument that names an existing file is
/// always that file, whatever its spelling: `for f in *; do ... "$f"` must
/// never run a command a hostile file name spells. "-" stays the standard
/// input. Otherwise "file:PATH" is a file, "pipe:COMMAND" a command, anything
/// with a slash or a capture-file suffix a file, and the rest a device.
struct SourceArgument {
    AdapterName name;
    /// The argument spelled a command ("pipe:...") but names an existing file,
    /// which is read instead; the caller says so (commandNotRunMessage).
    bool commandNotRun = false;
};
SourceArgument parseSourceArgument(const QString& source, bool fileExists);
/// parseSourceArgument with the file system asked whether `source` exists.
SourceArgument parseSourceArgument(const QString& source);
/// Why a "pipe:" argument was read as a file and its command not run.
QString commandNotRunMessage(const QString& source);

} // namespace qarsilo
