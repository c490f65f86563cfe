#pragma once

#include "core/app/message_service.h"

#include <QList>
#include <QQueue>

namespace qarsilo::test {

/// Records every message and answers from a script; installs itself for its
/// lifetime. A question without a scripted answer fails the running test
/// instead of blocking.
class ScriptedMessageService final : public MessageService {
public:
    struct Shown {
        QString text;
        QString caption;
        Icon icon;
        Buttons buttons;
    };

    ScriptedMessageService();
    ~ScriptedMessageService() override;

    Answer show(const QString& text, const QString& caption, Icon icon, Buttons buttons) override;

    /// Queue the answer to the next message with more than an OK button.
    void answerNext(Answer answer) { m_answers.enqueue(answer); }

    const QList<Shown>& shown() const { return m_shown; }
    void clear() { m_shown.clear(); }
    int unansweredQuestions() const { return m_unanswered; }

private:
    QList<Shown> m_shown;
    QQueue<Answer> m_answers;
    int m_unanswered = 0;
};

} // namespace qarsilo::test
