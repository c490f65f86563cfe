#pragma once

#include <QWidget>

class CMainFrame;

/// A view of the main frame's client area. The frame shows exactly one at a
/// time; a view lives from the switch that shows it until the next switch.
/// Destroying a view stops whatever it captures.
class CView : public QWidget {
    Q_OBJECT
public:
    explicit CView(int templateId, QWidget* parent = nullptr);
    ~CView() override;

    /// The number by which the frame switches to this kind of view.
    int templateId() const { return m_templateId; }

    /// Runs once, after the previous view is gone: the view sets the frame's
    /// view toolbar and status texts and starts its work here.
    virtual void onInitialUpdate(CMainFrame* frame);

    /// Commands of the frame's view toolbar (Start, Stop, Bar Graph, ...).
    /// Returns true when the view handled the command.
    virtual bool onCommand(int command);
    /// Whether the view handles `command` now. Commands a view does not
    /// handle are disabled.
    virtual bool isCommandEnabled(int command) const;

private:
    int m_templateId;
};
