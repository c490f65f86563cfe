#pragma once

#include "gui/shell/view.h"

/// A view that captures, with Start and Stop on the view toolbar. The base
/// keeps the two commands and their buttons; the view says whether it
/// captures and how to start and stop.
class CCaptureView : public CView {
    Q_OBJECT
public:
    /// How the toolbar shows the two commands.
    enum class StartStop {
        Toggle, ///< one button: Start while stopped, Stop while capturing
        Both, ///< both buttons; Start stays offered while capturing (it re-reads the view's fields)
    };

    CCaptureView(int templateId, StartStop style, QList<ViewButton> extraButtons,
                 QWidget* parent = nullptr);

    bool onCommand(int command) final;
    bool isCommandEnabled(int command) const final;

    /// Whether the view captures now.
    virtual bool isCapturing() const = 0;
    /// Start and Stop, as the toolbar sends them; start() is false when
    /// nothing captures (the operator has been told why).
    virtual bool start() = 0;
    virtual void stop() = 0;

protected:
    /// The view's other commands.
    virtual bool onViewCommand(int command);
    virtual bool isViewCommandEnabled(int command) const;

    /// Shows Start or Stop (and the view's own buttons) as the capture now stands.
    void setButtons();

private:
    StartStop m_style;
    QList<ViewButton> m_extraButtons;
};
