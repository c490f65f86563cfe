#include "app/qarsilo_app.h"
#include "core/app/message_service.h"
#include "core/capture/native_path.h"
#include "gui/widgets/widget_message_service.h"

#include <QApplication>
#include <QCommandLineParser>
#include <climits>
#include <unistd.h>

namespace {

// The file argument as the file system spells it: QApplication's arguments
// lose bytes that are not UTF-8, argv (without Qt's own options, which the
// application object took out) keeps them.
QString capturePathArgument(int argc, char* argv[]) {
    QString path;
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        // The standard input and "pipe:COMMAND" are streams, not files.
        if (arg == "-" || arg.startsWith("pipe:"))
            return QString::fromLocal8Bit(arg);
        if (arg == "--" && i + 1 < argc) {
            path = qarsilo::fileNameFromNative(QByteArray(argv[i + 1]));
            break;
        }
        if (!arg.startsWith('-')) {
            path = qarsilo::fileNameFromNative(arg);
            break;
        }
    }
    if (path.isEmpty() || path.startsWith(QLatin1Char('/')))
        return path;
    char cwd[PATH_MAX];
    if (!::getcwd(cwd, sizeof cwd))
        return path;
    return qarsilo::fileNameFromNative(QByteArray(cwd)) + QLatin1Char('/') + path;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("qarsilo"));
    QApplication::setApplicationName(QStringLiteral("qarsilo"));
    QApplication::setApplicationVersion(QStringLiteral(QARSILO_VERSION_TEXT));

    qarsilo::WidgetMessageService messages;
    qarsilo::MessageService::install(&messages);

    QCommandLineParser options;
    options.setApplicationDescription(
        QStringLiteral("qarsilo network monitor: packet analyzer, statistics, charts, "
                       "trace and network address book."));
    options.addHelpOption();
    options.addVersionOption();
    options.addPositionalArgument(QStringLiteral("file"),
                                  QStringLiteral("A capture file (pcap or pcapng) to open in "
                                                 "the packet analyzer; - reads a pcap stream "
                                                 "from the standard input, pipe:COMMAND from "
                                                 "a command's output."),
                                  QStringLiteral("[file]"));
    options.process(application);

    CqarsiloApp::Environment env = CqarsiloApp::defaultEnvironment();
    if (!options.positionalArguments().isEmpty())
        env.captureFile = capturePathArgument(argc, argv);
    CqarsiloApp app(env);
    if (!app.initInstance())
        return 1;
    const int rc = QApplication::exec();
    qarsilo::MessageService::install(nullptr);
    return rc;
}
