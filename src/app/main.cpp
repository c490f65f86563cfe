#include "shell/qarsilo_app.h"
#include "ui/message_service.h"
#include "ui/widget_message_service.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("qarsilo"));
    QApplication::setApplicationName(QStringLiteral("qarsilo"));
    QApplication::setApplicationVersion(QStringLiteral(QARSILO_VERSION_TEXT));

    qarsilo::WidgetMessageService messages;
    qarsilo::MessageService::install(&messages);

    CqarsiloApp app;
    if (!app.initInstance())
        return 1;
    const int rc = QApplication::exec();
    qarsilo::MessageService::install(nullptr);
    return rc;
}
