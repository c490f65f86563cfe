#include "gui/shell/capture_view.h"

#include "core/app/commands.h"

using namespace qarsilo;

CCaptureView::CCaptureView(int templateId, StartStop style, QList<ViewButton> extraButtons,
                           QWidget* parent)
    : CView(templateId, parent)
    , m_style(style)
    , m_extraButtons(std::move(extraButtons)) {}

bool CCaptureView::onCommand(int command) {
    if (command == cmd::Start || command == cmd::Stop) {
        if (!isCommandEnabled(command))
            return false;
        if (command == cmd::Start)
            start();
        else
            stop();
        return true;
    }
    return onViewCommand(command);
}

bool CCaptureView::isCommandEnabled(int command) const {
    if (command == cmd::Start)
        return m_style == StartStop::Both || !isCapturing();
    if (command == cmd::Stop)
        return isCapturing();
    return isViewCommandEnabled(command);
}

bool CCaptureView::onViewCommand(int) {
    return false;
}

bool CCaptureView::isViewCommandEnabled(int) const {
    return false;
}

void CCaptureView::setButtons() {
    if (!host())
        return;
    QList<ViewButton> buttons;
    if (m_style == StartStop::Both)
        buttons = {{cmd::Start, viewimage::Start}, {cmd::Stop, viewimage::Stop}};
    else if (isCapturing())
        buttons = {{cmd::Stop, viewimage::Stop}};
    else
        buttons = {{cmd::Start, viewimage::Start}};
    host()->setViewButtons(buttons + m_extraButtons);
}
