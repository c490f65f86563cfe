#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QWidget>

/// One button of the view toolbar: the command it sends and the image it shows.
struct ViewButton {
    int command;
    int image;
};

/// What a view may ask of the window that shows it: the view toolbar, the
/// status bar's panes, and a switch to another view. The main frame is one;
/// tests give views a small one of their own.
class ViewHost {
public:
    virtual ~ViewHost() = default;
    /// The view toolbar shows these buttons, in order.
    virtual void setViewButtons(const QList<ViewButton>& buttons) = 0;
    /// The status bar's link speed pane.
    virtual void setLinkSpeedText(const QString& text) = 0;
    /// A permanent status bar pane of the view's own (frames stored, shown, dropped).
    virtual void setViewStatusText(const QString& text) = 0;
    /// The status bar's capture filter pane: the filter of each capture the
    /// view runs, in slot order (an empty one takes every frame). A click on
    /// the pane sends `changeCommand` to the view when it is not 0 (the
    /// view's own command that sets the filter). Shown until the next switch.
    virtual void setCaptureFilters(const QStringList& filters, int changeCommand = 0) = 0;
    /// A message in the status bar's first pane for a while, then "Ready" again
    /// (at once for an empty text).
    virtual void showStatusMessage(const QString& text, int milliseconds = 5000) = 0;
    /// Whether the host can show views of that number.
    virtual bool hasView(int templateId) const = 0;
    /// Replaces the calling view by a new view of that number once the
    /// current event has been handled (the switch destroys the caller).
    virtual void switchToViewLater(int templateId) = 0;
    /// The same, then the new view gets Start as from its toolbar button.
    virtual void switchToViewAndStartLater(int templateId) = 0;
    /// Switches to the packet analyzer, as switchToViewLater, and sets its
    /// display filter (libpcap's language) to `displayFilter`.
    virtual void showFramesInAnalyzerLater(const QString& displayFilter) = 0;
};

/// How the capture filter pane words the filters of a view's captures: each
/// distinct one, "; " between them, or "none" when every capture takes every frame.
inline QString captureFilterText(const QStringList& filters) {
    QStringList shown;
    for (const QString& f : filters)
        if (!f.trimmed().isEmpty() && !shown.contains(f.trimmed()))
            shown << f.trimmed();
    return shown.isEmpty() ? QStringLiteral("none") : shown.join(QStringLiteral("; "));
}

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

    /// Runs once, after the previous view is gone: remembers the host, then
    /// lets the view set the toolbar and status texts and start its work.
    void initialUpdate(ViewHost* host);

    /// Commands of the frame's view toolbar (Start, Stop, Bar Graph, ...).
    /// Returns true when the view handled the command.
    virtual bool onCommand(int command);
    /// Whether the view handles `command` now. Commands a view does not
    /// handle are disabled.
    virtual bool isCommandEnabled(int command) const;
    /// Views that show frames take a display filter from another view;
    /// false when the view has none or the filter does not compile.
    virtual bool applyDisplayFilterFromHost(const QString& expression);

protected:
    /// The view's part of the initial update; host() is set.
    virtual void onInitialUpdate();
    /// The window that shows the view; null before the initial update (and
    /// for a view made on its own).
    ViewHost* host() const { return m_host; }
    /// Forgets the host (a view being destroyed while its frame goes too).
    void detachHost() { m_host = nullptr; }

private:
    int m_templateId;
    ViewHost* m_host = nullptr;
};
