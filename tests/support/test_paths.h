#pragma once

#include <QDir>
#include <QString>

namespace qarsilo::test {

/// The captures written by other projects, kept byte for byte (see SOURCES.md there).
inline QString pcapDir() {
    return QDir::cleanPath(QStringLiteral(QARSILO_PCAP_DIR));
}

/// Small captures and files that the tests keep.
inline QString testDataDir() {
    return QStringLiteral(QARSILO_TEST_DATA_DIR);
}

/// The built command-line tool.
inline QString cliPath() {
    return QStringLiteral(QARSILO_CLI_PATH);
}

} // namespace qarsilo::test
