#include "app/qarsilo_app.h"
#include "core/app/message_service.h"
#include "gui/widgets/widget_message_service.h"

#include <QApplication>
#include <QCommandLineParser>

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
        env.captureFile = CqarsiloApp::captureArgument(argc, argv);
    CqarsiloApp app(env);
    if (!app.initInstance())
        return 1;
    const int rc = QApplication::exec();
    qarsilo::MessageService::install(nullptr);
    return rc;
}
