#include "support/scripted_message_service.h"

#include <QTest>

namespace qarsilo::test {

ScriptedMessageService::ScriptedMessageService() {
    MessageService::install(this);
}

ScriptedMessageService::~ScriptedMessageService() {
    MessageService::install(nullptr);
}

MessageService::Answer ScriptedMessageService::show(const QString& text, const QString& caption,
                                                    Icon icon, Buttons buttons) {
    m_shown.append({text, caption, icon, buttons});
    if (buttons == Buttons::Ok)
        return Answer::Ok;
    if (m_answers.isEmpty()) {
        ++m_unanswered;
        QTest::qFail("a question was asked that the test did not script", __FILE__, __LINE__);
        return buttons == Buttons::YesNo ? Answer::No : Answer::Cancel;
    }
    return m_answers.dequeue();
}

} // namespace qarsilo::test
