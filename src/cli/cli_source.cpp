#include "capture/capture_session.h"
#include "capture/native_path.h"
#include "cli/cli_commands.h"
#include "settings/adapter_list.h"

#include <sys/stat.h>

using namespace qarsilo;

QString sourceAdapter(const QString& source) {
    if (isCaptureFileAdapter(source) || isStreamAdapter(source))
        return source;
    // Names are checked as the file system holds them (not all are UTF-8).
    struct stat st {};
    if (::stat(nativeFileName(source).constData(), &st) == 0 || source.contains(QLatin1Char('/')) ||
        source.endsWith(QLatin1String(".pcap")) || source.endsWith(QLatin1String(".pcapng")) ||
        source.endsWith(QLatin1String(".cap")))
        return captureFileAdapterName(source);
    return source;
}
