#pragma once

#include <QString>

namespace qarsilo {

/// Every message box and question of the program goes through this service.
/// The desktop program installs one that shows modal boxes; tests install a
/// scripted one that records the texts and answers as told; the command-line
/// tool keeps the default, which writes to the standard error stream.
class MessageService {
public:
    enum class Icon { None, Information, Warning, Error, Question };
    enum class Buttons { Ok, OkCancel, YesNo };
    enum class Answer { Ok, Cancel, Yes, No };

    virtual ~MessageService();

    /// Shows `text` with `caption` (never empty here) and returns the answer.
    virtual Answer show(const QString& text, const QString& caption, Icon icon,
                        Buttons buttons) = 0;

    /// The service in use.
    static MessageService& instance();
    /// Installs `service` (not owned); nullptr restores the default.
    static void install(MessageService* service);

    /// The caption used when a message has none of its own.
    static QString applicationTitle();

    /// A message with an OK button.
    static void message(const QString& text, const QString& caption = {}, Icon icon = Icon::None);
    /// A question with Yes and No buttons; true for Yes.
    static bool question(const QString& text, const QString& caption = {});
    /// True while no service is installed: messages go to the standard error stream.
    static bool writesToStandardError();
};

/// Writes messages to the standard error stream; questions are answered No,
/// so nothing is changed without a person agreeing to it.
class StderrMessageService final : public MessageService {
public:
    Answer show(const QString& text, const QString& caption, Icon icon, Buttons buttons) override;
};

} // namespace qarsilo
