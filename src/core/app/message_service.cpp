#include "core/app/message_service.h"

#include <cstdio>

namespace qarsilo {

namespace {
StderrMessageService g_fallback;
MessageService* g_service = nullptr;
} // namespace

MessageService::~MessageService() = default;

MessageService& MessageService::instance() {
    return g_service ? *g_service : g_fallback;
}

bool MessageService::writesToStandardError() {
    return g_service == nullptr;
}

void MessageService::install(MessageService* service) {
    g_service = service;
}

QString MessageService::applicationTitle() {
    return QStringLiteral("qarsilo");
}

void MessageService::message(const QString& text, const QString& caption, Icon icon) {
    instance().show(text, caption.isEmpty() ? applicationTitle() : caption, icon, Buttons::Ok);
}

bool MessageService::question(const QString& text, const QString& caption) {
    return instance().show(text, caption.isEmpty() ? applicationTitle() : caption, Icon::Question,
                           Buttons::YesNo) == Answer::Yes;
}

MessageService::Answer StderrMessageService::show(const QString& text, const QString& caption, Icon,
                                                  Buttons buttons) {
    std::fprintf(stderr, "%s: %s\n", qPrintable(caption), qPrintable(text));
    switch (buttons) {
    case Buttons::Ok:
        return Answer::Ok;
    case Buttons::OkCancel:
        return Answer::Cancel;
    case Buttons::YesNo:
        return Answer::No;
    }
    return Answer::Ok;
}

} // namespace qarsilo
