#pragma once

#include "gui/shell/view.h"

#include <QList>
#include <QSet>
#include <QStringList>

namespace qarsilo::test {

/// A view host that keeps what views tell it, for testing one view without
/// a whole main frame.
class FakeViewHost : public ViewHost {
public:
    void setViewButtons(const QList<ViewButton>& b) override { buttons = b; }
    void setLinkSpeedText(const QString& text) override { linkSpeed = text; }
    void setViewStatusText(const QString& text) override { viewStatus = text; }
    void setCaptureFilters(const QStringList& filters, int changeCommand) override {
        captureFilters = filters;
        filterCommand = changeCommand;
        ++captureFilterCalls;
    }
    void showStatusMessage(const QString& text, int) override { messages << text; }
    bool hasView(int templateId) const override { return views.contains(templateId); }
    void switchToViewLater(int templateId) override { switches << templateId; }
    void switchToViewAndStartLater(int templateId) override { startedSwitches << templateId; }
    void showFramesInAnalyzerLater(const QString& displayFilter) override {
        analyzerFilters << displayFilter;
    }

    /// The commands of the toolbar buttons, in order.
    QList<int> buttonCommands() const {
        QList<int> out;
        for (const ViewButton& b : buttons)
            out << b.command;
        return out;
    }

    QList<ViewButton> buttons;
    QString linkSpeed;
    QString viewStatus;
    QStringList messages;
    QStringList captureFilters; ///< the filters last shown in the capture filter pane
    int filterCommand = 0;      ///< the command a click on that pane sends
    int captureFilterCalls = 0;
    QSet<int> views;             ///< the views hasView() reports
    QList<int> switches;         ///< the switches asked for, in order
    QList<int> startedSwitches;  ///< the same, with Start given to the new view
    QStringList analyzerFilters; ///< the display filters the analyzer was asked to show
};

} // namespace qarsilo::test
