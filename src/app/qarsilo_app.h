#pragma once

#include "app/builtin_views.h"
#include "core/app/settings_store.h"

#include <QObject>
#include <functional>
#include <memory>

class CMainFrame;
class QWidget;

/// The application object: start-up, the main frame, and the state that lives
/// for the whole run.
class CqarsiloApp : public QObject {
    Q_OBJECT
public:
    /// What start-up uses from the outside world; tests replace the parts.
    struct Environment {
        qarsilo::SettingsStore settings;
        ViewRegistry views = builtinViews();
        /// Runs the Select adapter dialog modally over `parent`.
        std::function<void(QWidget* parent)> runAdapterDialog;
        /// The device to use when no adapter was chosen.
        std::function<QString()> defaultDevice;
        /// A capture file named on the command line: shown in the analyzer.
        QString captureFile;
    };

    /// The capture named on the command line (`qarsilo FILE`) as the file
    /// system spells it, made absolute; "-" and "pipe:COMMAND" come back as
    /// stream adapter names, unless a file of that name exists (a file name
    /// never runs a command). Empty when none is named.
    static QString captureArgument(int argc, char* argv[]);

    /// This machine: the settings file, the real dialog and libpcap's device.
    static Environment defaultEnvironment();

    CqarsiloApp();
    explicit CqarsiloApp(Environment env);
    ~CqarsiloApp() override;

    /// Creates the frame, settles the adapter and shows the window.
    bool initInstance();
    CMainFrame* mainFrame() const { return m_frame.get(); }

private:
    Environment m_env;
    std::unique_ptr<CMainFrame> m_frame;
};
