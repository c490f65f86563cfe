#pragma once

#include "core/app/message_service.h"

namespace qarsilo {

/// Shows messages as modal message boxes over the active window.
class WidgetMessageService final : public MessageService {
public:
    Answer show(const QString& text, const QString& caption, Icon icon, Buttons buttons) override;
};

} // namespace qarsilo
