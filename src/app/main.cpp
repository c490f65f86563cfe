#include "shell/qarsilo_app.h"
#include "ui/message_service.h"
#include "ui/widget_message_service.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>

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
                                                 "the packet analyzer."),
                                  QStringLiteral("[file]"));
    options.process(application);

    CqarsiloApp::Environment env = CqarsiloApp::defaultEnvironment();
    if (!options.positionalArguments().isEmpty())
        env.captureFile = QFileInfo(options.positionalArguments().first()).absoluteFilePath();
    CqarsiloApp app(env);
    if (!app.initInstance())
        return 1;
    const int rc = QApplication::exec();
    qarsilo::MessageService::install(nullptr);
    return rc;
}
